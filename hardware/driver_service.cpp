#include "hardware/driver_service.h"

#include <iostream>

namespace Hardware {

void DriverService::init()
{
    // Away, its tries bring it back: one now.
    if (return_.away()) {
        return_.Retry();
        return;
    }
    if (open())
        return;
    Errno e;
    std::cerr << device_.openFailText << e << std::endl;
    return_.Lost();
}

bool DriverService::open()
{
    int const fd = board::board().open(device_.path, device_.flags);
    if (fd < 0)
        return false;
    Bind(device_.eventName, &DriverService::OnEvent, this);
    Schedule(Fd(fd), POLLIN);
    return true;
}

bool DriverService::Reopen() { return IsActive() || open(); }

bool DriverService::PutBack()
{
    restoring_ = true;
    bool const whole = restore();
    restoring_ = false;
    return whole;
}

void DriverService::Refused()
{
    std::cerr << device_.word << " interface opened, but the driver refused part of what is put back on it: tried again"
              << std::endl;
}

void DriverService::Back() { std::clog << device_.word << " interface opened" << std::endl; }

std::uint32_t DriverService::nextId()
{
    if (++lastId_ == 0)
        lastId_ = 1;
    return lastId_;
}

int DriverService::request(unsigned long number, void* arg)
{
    return board::board().ioctl(lowlevel_fd(), number, arg);
}

bool DriverService::ready(char const* what, unsigned ts, char const* suffix)
{
    if (IsActive() || (return_.Retry() && IsActive()))
        return true;
    std::cerr << what << suffix << " fail: (interface not opened)" << " timeslot=" << ts << std::endl;
    return false;
}

void DriverService::ended(DeviceRead const& read)
{
    Release();
    forget();
    if (return_.Ended())
        std::cerr << "fail to read from " << device_.word << ": " << read << std::endl;
}

void DriverService::notARecord(DeviceRead const& read, std::size_t size)
{
    std::cerr << "fail to read from " << device_.word << ": " << ::notARecord(read, size) << ", dropped" << std::endl;
}

}  // namespace Hardware
