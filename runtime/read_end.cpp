#include "runtime/read_end.h"

#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace ReadEnd {

namespace {

// POLLRDHUP comes only to those who ask for it (input).
bool ended(short revents) { return (revents & (POLLERR | POLLHUP | POLLNVAL | POLLRDHUP)) != 0; }

}  // namespace

Kind ofPoll(short revents, short wanted)
{
    if (revents & wanted)
        return data;
    return ended(revents) ? end : again;
}

Kind ofRead(ssize_t n, int error, short revents)
{
    if (n > 0)
        return data;
    if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK || error == EINTR))
        return ended(revents) ? end : again;
    return end;
}

Kind ofAccept(int error, short revents)
{
    // Nothing waits: after a hang-up or an error nothing ever will.
    if (error == EAGAIN || error == EWOULDBLOCK)
        return ended(revents) ? end : again;
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

int waiting(int fd)
{
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 && n > 0 ? n : 0;
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
    if (revents & POLLHUP)
        return "hang-up";
    return (revents & POLLRDHUP) ? "input shut down" : "descriptor not open";
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
