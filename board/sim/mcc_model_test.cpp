#include "board/sim/mcc_model.h"

#include "board/sim/console.h"
#include "board/sim/sim_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

namespace {

using board::sim::MccModel;

// The channels, frames and hang-ups the daemon uses are proven by its own tests through this
// model; here, what they never reach: the driver's refusals, the console's, and the lowest
// free switch channel taken again.
struct MccModelTest : ::testing::Test {
    board::sim::SimBoard sim;
    MccModel& mcc = sim.add<MccModel>();
    board::sim::Console console{sim};
    std::vector<int> fds;

    ~MccModelTest() override
    {
        for (int fd : fds)
            ::close(fd);
    }

    // An open that allocated a channel of the type: its descriptor, or -errno.
    int channel(std::uint32_t type)
    {
        int fd = sim.open(mcc::kPath, O_RDWR | O_NONBLOCK);
        fds.push_back(fd);
        mcc::Allocate a{type, 512, 0, 1, 1};
        return sim.ioctl(fd, mcc::kAllocate, &a) < 0 ? -errno : fd;
    }
};

TEST_F(MccModelTest, RefusalsAndTheLowestFreeChannelTakenAgain)
{
    int const first = channel(mcc::kData);
    ASSERT_GE(first, 0);
    mcc::Allocate again{mcc::kData, 512, 0, 1, 1};
    EXPECT_EQ(sim.ioctl(first, mcc::kAllocate, &again), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(channel(4), -EINVAL);
    int const bare = fds.emplace_back(sim.open(mcc::kPath, O_RDWR));
    EXPECT_EQ(sim.ioctl(bare, mcc::kTimeslot, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);

    EXPECT_EQ(console.execute("device /dev/mcc/ctl capacity ss7 2"), "ok");
    int const a = channel(mcc::kSs7);
    EXPECT_GE(channel(mcc::kSs7), 0);
    EXPECT_EQ(channel(mcc::kSs7), -ENOSPC);
    ::close(a);
    fds.erase(std::find(fds.begin(), fds.end(), a));
    EXPECT_EQ(sim.ioctl(channel(mcc::kSs7), mcc::kTimeslot, nullptr), MccModel::kFirstTimeslot + 1);

    struct Case {
        char const* command;
        char const* reply;  // its beginning
    } const cases[] = {
        {"push 600 01", "error no channel 600"},
        {"push 512 012", "error bad frame 012"},
        {"capacity bri x", "error usage: capacity TYPE N | push TS FRAME..."},
        {"hangup 512", "ok"},
        {"written 512", "error no channel 512"},
    };
    for (Case const& c : cases)
        EXPECT_EQ(console.execute(std::string("device /dev/mcc/ctl ") + c.command).rfind(c.reply, 0), 0u) << c.command;
}

}  // namespace
