#include "control/acceptor_unix.h"

#include "base/errno.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <iostream>

namespace Control {

namespace {

// The path of a peer's socket as accept reports it; empty for a client without a name.
std::string peerPath(sockaddr_un const& peer, socklen_t length)
{
    std::size_t const offset = offsetof(sockaddr_un, sun_path);
    if (length <= offset)
        return std::string();
    std::size_t const most = std::min<std::size_t>(length - offset, sizeof peer.sun_path);
    return std::string(peer.sun_path, strnlen(peer.sun_path, most));
}

}  // namespace

AcceptorUnix::AcceptorUnix() : AcceptorUnix(std::string()) {}

AcceptorUnix::AcceptorUnix(std::string const& path) : path_(path)
{
    listenEvent_.Bind("AcceptorUnix::OnSocketEvent", &AcceptorUnix::OnSocketEvent, this);
}

AcceptorUnix::~AcceptorUnix()
{
    bindTimer_.reset();
    listenEvent_.Release();
}

bool AcceptorUnix::OpenSocket()
{
    int const s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    Errno const error;
    listenFd_ = Fd(s);
    if (s < 0 && verbose())
        std::cerr << "can't create socket:" << error << std::endl;
    return s >= 0;
}

bool AcceptorUnix::ImplActivate()
{
    sockaddr_un address;
    if (!UnixAddress(path_, address) || !OpenSocket())
        return false;
    BindSocket();
    return true;
}

void AcceptorUnix::ImplDeactivate()
{
    bindTimer_.reset();
    acceptPause_.Cancel();
    listenEvent_.Release();
    listenFd_.close();
}

void AcceptorUnix::RetryLater() { bindTimer_.set(bind_retry_ms, &AcceptorUnix::OnTimeout, this); }

void AcceptorUnix::SetUpFailed(char const* what)
{
    Errno const error;
    if (verbose())
        std::cerr << what << error << std::endl;
    listenFd_.close();
    RetryLater();
}

void AcceptorUnix::BindSocket()
{
    // A socket that failed to listen was closed: a retry starts with a fresh one.
    if (!listenFd_.is_valid() && !OpenSocket()) {
        RetryLater();
        return;
    }
    sockaddr_un address;
    UnixAddress(path_, address);
    RemoveStaleSocket(path_);
    if (::bind(listenFd_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
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

void AcceptorUnix::OnSocketEvent(int, short revents)
{
    if (!(revents & POLLIN))
        return;
    for (;;) {
        sockaddr_un peer;
        socklen_t length = sizeof peer;
        // Each accepted socket is closed at the end of its turn unless the stack holds a copy.
        Fd fd(::accept4(listenFd_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
        if (!fd.is_valid()) {
            acceptPause_.Failed(errno);
            return;
        }
        acceptPause_.Accepted();
        std::string const from = peerPath(peer, length);
        if (GetState() == State::Connected) {
            if (verbose())
                std::cerr << "refuse connection from " << from << std::endl;
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
            std::cout << "new connection from " << from << std::endl;
        Connected(fd, from);
        ImplConnected(fd);
    }
}

}  // namespace Control
