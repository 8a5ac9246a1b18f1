#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstring>
#include <string>
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

// Reads one record of a device that delivers fixed-size records, as readDevice does. A
// read is a record only when it holds exactly one (recordRead): a byte more than a record
// is asked for, so that a longer one is not taken for the record at its start. The record
// is filled only then.
template <class Record>
DeviceRead readRecord(int fd, short revents, Record& record)
{
    unsigned char buffer[sizeof(Record) + 1];
    DeviceRead const read = readDevice(fd, revents, buffer, sizeof buffer);
    if (read.data() && read.size == sizeof(Record))
        std::memcpy(&record, buffer, sizeof record);
    return read;
}

// A read of readRecord that holds exactly one record.
template <class Record>
bool recordRead(DeviceRead const& read)
{
    return read.data() && read.size == sizeof(Record);
}

// What a read of readRecord that held data but no record was: "short record of 10 bytes of
// 16", "long record of more than 16 bytes".
std::string notARecord(DeviceRead const& read, std::size_t recordSize);

// Why a descriptor ended: "end of file", "hang-up", "device error", "invalid descriptor" or
// the read error's text.
std::ostream& operator<<(std::ostream& os, DeviceRead const& r);
