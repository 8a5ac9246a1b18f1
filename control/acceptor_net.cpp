#include "control/acceptor_net.h"

#include "base/errno.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace Control {

// AcceptorNet

AcceptorNet::AcceptorNet() : AcceptorNet(0) {}

AcceptorNet::AcceptorNet(int port) : AcceptorNet(port, true) {}

AcceptorNet::AcceptorNet(int port, bool verbose) : ServiceNet(verbose), port_(std::uint16_t(port))
{
    listenEvent_.Bind("AcceptorNet::OnSocketEvent", &AcceptorNet::OnSocketEvent, this);
}

AcceptorNet::~AcceptorNet()
{
    bindTimer_.reset();
    listenEvent_.Release();
}

bool AcceptorNet::OpenSocket()
{
    int const s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    Errno const error;
    listenFd_ = Fd(s);
    if (s < 0) {
        if (verbose())
            std::cerr << "can't create socket:" << error << std::endl;
        return false;
    }
    int on = 1;
    ::setsockopt(listenFd_.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    return true;
}

bool AcceptorNet::ImplActivate()
{
    if (!OpenSocket())
        return false;
    BindSocket();
    return true;
}

void AcceptorNet::ImplDeactivate()
{
    bindTimer_.reset();
    acceptPause_.Cancel();
    listenEvent_.Release();
    listenFd_.close();
}

void AcceptorNet::RetryLater() { bindTimer_.set(bind_retry_ms, &AcceptorNet::OnTimeout, this); }

void AcceptorNet::SetUpFailed(char const* what)
{
    Errno const error;
    if (verbose())
        std::cerr << what << error << std::endl;
    listenFd_.close();
    RetryLater();
}

void AcceptorNet::BindSocket()
{
    // A socket that failed to listen was closed: a retry starts with a fresh one.
    if (!listenFd_.is_valid() && !OpenSocket()) {
        RetryLater();
        return;
    }
    INet4::Addr any;
    any.port(port_);
    if (::bind(listenFd_.lowlevel_fd(), any, any.size()) != 0) {
        Errno const error;
        if (verbose())
            std::cerr << "can't bind to socket: \"" << error << "\"  waiting..." << std::endl;
        RetryLater();
        return;
    }
    if (::listen(listenFd_.lowlevel_fd(), 1) != 0) {
        SetUpFailed("can't listen socket: ");
        return;
    }
    if (!listenFd_.NonBlock()) {
        SetUpFailed("can't set socket to non block mode: ");
        return;
    }
    listenEvent_.Schedule(listenFd_, POLLIN);
}

void AcceptorNet::OnSocketEvent(int, short revents)
{
    if (!(revents & POLLIN))
        return;
    for (;;) {
        INet4::Addr peer;
        socklen_t length = peer.size();
        int const s = ::accept4(listenFd_.lowlevel_fd(), peer, &length, SOCK_CLOEXEC);
        int const error = errno;
        // Each accepted socket is closed at the end of its turn unless the stack holds a copy.
        Fd fd(s);
        if (!fd.is_valid()) {
            acceptPause_.Failed(error);
            return;
        }
        acceptPause_.Accepted();
        if (GetState() == State::Connected) {
            if (verbose())
                std::cerr << "refuse connection from " << peer << std::endl;
            ImplRefuseConnection();
            continue;
        }
        if (!fd.NonBlock()) {
            Errno const error;
            if (verbose())
                std::cerr << "can't set socket to non block mode: " << error << std::endl;
            continue;
        }
        if (verbose())
            std::cout << "new connection from " << peer << std::endl;
        Connected(fd, peer);
        ImplConnected(fd);
    }
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
            Disconnect();
            if (verbose())
                std::clog << "CheckConnectionState Idle" << std::endl;
        }
    }
    checkTimer_.set(check_period_ms, &AcceptorNetCheckConnection::OnCheckConnectionTimeout, this);
}

}  // namespace Control
