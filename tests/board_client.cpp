#include "tests/board_client.h"

#include "base/leading_number.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

namespace testsupport {
namespace {

int connectTo(std::string const& path)
{
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path)
        return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
        return fd;
    ::close(fd);
    return -1;
}

}  // namespace

BoardClient::BoardClient(std::string const& root, int timeoutMs)
{
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string const path = root + "/var/run/board.sock";
    while ((fd_ = connectTo(path)) < 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

BoardClient::~BoardClient()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::string BoardClient::command(std::string const& line, int timeoutMs)
{
    if (fd_ < 0)
        return {};
    std::string out = line + "\n";
    if (::send(fd_, out.data(), out.size(), MSG_NOSIGNAL) != ssize_t(out.size()))
        return {};
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto nl = in_.find('\n');
        if (nl != std::string::npos) {
            std::string reply = in_.substr(0, nl);
            in_.erase(0, nl + 1);
            return reply;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return {};
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            continue;
        char buf[65536];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            return {};
        in_.append(buf, std::size_t(n));
    }
}

int BoardClient::opens(std::string const& device)
{
    std::string const list = command("devices"), key = " " + device + ":opens=";
    std::size_t const at = list.find(key);
    return at == std::string::npos ? -1 : std::atoi(list.c_str() + at + key.size());
}

std::string BoardClient::switchLeftovers()
{
    std::string const dump = command("dump /dev/hal");
    std::istringstream words(dump.substr(dump.rfind("ok", 0) == 0 ? 2 : 0));
    std::string out;
    for (std::string word; words >> word;) {
        bool const connected = word.find('<') != std::string::npos;
        int channel = -1;
        leadingNumber(word, channel);
        bool const driven = channel >= 128 && word.find(":off") == std::string::npos;
        if (connected || driven)
            out += (out.empty() ? "" : " ") + word;
    }
    return out;
}

std::string withoutIds(std::string const& state)
{
    auto const follows = [](std::string const& out, std::string const& prefix) {
        return out.size() >= prefix.size() && out.compare(out.size() - prefix.size(), prefix.size(), prefix) == 0;
    };
    auto const digit = [](char c) { return c >= '0' && c <= '9'; };
    std::string out;
    for (std::size_t i = 0; i < state.size();) {
        bool const afterWord = out.size() >= 2 && out.back() == ':'
                               && ((out[out.size() - 2] >= 'a' && out[out.size() - 2] <= 'z') || out[out.size() - 2] == '-');
        if (digit(state[i]) && (afterWord || follows(out, "id=") || follows(out, "timeslot "))) {
            out += '#';
            while (i < state.size() && digit(state[i]))
                ++i;
            continue;
        }
        out += state[i++];
    }
    return out;
}

}  // namespace testsupport
