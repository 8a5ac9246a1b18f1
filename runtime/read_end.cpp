#include "runtime/read_end.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace ReadEnd {

Kind ofPoll(short revents, short wanted)
{
    if (revents & wanted)
        return data;
    return (revents & (POLLERR | POLLHUP | POLLNVAL)) ? end : again;
}

Kind ofRead(ssize_t n, int error, short revents)
{
    if (n > 0)
        return data;
    if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK || error == EINTR))
        return (revents & (POLLERR | POLLHUP | POLLNVAL)) ? end : again;
    return end;
}

Kind ofAccept(int error)
{
    switch (error) {
    case EBADF:
    case EINVAL:
    case ENOTSOCK:
    case EOPNOTSUPP:
    case EFAULT:
        return end;
    default:
        return again;
    }
}

std::string whyPolled(short revents, int fd)
{
    if (revents & POLLERR) {
        int pending = 0;
        socklen_t size = sizeof pending;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &size) == 0 && pending != 0)
            return std::strerror(pending);
        return "poll error";
    }
    return (revents & POLLHUP) ? "hang-up" : "descriptor not open";
}

std::string whyRead(ssize_t n, int error, short revents, int fd)
{
    if (n == 0)
        return "closed by the peer";
    if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR)
        return whyPolled(revents, fd);
    return std::strerror(error);
}

}  // namespace ReadEnd
