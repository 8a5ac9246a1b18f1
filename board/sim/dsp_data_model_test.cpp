#include "board/sim/dsp_data_model.h"

#include "board/sim/console.h"
#include "board/sim/sim_board.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using board::sim::DspDataModel;

struct DspDataModelTest : ::testing::Test {
    board::sim::SimBoard sim;
    DspDataModel& dsp = sim.add<DspDataModel>();
    board::sim::Console console{sim};

    int open() { return sim.open(dspdata::kPath, O_RDWR | O_NONBLOCK); }
    // The request's result, or -errno.
    int request(int fd, unsigned long number, void* arg)
    {
        int const r = sim.ioctl(fd, number, arg);
        return r < 0 ? -errno : r;
    }
    static std::string ino(int fd)
    {
        struct stat st;
        return ::fstat(fd, &st) == 0 ? std::to_string(st.st_ino) : "?";
    }
};

TEST_F(DspDataModelTest, EachOpenTakesAGroupOfFourChannelsAndLendsItsBChannels)
{
    int const a = open(), b = open();
    std::uint32_t word = 0;
    EXPECT_EQ(request(a, dspdata::kSignallingChannel, &word), DspDataModel::kFirstChannel);
    EXPECT_EQ(word, 768u);
    EXPECT_EQ(request(b, dspdata::kSignallingChannel, &word), 772);

    struct Case {
        unsigned long request;
        std::uint32_t index;
        int result;
        int channel;  // in the record after the request
    } const cases[] = {
        {dspdata::kAddBChannel, 0, 0, 769},      {dspdata::kAddBChannel, 2, 0, 771},
        {dspdata::kAddBChannel, 2, -EBUSY, -1},  {dspdata::kAddBChannel, 3, -EINVAL, -1},
        {dspdata::kDeleteBChannel, 1, -EINVAL, -1}, {dspdata::kDeleteBChannel, 0, 0, -1},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.index);
        dspdata::BChannel record{c.index, -1};
        EXPECT_EQ(request(a, c.request, &record), c.result);
        EXPECT_EQ(record.channel, c.channel);
    }
    EXPECT_EQ(console.execute("dump /dev/dsp-data"), "ok 768:ino=" + ino(a) + ":b=2/771 772:ino=" + ino(b));

    // The group and its lent channels go with the last close.
    ::close(a);
    sim.service();
    int const c = open();
    EXPECT_EQ(request(c, dspdata::kSignallingChannel, &word), 768);
    EXPECT_TRUE(dsp.lent(768).empty());
    EXPECT_EQ(console.execute("device /dev/dsp-data written 776"), "error no channel 776");
    // The pool holds 64 groups.
    std::vector<int> more;
    for (int i = 2; i < DspDataModel::kGroups; ++i)
        more.push_back(open());
    EXPECT_EQ(open(), -1);
    EXPECT_EQ(errno, ENOSPC);
    for (int fd : more)
        ::close(fd);
    ::close(b);
    ::close(c);
}

}  // namespace
