#include "hardware/driver_service.h"

#include <iostream>

namespace Hardware {

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

bool DriverService::ready(char const* what, unsigned ts)
{
    if (!IsActive())
        init();
    if (IsActive())
        return true;
    std::cerr << what << " fail: (interface not opened)" << " timeslot=" << ts << std::endl;
    return false;
}

void DriverService::ended(DeviceRead const& read)
{
    std::cerr << "fail to read from " << device_ << ": " << read << std::endl;
    Release();
}

void DriverService::shortRecord(std::size_t size, std::size_t expected)
{
    std::cerr << "fail to read from " << device_ << ": short record of " << size << " bytes of " << expected
              << ", dropped" << std::endl;
}

}  // namespace Hardware
