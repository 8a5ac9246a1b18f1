#include "tests/peer_end.h"

#include "base/leading_number.h"

#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <sstream>

namespace testsupport {

void end(Fd& socket, End how)
{
    int const fd = socket.lowlevel_fd();
    linger const abort{1, 0};
    if (how == End::reset)
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    if (how == End::sendThenClose)
        (void)::send(fd, "\x03\x00\x00\x05\x00", 5, MSG_NOSIGNAL);
    if (how == End::halfClose || how == End::shutRead || how == End::hangUp)
        ::shutdown(fd, how == End::halfClose ? SHUT_WR : how == End::shutRead ? SHUT_RD : SHUT_RDWR);
    if (how != End::halfClose)
        socket.close();
}

std::vector<int> polledDescriptors(std::string const& dump, std::string const& handler)
{
    std::vector<int> out;
    std::istringstream lines(dump);
    for (std::string line; std::getline(lines, line);) {
        // | name | events | count | handler | fd | measure |, where the events are joined by
        // '|' too ("POLLIN|POLLOUT"): the descriptor follows the binding's column.
        std::size_t at = line.find(" " + handler + " ");
        if (at == std::string::npos)
            continue;
        at = line.find("attached ", at);
        if (at != std::string::npos)
            at = line.find('|', at);
        int fd = -1;
        if (at != std::string::npos && leadingNumber(std::string_view(line).substr(at + 1), fd) == NumberRead::read)
            out.push_back(fd);
    }
    return out;
}

int polledDescriptor(std::string const& dump, std::string const& handler)
{
    std::vector<int> const all = polledDescriptors(dump, handler);
    return all.empty() ? -1 : all.front();
}

Fd descriptorOf(pid_t pid, int fd)
{
    Fd process(int(::syscall(SYS_pidfd_open, pid, 0)));
    return process && fd >= 0 ? Fd(int(::syscall(SYS_pidfd_getfd, process.lowlevel_fd(), fd, 0))) : Fd();
}

}  // namespace testsupport
