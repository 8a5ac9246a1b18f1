#pragma once

#include "control/ctrl_server.h"
#include "runtime/timer.h"

// Watches the controller's liveness: the first handler bound to the controller server, so
// every command that passes the server's checks restarts its timer; 120 s without one end
// the controller connection. It answers `ping`, which the controller sends in quiet times.
// The timer runs from the moment a connection is taken: a peer that never sends a valid
// command does not hold the only controller place for ever.
class HeartBeatCtl : public CtrlSrv::Service {
public:
    static constexpr unsigned int timeout_ms = 120000;

    static HeartBeatCtl& instance();

    void OnConnect() override { ResetTimeOut(); }
    void OnDisconnect() override { timer_.reset(); }
    bool OnCommand(ZGCP::Command const& command) override;

    void ResetTimeOut();
    void OnHeartbeatTimeout(Timer*);

    bool running() const { return timer_.is_running(); }

private:
    HeartBeatCtl() = default;

    Timer timer_;
};
