#include "control/acceptor_net.h"

#include "base/errno.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <iostream>

namespace Control {

// AcceptorNet

int ListenFamily<ServiceNet>::Bind(int fd, Address port)
{
    INet4::Addr any;
    any.port(port);
    return ::bind(fd, any, any.size());
}

int ListenFamily<ServiceNet>::Accept(int fd, Peer& peer)
{
    socklen_t length = peer.size();
    return ::accept4(fd, peer, &length, SOCK_CLOEXEC);
}

AcceptorNet::AcceptorNet() : AcceptorNet(0) {}

AcceptorNet::AcceptorNet(int port) : AcceptorNet(port, true) {}

AcceptorNet::AcceptorNet(int port, bool verbose)
    : Acceptor("AcceptorNet::OnSocketEvent", std::uint16_t(port), verbose)
{
}

// AcceptorNetCheckConnection

namespace {

int readTcpInfo(int fd, void* info, socklen_t* length) { return ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, info, length); }

// TCP states of the TCP_INFO record.
constexpr unsigned char tcp_established = 1;

}  // namespace

AcceptorNetCheckConnection::AcceptorNetCheckConnection() : AcceptorNetCheckConnection(0) {}

AcceptorNetCheckConnection::AcceptorNetCheckConnection(int port) : AcceptorNetCheckConnection(port, true) {}

AcceptorNetCheckConnection::AcceptorNetCheckConnection(int port, bool verbose)
    : AcceptorNet(port, verbose), tcpInfo_(readTcpInfo)
{
}

AcceptorNetCheckConnection::~AcceptorNetCheckConnection() { checkTimer_.reset(); }

bool AcceptorNetCheckConnection::ImplActivate()
{
    if (!AcceptorNet::ImplActivate())
        return false;
    CheckConnection();
    return true;
}

void AcceptorNetCheckConnection::ImplDeactivate()
{
    checkTimer_.reset();
    // A connection that is still up keeps its probe; one that has ended lets it go.
    if (GetState() != State::Connected)
        DropProbe();
    AcceptorNet::ImplDeactivate();
}

void AcceptorNetCheckConnection::ImplOnDisconnect() { DropProbe(); }

void AcceptorNetCheckConnection::DropProbe()
{
    probe_.close();
    probeState_ = ProbeState::Idle;
    strikes_ = 0;
}

void AcceptorNetCheckConnection::ImplConnected(Fd const& fd) { probe_ = fd; }

void AcceptorNetCheckConnection::ImplRefuseConnection()
{
    if (probeState_ != ProbeState::Idle)
        return;
    probeState_ = ProbeState::CheckConnection;
    strikes_ = 2;
    SetupKeepAlive(true);
    if (verbose())
        std::clog << "CheckConnectionState CheckConnection" << std::endl;
}

void AcceptorNetCheckConnection::SetupKeepAlive(bool fast)
{
    int const fd = probe_.lowlevel_fd();
    int const on = 1;
    int const idle = fast ? 1 : 7200;
    int const interval = fast ? 1 : 75;
    int const count = fast ? 3 : 9;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

void AcceptorNetCheckConnection::CheckConnection()
{
    if (GetState() == State::Connected) {
        bool close = false;
        unsigned char info[92] = {};
        socklen_t length = sizeof info;
        if (tcpInfo_(probe_.lowlevel_fd(), info, &length) == 0 && length >= 2) {
            if (info[0] != tcp_established) {
                if (verbose())
                    std::clog << "connection from " << GetAddr() << " closed: tcp socket change state." << std::endl;
                close = true;
            }
            if (probeState_ == ProbeState::CheckConnection) {
                if (info[1] != 0) {
                    if (strikes_ > 0)
                        --strikes_;
                    if (strikes_ <= 0) {
                        if (verbose())
                            std::clog << "connection from " << GetAddr() << " closed: tcp socket change ca_state."
                                      << std::endl;
                        close = true;
                    }
                } else {
                    probeState_ = ProbeState::Idle;
                    SetupKeepAlive(false);
                    if (verbose())
                        std::clog << "CheckConnectionState Idle" << std::endl;
                }
            }
        }
        int pending = 0;
        socklen_t pendingLength = sizeof pending;
        if (::getsockopt(probe_.lowlevel_fd(), SOL_SOCKET, SO_ERROR, &pending, &pendingLength) != 0 || pending != 0) {
            // The pending error is the one to show, not whatever errno holds.
            if (pending != 0)
                errno = pending;
            if (verbose())
                std::clog << "connection from " << GetAddr() << " closed: " << Errno() << std::endl;
            close = true;
        }
        if (close) {
            probeState_ = ProbeState::Idle;
            SetupKeepAlive(false);
            // What the controller sent before its end is still carried out.
            PeerGone("connection check");
            if (verbose())
                std::clog << "CheckConnectionState Idle" << std::endl;
        }
    }
    checkTimer_.set(check_period_ms, &AcceptorNetCheckConnection::OnCheckConnectionTimeout, this);
}

}  // namespace Control
