#include "tests/syslog_receiver.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace testsupport {

SyslogReceiver::SyslogReceiver(std::string path) : path_(std::move(path))
{
    sockaddr_un addr = {};
    if (path_.size() >= sizeof addr.sun_path)
        return;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
    ::unlink(path_.c_str());
    Fd s(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (s.is_valid() && ::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
        fd_ = std::move(s);
}

SyslogReceiver::~SyslogReceiver()
{
    if (fd_.is_valid())
        ::unlink(path_.c_str());
}

std::optional<std::string> SyslogReceiver::receive(int timeoutMs)
{
    if (!fd_.is_valid())
        return std::nullopt;
    pollfd p = {fd_.lowlevel_fd(), POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1)
        return std::nullopt;
    char buf[65536];
    ssize_t n = ::recv(fd_.lowlevel_fd(), buf, sizeof buf, 0);
    if (n < 0)
        return std::nullopt;
    return std::string(buf, std::size_t(n));
}

std::optional<std::string> SyslogReceiver::receiveHolding(std::string const& text, int timeoutMs)
{
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return std::nullopt;
        std::optional<std::string> d = receive(int(left));
        if (!d)
            return std::nullopt;
        if (d->find(text) != std::string::npos)
            return d;
    }
}

}  // namespace testsupport
