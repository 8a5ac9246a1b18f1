#include "tests/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace testsupport {

sockaddr_in loopbackAddress(unsigned short port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    return sa;
}

namespace {

// A socket bound to 127.0.0.1 at the port, a free one when 0; the port is stored.
Fd boundSocket(unsigned short& port)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in sa = loopbackAddress(port);
    socklen_t size = sizeof sa;
    if (!fd.is_valid() || ::bind(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::getsockname(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &size) != 0) {
        port = 0;
        return Fd();
    }
    port = ntohs(sa.sin_port);
    return fd;
}

}  // namespace

LoopbackListener::LoopbackListener(int backlog, unsigned short port) : port_(port), fd_(boundSocket(port_))
{
    if (fd_.is_valid())
        ::listen(fd_.lowlevel_fd(), backlog);
}

std::string LoopbackListener::address() const { return "127.0.0.1:" + std::to_string(port_); }

Fd LoopbackListener::accept()
{
    int fd;
    do
        fd = ::accept(fd_.lowlevel_fd(), nullptr, nullptr);
    while (fd < 0 && errno == EINTR);
    return Fd(fd);
}

Fd LoopbackListener::accept(int timeoutMs)
{
    pollfd p{fd_.lowlevel_fd(), POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1)
        return Fd();
    return accept();
}

std::string readFor(Fd const& socket, std::size_t n, int timeoutMs)
{
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string got;
    while (got.size() < n) {
        auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{socket.lowlevel_fd(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) != 1)
            break;
        char buffer[4096];
        ssize_t const r = ::recv(socket.lowlevel_fd(), buffer, std::min(sizeof buffer, n - got.size()), MSG_DONTWAIT);
        if (r <= 0)
            break;
        got.append(buffer, std::size_t(r));
    }
    return got;
}

Fd LoopbackListener::connect() const
{
    Fd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in sa = loopbackAddress(port_);
    if (::connect(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
        return Fd();
    return fd;
}

LoopbackUdp::LoopbackUdp(char const* address, unsigned short port, bool shared)
    : fd_(::socket(AF_INET, SOCK_DGRAM, 0))
{
    int const on = 1;
    sockaddr_in sa = loopbackAddress(port);
    socklen_t size = sizeof sa;
    if (!fd_.is_valid() || ::inet_pton(AF_INET, address, &sa.sin_addr) != 1 ||
        (shared && ::setsockopt(fd_.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) ||
        ::bind(fd_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::getsockname(fd_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &size) != 0) {
        fd_.close();
        return;
    }
    port_ = ntohs(sa.sin_port);
}

std::string LoopbackUdp::receive(int timeoutMs, unsigned short* from)
{
    pollfd p{fd_.lowlevel_fd(), POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1)
        return "";
    char buf[2048];
    sockaddr_in sa{};
    socklen_t size = sizeof sa;
    ssize_t const n = ::recvfrom(fd_.lowlevel_fd(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&sa), &size);
    if (n <= 0)
        return "";
    if (from != nullptr)
        *from = ntohs(sa.sin_port);
    return std::string(buf, std::size_t(n));
}

std::pair<Fd, Fd> tcpPair()
{
    LoopbackListener listener(1);
    Fd client = listener.connect();
    if (!client.is_valid())
        return {};
    Fd server = listener.accept();
    client.NonBlock();
    server.NonBlock();
    return {std::move(client), std::move(server)};
}

}  // namespace testsupport
