#include "runtime/device_read.h"

#include "board/board.h"

#include <poll.h>

#include <cerrno>
#include <cstring>
#include <ostream>

DeviceRead readDevice(int fd, short revents, void* buf, std::size_t size)
{
    DeviceRead r;
    r.revents = revents;
    short constexpr endReports = POLLHUP | POLLERR | POLLNVAL;
    if (!(revents & (POLLIN | endReports)))
        return r;
    if (!(revents & POLLIN)) {
        r.result = DeviceRead::Result::ended;
        return r;
    }
    ssize_t n;
    do
        n = board::board().read(fd, buf, size);
    while (n < 0 && errno == EINTR);
    if (n > 0) {
        r.result = DeviceRead::Result::data;
        r.size = std::size_t(n);
    } else if (n == 0) {
        r.result = DeviceRead::Result::ended;
        r.endOfFile = true;
    } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
        r.result = DeviceRead::Result::ended;
        r.error = errno;
    } else if (revents & endReports) {
        // Nothing left to read on a descriptor that reports its end.
        r.result = DeviceRead::Result::ended;
    }
    return r;
}

std::ostream& operator<<(std::ostream& os, DeviceRead const& r)
{
    if (r.error != 0)
        return os << std::strerror(r.error);
    if (r.endOfFile)
        return os << "end of file";
    if (r.revents & POLLNVAL)
        return os << "invalid descriptor";
    return os << (r.revents & POLLERR ? "device error" : "hang-up");
}
