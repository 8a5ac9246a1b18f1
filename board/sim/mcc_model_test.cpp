#include "board/sim/mcc_model.h"

#include "board/sim/console.h"
#include "board/sim/sim_board.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace {

using board::sim::MccModel;

struct MccModelTest : ::testing::Test {
    board::sim::SimBoard sim;
    MccModel& mcc = sim.add<MccModel>();
    board::sim::Console console{sim};

    ~MccModelTest() override
    {
        for (int fd : fds)
            ::close(fd);
    }

    // An open that allocated a channel of the type: its descriptor, or -errno.
    int channel(std::uint32_t type)
    {
        int fd = sim.open(mcc::kPath, O_RDWR | O_NONBLOCK);
        if (fd < 0)
            return -errno;
        fds.push_back(fd);
        mcc::Allocate a{type, 512, 0, 1, 1};
        return sim.ioctl(fd, mcc::kAllocate, &a) < 0 ? -errno : fd;
    }
    std::string run(std::string const& line) { return console.execute(line); }
    static std::string ino(int fd)
    {
        struct stat st;
        return ::fstat(fd, &st) == 0 ? std::to_string(st.st_ino) : "?";
    }

    std::vector<int> fds;
};

TEST_F(MccModelTest, ChannelsComeFromCapacitiesAndASwitchChannelPool)
{
    mcc::Counts counts{};
    int const first = channel(mcc::kData);
    ASSERT_GE(first, 0);
    EXPECT_EQ(sim.ioctl(first, mcc::kCounts, &counts), 0);
    EXPECT_EQ((std::vector<unsigned>{counts.data, counts.bri, counts.transparent}), (std::vector<unsigned>{16, 8, 32}));
    EXPECT_EQ(sim.ioctl(first, mcc::kTimeslot, nullptr), MccModel::kFirstTimeslot);

    // A second allocation on an open, an unknown type, a time slot before allocation.
    mcc::Allocate again{mcc::kData, 512, 0, 1, 1};
    EXPECT_EQ(sim.ioctl(first, mcc::kAllocate, &again), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(channel(4), -EINVAL);
    int const bare = sim.open(mcc::kPath, O_RDWR);
    EXPECT_EQ(sim.ioctl(bare, mcc::kTimeslot, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
    ::close(bare);

    // Used up, then freed with the last close, the lowest switch channel first.
    mcc.setCapacity(mcc::kSs7, 2);
    int const a = channel(mcc::kSs7);
    int const b = channel(mcc::kSs7);
    EXPECT_EQ(channel(mcc::kSs7), -ENOSPC);
    EXPECT_EQ(sim.ioctl(b, mcc::kTimeslot, nullptr), MccModel::kFirstTimeslot + 2);
    ASSERT_EQ(::close(a), 0);
    fds.erase(std::find(fds.begin(), fds.end(), a));
    int const c = channel(mcc::kSs7);
    ASSERT_GE(c, 0);
    EXPECT_EQ(sim.ioctl(c, mcc::kTimeslot, nullptr), MccModel::kFirstTimeslot + 1);
    EXPECT_EQ(run("dump /dev/mcc/ctl"), "ok data=1/16 bri=0/8 transparent=0/32 ss7=2/2 512:data:ino=" + ino(first)
                                            + " 513:ss7:ino=" + ino(c) + " 514:ss7:ino=" + ino(b));
}

TEST_F(MccModelTest, ConsolePushesFramesTakesWhatWasWrittenAndHangsUp)
{
    int const fd = channel(mcc::kData);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "\x01\x02", 2), 2);
    ASSERT_EQ(::write(fd, "", 0), 0);
    EXPECT_EQ(run("device /dev/mcc/ctl written 512"), "ok 0102 -");
    EXPECT_EQ(run("device /dev/mcc/ctl written 512"), "ok");

    EXPECT_EQ(run("device /dev/mcc/ctl push 512 a0ff - 01"), "ok 3");
    unsigned char buf[16];
    EXPECT_EQ(::read(fd, buf, sizeof buf), 2);
    EXPECT_EQ(buf[0], 0xA0);
    EXPECT_EQ(::read(fd, buf, sizeof buf), 0);
    EXPECT_EQ(::read(fd, buf, sizeof buf), 1);

    EXPECT_EQ(run("device /dev/mcc/ctl push 513 01"), "error no channel 513");
    EXPECT_EQ(run("device /dev/mcc/ctl push 512 012"), "error bad frame 012");
    EXPECT_EQ(run("device /dev/mcc/ctl capacity bri 3"), "ok");
    EXPECT_EQ(mcc.capacity(mcc::kBri), 3u);

    // A hung-up line: the daemon reads the end and sees the hang-up; the channel is gone.
    EXPECT_EQ(run("device /dev/mcc/ctl hangup 512"), "ok");
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 0), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    EXPECT_EQ(::read(fd, buf, sizeof buf), 0);
    EXPECT_EQ(run("device /dev/mcc/ctl written 512"), "error no channel 512");
}

}  // namespace
