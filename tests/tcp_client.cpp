#include "tests/tcp_client.h"

#include "tests/loop_pump.h"
#include "tests/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <random>
#include <string>
#include <utility>

namespace testsupport {

namespace {

// Claims the port among the test processes of the machine (of its network): an abstract
// unix-domain socket named after it, bound until this process ends (its descriptor stays
// open), which no other process binds meanwhile. Nothing of it is on disk, and it is let go
// however the process ends.
bool claim(std::uint16_t port)
{
    int const fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // An abstract name: a NUL, then the name, not ended.
    std::string const name = "gw-test-port-" + std::to_string(port);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    name.copy(address.sun_path + 1, name.size());
    socklen_t const size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0)
        return true;
    ::close(fd);
    return false;
}

}  // namespace

std::uint16_t freePort(int type)
{
    // Below the kernel's range of ephemeral ports (32768 and up), so that no outgoing
    // connection takes the port as its own before the server binds it.
    static std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> pick(21000, 32000);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::uint16_t const port = std::uint16_t(pick(random));
        Fd s(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
        sockaddr_in a = loopbackAddress(port);
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && claim(port))
            return port;
    }
    return 0;
}

Bytes tpktFrame(Bytes const& body)
{
    std::size_t const length = body.size() + 4;
    Bytes frame(length);
    frame[0] = 3;
    frame[1] = 0;
    frame[2] = std::uint8_t(length >> 8);
    frame[3] = std::uint8_t(length & 0xFF);
    std::copy(body.begin(), body.end(), frame.begin() + 4);
    return frame;
}

bool TcpClient::connect(std::uint16_t port, int rcvbuf)
{
    received_.clear();
    fd_ = Fd(::socket(AF_INET, SOCK_STREAM, 0));
    if (rcvbuf > 0)
        ::setsockopt(fd_.lowlevel_fd(), SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in a = loopbackAddress(port);
    if (::connect(fd_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        fd_.close();
        return false;
    }
    // Every send leaves at once, so the server sees the cuts the test makes.
    int on = 1;
    ::setsockopt(fd_.lowlevel_fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return true;
}

void TcpClient::adopt(Fd fd)
{
    received_.clear();
    fd_ = std::move(fd);
}

bool TcpClient::send(Bytes const& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t const n = ::send(fd_.lowlevel_fd(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

int TcpClient::drain()
{
    std::uint8_t buf[4096];
    ssize_t const n = ::recv(fd_.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
        received_.insert(received_.end(), buf, buf + n);
        return 1;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return 0;
    return -1;
}

bool TcpClient::waitUntil(std::function<bool()> const& done, int timeoutMs)
{
    if (waiting_ == Waiting::Loop)
        return runUntil(done, timeoutMs);
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done())
            return true;
        auto const left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p{fd_.lowlevel_fd(), POLLIN, 0};
        ::poll(&p, 1, int(left));
    }
}

bool TcpClient::receive(std::size_t n, int timeoutMs)
{
    bool failed = false;
    waitUntil(
        [&] {
            while (!failed && received_.size() < n) {
                int const r = drain();
                if (r < 0)
                    failed = true;
                if (r <= 0)
                    break;
            }
            return failed || received_.size() >= n;
        },
        timeoutMs);
    return received_.size() >= n;
}

bool TcpClient::waitClosed(int timeoutMs)
{
    return waitUntil(
        [&] {
            int r;
            while ((r = drain()) > 0) {
            }
            return r < 0;
        },
        timeoutMs);
}

Bytes TcpClient::take(std::size_t n)
{
    if (n > received_.size())
        n = received_.size();
    Bytes head(received_.begin(), received_.begin() + std::ptrdiff_t(n));
    received_.erase(received_.begin(), received_.begin() + std::ptrdiff_t(n));
    return head;
}

void TcpClient::close(bool reset)
{
    if (reset && fd_.is_valid()) {
        linger l{1, 0};
        ::setsockopt(fd_.lowlevel_fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    fd_.close();
}

}  // namespace testsupport
