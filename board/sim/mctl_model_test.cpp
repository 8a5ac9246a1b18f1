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

struct MctlModelTest : ::testing::Test {
    board::sim::SimBoard sim;
    MctlModel& mctl = sim.add<MctlModel>();
    board::sim::Console console{sim};

    int open() { return sim.open(mctl::kPath, O_RDONLY); }
    // A request's result, or -errno.
    int call(int fd, unsigned long request, void* arg)
    {
        int const r = sim.ioctl(fd, request, arg);
        return r < 0 ? -errno : r;
    }
    int byValue(int fd, unsigned long request, long value) { return call(fd, request, board::byValue(value)); }
};

TEST_F(MctlModelTest, OpensHoldTheLowestFreeModemUntilTheirLastClose)
{
    EXPECT_EQ(console.execute("device /dev/mctl modems 2"), "ok");
    std::vector<int> next;
    for (long previous = -1; previous < 2; ++previous)
        next.push_back(byValue(open(), mctl::kEnumerate, previous));
    EXPECT_EQ(next, (std::vector<int>{0, 1, -ENODEV}));

    int const a = open();
    int const b = open();
    EXPECT_EQ(byValue(a, mctl::kTimeslot, 0), -EINVAL);
    EXPECT_EQ(byValue(a, mctl::kAllocate, 0), 0);
    EXPECT_EQ(byValue(a, mctl::kAllocate, 0), -EBUSY);
    EXPECT_EQ(byValue(b, mctl::kAllocate, 0), 1);
    EXPECT_EQ(byValue(open(), mctl::kAllocate, 0), -EBUSY);
    EXPECT_EQ(byValue(b, mctl::kTimeslot, 0), MctlModel::kFirstChannel + 1);
    EXPECT_EQ(console.execute("device /dev/mctl modems 1"), "error a modem above 1 is in use");

    // Settings go to the open's own modem only.
    mctl::ModemPair modes{0, mctl::kModeV110 | mctl::kMode7Bit};
    mctl::ModemParam param{0, 3, 5};
    mctl::ModemPair answer{0, mctl::kNoWord};
    mctl::ModemPair other{1, mctl::kNoWord};
    EXPECT_EQ(call(a, mctl::kSetDataModes, &modes), 0);
    EXPECT_EQ(call(a, mctl::kSetParam, &param), 0);
    EXPECT_EQ(call(a, mctl::kAnswer, &answer), 0);
    EXPECT_EQ(call(a, mctl::kOriginate, &other), -EINVAL);
    EXPECT_EQ(sim.journal().entries().back().text().substr(std::to_string(sim.journal().next() - 1).size()),
              " ioctl /dev/mctl originate 1 4294967295 -> EINVAL");
    EXPECT_EQ(console.execute("dump /dev/mctl"), "ok modems=2 0:ts=1536,modes=0x5,params=3:5,call=answer "
                                                 "1:ts=1537,modes=0x0,params=,call=none");

    ::close(a);
    EXPECT_EQ(console.execute("device /dev/mctl modem 0"), "ok free");
    EXPECT_EQ(byValue(open(), mctl::kAllocate, 0), 0);
    EXPECT_EQ(console.execute("device /dev/mctl modem 2"), "error no modem 2");
}

}  // namespace
