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

bool DriverService::readFailed(ssize_t n, std::size_t size)
{
    if (n < 0) {
        Errno e;
        if (e.value() != EAGAIN && e.value() != EWOULDBLOCK)
            std::cerr << "fail to read from " << device_ << ": " << e << std::endl;
        return false;
    }
    if (n == 0) {
        std::cerr << "fail to read from " << device_ << ": end of file, device closed" << std::endl;
        return true;
    }
    std::cerr << "fail to read from " << device_ << ": short record of " << n << " bytes of " << size
              << ", dropped" << std::endl;
    return false;
}

}  // namespace Hardware
