#pragma once

#include <sys/types.h>

#include <cstddef>
#include <iosfwd>

// What one read of a polled board device came to, under the rule of runtime/read_end.h that
// every polled descriptor follows: a read of 0 bytes, a hang-up, error or invalid-descriptor
// report (POLLHUP, POLLERR, POLLNVAL) with nothing to read, and a read error other than EAGAIN
// and EINTR end the descriptor; EAGAIN and EINTR do not. The handler of an end writes one
// line, tells its owner, and stops polling the descriptor.
struct DeviceRead {
    enum class Result { data, nothing, ended };

    Result result = Result::nothing;
    // Bytes read (data).
    std::size_t size = 0;
    // The error of the failed read that ended the descriptor; 0 otherwise.
    int error = 0;
    // The read returned 0 bytes.
    bool endOfFile = false;
    // The readiness the read answered.
    short revents = 0;

    bool data() const { return result == Result::data; }
    bool ended() const { return result == Result::ended; }
};

// Reads up to size bytes of the descriptor through the installed board, as the readiness
// asks: nothing without POLLIN, POLLHUP, POLLERR or POLLNVAL; without POLLIN an end with no
// read. An interrupted read is repeated.
DeviceRead readDevice(int fd, short revents, void* buf, std::size_t size);

// Why a descriptor ended: "end of file", "hang-up", "device error", "invalid descriptor" or
// the read error's text.
std::ostream& operator<<(std::ostream& os, DeviceRead const& r);
