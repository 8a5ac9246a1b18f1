#pragma once

#include "base/fd.h"
#include "control/acceptor.h"
#include "control/service.h"
#include "runtime/inet4_addr.h"
#include "runtime/timer.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>

namespace Control {

// TCP: listens on 0.0.0.0 at the port (SO_REUSEADDR); a peer is its IPv4 address.
template <>
struct ListenFamily<ServiceNet> {
    typedef std::uint16_t Address;
    typedef INet4::Addr Peer;
    static constexpr int domain = AF_INET;
    static constexpr int protocol = IPPROTO_TCP;
    static constexpr bool reuse_address = true;
    static bool Usable(Address) { return true; }
    static int Bind(int fd, Address port);
    static int Accept(int fd, Peer& peer);
};

// The listening side of a framed message connection over TCP: listens on 0.0.0.0 and the
// port (SO_REUSEADDR, backlog 1) and takes one peer at a time (see Acceptor).
class AcceptorNet : public Acceptor<ServiceNet> {
public:
    AcceptorNet();
    explicit AcceptorNet(int port);
    AcceptorNet(int port, bool verbose);

    unsigned short port() const { return address(); }
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
