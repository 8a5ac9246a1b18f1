#include "board/sim/maintenance_model.h"

#include "board/board.h"
#include "board/maintenance.h"
#include "board/sim/sim_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

TEST(MaintenanceModel, FramersAreSetFromTheConsoleAndReadByTrunk)
{
    board::sim::SimBoard sim;
    auto& model = sim.add<board::sim::MaintenanceModel>();
    int const fd = sim.open(maintenance::kPath, O_RDWR);

    using W = std::vector<std::string>;
    struct Command {
        W words;
        char const* reply;
    };
    Command const commands[] = {
        {{"trunk", "1", "state", "lossCarrier", "slips", "3", "lossRAI", "0x10"}, "ok"},
        {{"trunk", "2", "state", "9"}, "ok"},
        {{"trunk", "3", "state", "lost"}, "error bad state lost"},
        {{"trunk", "3", "slips"}, "error usage: trunk T [KEY VALUE]..."},
        {{"trunk", "4"}, "error usage: trunk T [KEY VALUE]..."},
        {{"trunk", "0", "drops", "1"}, "error bad drops 1"},
        {{"tclk"}, "ok none"},
    };
    for (Command const& c : commands)
        EXPECT_EQ(model.command(c.words), c.reply) << c.words.size();

    maintenance::SyncStatus r{};
    r.trunk = 1;
    ASSERT_EQ(sim.ioctl(fd, maintenance::kSyncStatus, &r), 0);
    EXPECT_EQ(r.state, 2u);
    EXPECT_EQ(r.slips, 3u);
    EXPECT_EQ(r.lossRAI, 16u);
    r.trunk = 4;
    EXPECT_EQ(sim.ioctl(fd, maintenance::kSyncStatus, &r), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(sim.ioctl(fd, maintenance::kTclk, board::byValue(5)), 0);
    EXPECT_EQ(sim.ioctl(fd, maintenance::kClockSource, board::byValue(2)), 0);
    EXPECT_EQ(model.dump(), "tclk=5 source=2 0:normal 1:lossCarrier,slips=3,lossRAI=16 2:9 3:normal");
    ::close(fd);
}

}  // namespace
