#include "board/sim/e1_cas_model.h"

#include "board/board.h"
#include "board/e1_cas.h"
#include "board/sim/sim_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

TEST(E1CasModel, ChannelsOpenCloseAndReportReceivedBitsThatChange)
{
    board::sim::SimBoard sim;
    auto& model = sim.add<board::sim::E1CasModel>();
    int const fd = sim.open(e1cas::kPath, O_RDWR | O_NONBLOCK);

    struct Case {
        unsigned long request;
        std::uint32_t trunk, timeslot, flag;
        int error;
    };
    Case const cases[] = {
        {e1cas::kOpenTrunk, 4, 0, 0, EINVAL},  {e1cas::kOpenTrunk, 3, 0, 0, 0},
        {e1cas::kChannelControl, 3, 32, 0, EINVAL}, {e1cas::kChannelControl, 3, 5, 2, EINVAL},
        {e1cas::kChannelControl, 3, 5, 0, 0},  {e1cas::kGetChannel, 4, 5, 0, EINVAL},
    };
    for (Case const& c : cases) {
        e1cas::ChannelControl r{{c.trunk, c.timeslot, 0, 0x1C, {0, 0}}, c.flag};
        void* arg = c.request == e1cas::kOpenTrunk ? board::byValue(c.trunk) : &r;
        errno = 0;
        EXPECT_EQ(sim.ioctl(fd, c.request, arg), c.error ? -1 : 0) << c.trunk << '/' << c.timeslot;
        EXPECT_EQ(errno, c.error) << c.trunk << '/' << c.timeslot;
    }
    EXPECT_EQ(model.command({"channel", "3", "5"}), "ok open rx=0 tx=12");

    EXPECT_EQ(model.command({"rx", "3", "5", "6"}), "ok");
    EXPECT_EQ(model.command({"rx", "3", "5", "6"}), "ok");  // no change, no event
    unsigned char record[sizeof(cas_channel) + 4];
    EXPECT_EQ(::read(fd, record, sizeof record), ssize_t(sizeof(cas_channel)));
    cas_channel event;
    std::memcpy(&event, record, sizeof event);
    EXPECT_EQ(event.path, 3u);
    EXPECT_EQ(event.timeslot, 5u);
    EXPECT_EQ(event.rx, 6);
    EXPECT_EQ(event.tx, 12);
    EXPECT_EQ(::read(fd, record, sizeof record), -1);
    EXPECT_EQ(model.dump(), "open=3 3/5:rx=6,tx=12");
    EXPECT_EQ(model.command({"rx", "3", "32", "1"}), "error usage: rx T TS BITS | channel T TS");
    ::close(fd);
}

}  // namespace
