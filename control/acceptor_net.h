#pragma once

#include "control/service.h"
#include "runtime/accept_pause.h"
#include "runtime/event.h"
#include "base/fd.h"
#include "runtime/timer.h"

#include <sys/socket.h>

#include <cstdint>
#include <functional>

namespace Control {

// The listening side of a framed message connection over TCP: listens on 0.0.0.0 and the
// port (SO_REUSEADDR, backlog 1) and takes one peer at a time; a peer that connects while
// one is connected is accepted and closed at once. A bind that fails is retried every
// 5000 ms, and so is a listen that fails. Out of descriptors, it pauses (AcceptPause).
class AcceptorNet : public ServiceNet {
public:
    static constexpr unsigned int bind_retry_ms = 5000;

    AcceptorNet();
    explicit AcceptorNet(int port);
    AcceptorNet(int port, bool verbose);
    ~AcceptorNet() override;

    // Binds and listens; on failure arms the retry.
    void BindSocket();
    void OnTimeout(Timer*) { BindSocket(); }
    void OnSocketEvent(int fd, short revents);

    unsigned short port() const { return port_; }
    // Whether the listening socket is bound, listening and watched.
    bool listening() const { return listenEvent_.IsActive(); }

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override {}
    // A peer was refused while one is connected.
    virtual void ImplRefuseConnection() {}
    // A peer was taken (fd is the connected socket).
    virtual void ImplConnected(Fd const&) {}

private:
    // A new listening socket with SO_REUSEADDR; false (logged) when it cannot be made.
    bool OpenSocket();
    void RetryLater();
    // Logs what failed with the error text, closes the socket and retries with a new one.
    void SetUpFailed(char const* what);

    std::uint16_t port_;
    Fd listenFd_;
    Timer bindTimer_;
    Event listenEvent_;
    AcceptPause acceptPause_{listenEvent_};
};

// The controller's listener: an acceptor that probes the connected peer every 1000 ms and
// drops it when its TCP state is not established or a socket error is pending. A refused
// knock switches the live connection to fast keep-alive and drops it when its congestion
// state stays non-zero for two checks in a row.
class AcceptorNetCheckConnection : public AcceptorNet {
public:
    static constexpr unsigned int check_period_ms = 1000;

    struct ProbeState {
        enum Type { Idle = 0, CheckConnection = 1 };
    };

    // Reads TCP_INFO of a socket into info (length in, bytes read out); getsockopt's result.
    typedef std::function<int(int fd, void* info, socklen_t* length)> TcpInfoReader;

    AcceptorNetCheckConnection();
    explicit AcceptorNetCheckConnection(int port);
    AcceptorNetCheckConnection(int port, bool verbose);
    ~AcceptorNetCheckConnection() override;

    void CheckConnection();
    void SetupKeepAlive(bool fast);
    void OnCheckConnectionTimeout(Timer*) { CheckConnection(); }

    ProbeState::Type probe_state() const { return probeState_; }
    // Replaces the TCP_INFO query (tests drive the congestion path through it).
    void SetTcpInfoReader(TcpInfoReader reader) { tcpInfo_ = std::move(reader); }

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override;
    void ImplRefuseConnection() override;
    void ImplConnected(Fd const& fd) override;

private:
    // The probe belongs to one connection: closing it lets the peer see the close.
    void DropProbe();

    Timer checkTimer_;
    Fd probe_;
    ProbeState::Type probeState_ = ProbeState::Idle;
    std::int32_t strikes_ = 0;
    TcpInfoReader tcpInfo_;
};

}  // namespace Control
