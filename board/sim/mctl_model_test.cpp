#include "board/sim/mctl_model.h"

#include "board/board.h"
#include "board/sim/console.h"
#include "board/sim/sim_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using board::sim::MctlModel;

// Allocation, time slot, data modes, parameters and calls are proven by the modem slots'
// tests through this model; here, what they never reach: the refusals, and the lowest free
// modem held until the last close.
TEST(MctlModelTest, OpensHoldTheLowestFreeModemAndTouchNoOtherOne)
{
    board::sim::SimBoard sim;
    sim.add<MctlModel>();
    board::sim::Console console{sim};
    std::vector<int> fds;
    // A request's result on a new open (index -1) or an earlier one, or -errno.
    auto call = [&](int open, unsigned long request, void* arg) {
        if (open < 0)
            fds.push_back(sim.open(mctl::kPath, O_RDONLY));
        int const r = sim.ioctl(open < 0 ? fds.back() : fds[std::size_t(open)], request, arg);
        return r < 0 ? -errno : r;
    };
    EXPECT_EQ(console.execute("device /dev/mctl modems 2"), "ok");
    EXPECT_EQ(call(-1, mctl::kEnumerate, board::byValue(1)), -ENODEV);
    EXPECT_EQ(call(0, mctl::kTimeslot, board::byValue(0)), -EINVAL);
    EXPECT_EQ(call(0, mctl::kAllocate, board::byValue(0)), 0);
    EXPECT_EQ(call(0, mctl::kAllocate, board::byValue(0)), -EBUSY);
    EXPECT_EQ(call(-1, mctl::kAllocate, board::byValue(0)), 1);
    EXPECT_EQ(call(-1, mctl::kAllocate, board::byValue(0)), -EBUSY);
    mctl::ModemPair other{1, mctl::kNoWord};
    EXPECT_EQ(call(0, mctl::kOriginate, &other), -EINVAL);
    EXPECT_EQ(console.execute("device /dev/mctl modems 1"), "error a modem above 1 is in use");

    ::close(fds[0]);
    EXPECT_EQ(console.execute("device /dev/mctl modem 0"), "ok free");
    EXPECT_EQ(call(-1, mctl::kAllocate, board::byValue(0)), 0);
    EXPECT_EQ(console.execute("device /dev/mctl modem 2"), "error no modem 2");
    for (std::size_t i = 1; i < fds.size(); ++i)
        ::close(fds[i]);
}

}  // namespace
