#include "runtime/device_read.h"

#include "board/board.h"
#include "runtime/read_end.h"

#include <poll.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>

DeviceRead readDevice(int fd, short revents, void* buf, std::size_t size)
{
    DeviceRead r;
    r.revents = revents;
    switch (ReadEnd::ofPoll(revents, POLLIN)) {
    case ReadEnd::again: return r;
    case ReadEnd::end: r.result = DeviceRead::Result::ended; return r;
    case ReadEnd::data: break;
    }
    ssize_t n;
    do
        n = board::board().read(fd, buf, size);
    while (n < 0 && errno == EINTR);
    int const error = errno;
    switch (ReadEnd::ofRead(n, error, revents)) {
    case ReadEnd::again: break;
    case ReadEnd::data:
        r.result = DeviceRead::Result::data;
        r.size = std::size_t(n);
        break;
    case ReadEnd::end:
        // A read of 0, a read error, or nothing left to read on a descriptor that reports its end.
        r.result = DeviceRead::Result::ended;
        r.endOfFile = n == 0;
        if (n < 0 && error != EAGAIN && error != EWOULDBLOCK)
            r.error = error;
        break;
    }
    return r;
}

std::string notARecord(DeviceRead const& read, std::size_t recordSize)
{
    if (read.size < recordSize)
        return "short record of " + std::to_string(read.size) + " bytes of " + std::to_string(recordSize);
    return "long record of more than " + std::to_string(recordSize) + " bytes";
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
