#pragma once

#include "base/errno.h"
#include "board/board.h"
#include "runtime/device_read.h"
#include "runtime/event.h"

#include <cerrno>
#include <cstdint>
#include <iostream>

namespace Hardware {

// " errno=" and the text of the error number of the moment it is made, between double
// quotes, as the failure lines of the driver requests end.
struct ErrnoField {
    Errno error;
};

inline std::ostream& operator<<(std::ostream& os, ErrnoField const& f)
{
    return os << " errno=\"" << f.error << '"';
}

// What the tone and the voice-processing services share: the owner of one device that
// delivers fixed-size event records, polled as an Event, which numbers its enable requests.
class DriverService : public Event {
public:
    DriverService(DriverService const&) = delete;
    DriverService& operator=(DriverService const&) = delete;

    // Opens the device and starts polling it; on failure writes a line and stays inactive.
    virtual void init() = 0;
    // The request id handed out last.
    std::uint32_t lastId() const { return lastId_; }

protected:
    // device: the device's name in the read-failure lines ("tonec").
    DriverService(char const* device, std::uint32_t lastId) : device_(device), lastId_(lastId) {}
    ~DriverService() override = default;

    // The id of the next enable request: counted on, 0 skipped; used up whatever happens
    // to the request.
    std::uint32_t nextId();
    // A request on the device's descriptor: the driver's result, or -1 with errno set.
    int request(unsigned long number, void* arg);
    // Opens the device at path and polls it for input with the callback; when it cannot be
    // opened, writes failText and the error to the error stream.
    template <class T>
    void open(char const* path, int flags, char const* name, void (T::*onEvent)(int, short), T* object,
              char const* failText);
    // Active, or made so by init(); otherwise the line "<what> fail: (interface not opened)"
    // with the timeslot on the error stream.
    bool ready(char const* what, unsigned ts);

    // Reads the records waiting on the device and hands each whole one to take(record).
    // The burst ends when nothing is left, and on a record that is short (a line; it is
    // dropped). The end of the device (runtime/device_read.h) is said in one line, and the
    // service stops polling it until init() again.
    template <class Record, class Take>
    void readBurst(int fd, short revents, Take take);

private:
    void ended(DeviceRead const& read);
    void shortRecord(std::size_t size, std::size_t expected);

    char const* device_;
    std::uint32_t lastId_;
};

template <class T>
void DriverService::open(char const* path, int flags, char const* name, void (T::*onEvent)(int, short), T* object,
                         char const* failText)
{
    int fd = board::board().open(path, flags);
    if (fd < 0) {
        Errno e;
        std::cerr << failText << e << std::endl;
        return;
    }
    Bind(name, onEvent, object);
    Schedule(Fd(fd), POLLIN);
}

template <class Record, class Take>
void DriverService::readBurst(int fd, short revents, Take take)
{
    for (;;) {
        Record record{};
        DeviceRead const read = readDevice(fd, revents, &record, sizeof record);
        if (read.data() && read.size == sizeof record) {
            take(record);
            continue;
        }
        if (read.ended())
            ended(read);
        else if (read.data())
            shortRecord(read.size, sizeof record);
        return;
    }
}

}  // namespace Hardware
