#pragma once

#include "base/fd.h"
#include "board/e1_cas.h"
#include "control/ctrl_server.h"
#include "runtime/event.h"
#include "runtime/timer.h"

#include <array>
#include <cstdint>
#include <iosfwd>

// The board's four E1 framers and their channel-associated signalling (CAS).
//
// From the first controller connect on, the framers' synchronization status is read from
// "/dev/maintenance" once a second and each trunk is reported as a trunkStatus of type e1
// (the poll goes on after a disconnect). trunkCfg sets a trunk's bit of the transmit-clock
// (TCLK) mask (slave) or clears it (master). Slotless ioctl commands of the alternative cas
// open, close, set and read CAS bits on "/dev/e1-cas"; the results and every change of
// received bits the driver reports go to the controller as cas signals. Driver failures
// reach the controller inside those reports, never as an error cause. Both devices open at
// first use; a failed open is tried again at the next. A CAS device that hangs up is closed
// and its trunks count as closed: the next open of a trunk goes to the new descriptor.
class E1Ctl : public CtrlSrv::Service {
public:
    static constexpr int kTrunks = 4;
    static constexpr unsigned kPollMs = 1000;

    // The process's service, built on first call.
    static E1Ctl& instance();

    E1Ctl();
    ~E1Ctl() override;

    void OnConnect() override;
    void OnDisconnect() override {}
    bool OnCommand(ZGCP::Command const& command) override;

    void SetMode(ZGCP::TrunkCfg const& cfg);
    void UpdateTclk();
    // One trunkStatus per trunk.
    void SendStatus();
    // Opens the maintenance device when it is closed.
    bool IsOpen();
    // Opens the CAS device when it is closed and polls it for events.
    bool CheckOpenCas();
    void SetTimer();
    void OnCheckStatus(Timer*);
    void OnUpdateCas(int fd, short revents);
    void HandleCas(ZGCP::IoctlParams const& params);
    void HandleCasOpen(cas_channel const& ch, int value);
    void HandleCasClose(cas_channel const& ch);
    void HandleCasGet(cas_channel const& ch);
    void SendCASSignal(int path, int timeslot, int rx, int tx);
    void SendCASTrunkStatus(int trunk, int status);
    // The framers' clock source (not used by the flows of this service).
    void select_source(int source);
    static void Assign(ZGCP::CasChannel& to, cas_channel const& from);

    std::uint32_t tclk() const { return tclk_; }
    bool casOpen(int trunk) const { return casOpen_[std::size_t(trunk)] != 0; }
    bool polling() const { return timer_.is_running(); }
    void PutHeader(std::ostream& os) const;

private:
    // A request on the CAS device: its result, -1 on failure.
    int casRequest(unsigned long number, void* arg);
    // The get request; reports the bits or the failure.
    void reportChannel(cas_channel const& ch);

    Fd maintenance_;
    Timer timer_;
    Fd cas_;
    Event casEvent_;
    std::array<std::int32_t, kTrunks> casOpen_{};
    std::uint32_t tclk_ = 0;
};
