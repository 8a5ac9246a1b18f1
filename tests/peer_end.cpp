#include "tests/peer_end.h"

#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <sstream>

namespace testsupport {

char const* name(End how)
{
    char const* const names[] = {"close", "reset", "half-close", "send then close", "shut read", "hang-up"};
    return names[int(how)];
}

void end(Fd& socket, End how)
{
    int const fd = socket.lowlevel_fd();
    linger const abort{1, 0};
    switch (how) {
    case End::reset:
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        break;
    case End::halfClose:
        ::shutdown(fd, SHUT_WR);
        return;
    case End::sendThenClose:
        (void)::send(fd, "\x03\x00\x00\x05\x00", 5, MSG_NOSIGNAL);
        break;
    case End::shutRead:
        ::shutdown(fd, SHUT_RD);
        break;
    case End::hangUp:
        ::shutdown(fd, SHUT_RDWR);
        break;
    case End::close:
        break;
    }
    socket.close();
}

int polledDescriptor(std::string const& dump, std::string const& handler)
{
    std::istringstream lines(dump);
    for (std::string line; std::getline(lines, line);) {
        // | name | events | count | handler | fd | measure |
        std::istringstream cells(line);
        std::string cell[6];
        for (std::string& c : cell)
            std::getline(cells, c, '|');
        if (cell[1].find(" " + handler + " ") != std::string::npos)
            return std::stoi(cell[5]);
    }
    return -1;
}

Fd descriptorOf(pid_t pid, int fd)
{
    Fd process(int(::syscall(SYS_pidfd_open, pid, 0)));
    if (!process || fd < 0)
        return Fd();
    return Fd(int(::syscall(SYS_pidfd_getfd, process.lowlevel_fd(), fd, 0)));
}

}  // namespace testsupport
