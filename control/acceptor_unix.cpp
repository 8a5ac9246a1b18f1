#include "control/acceptor_unix.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

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

bool ListenFamily<ServiceUnix>::Usable(Address const& path)
{
    sockaddr_un address;
    return UnixAddress(path, address);
}

int ListenFamily<ServiceUnix>::Bind(int fd, Address const& path)
{
    sockaddr_un address;
    UnixAddress(path, address);
    RemoveStaleSocket(path);
    return ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
}

int ListenFamily<ServiceUnix>::Accept(int fd, Peer& peer)
{
    sockaddr_un address;
    socklen_t length = sizeof address;
    int const s = ::accept4(fd, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
    if (s >= 0)
        peer = peerPath(address, length);
    return s;
}

AcceptorUnix::AcceptorUnix() : AcceptorUnix(std::string()) {}

AcceptorUnix::AcceptorUnix(std::string const& path) : Acceptor("AcceptorUnix::OnSocketEvent", path, true) {}

}  // namespace Control
