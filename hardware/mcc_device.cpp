#include "hardware/mcc_device.h"

#include "board/board.h"

#include <fcntl.h>

namespace Mcc {

Fd open(int flags) { return Fd(board::board().open(mcc::kPath, flags | O_CLOEXEC)); }

bool allocate(Fd const& channel, mcc::Allocate record)
{
    return board::board().ioctl(channel.lowlevel_fd(), mcc::kAllocate, &record) >= 0;
}

int timeslot(Fd const& channel)
{
    int const ts = board::board().ioctl(channel.lowlevel_fd(), mcc::kTimeslot, nullptr);
    return ts < 0 ? -1 : ts;
}

bool counts(mcc::Counts& record)
{
    record = mcc::Counts{};
    Fd device = open(O_RDONLY);
    if (device && board::board().ioctl(device.lowlevel_fd(), mcc::kCounts, &record) >= 0)
        return true;
    record = mcc::Counts{};
    return false;
}

}  // namespace Mcc
