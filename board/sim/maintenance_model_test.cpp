#include "board/sim/maintenance_model.h"

#include "board/maintenance.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

TEST(MaintenanceModel, TrunksFromTheConsoleAndTheirRefusals)
{
    board::sim::MaintenanceModel model;
    struct Command {
        std::vector<std::string> words;
        char const* reply;
    };
    Command const commands[] = {
        {{"trunk", "1", "state", "lossCarrier", "slips", "3", "lossRAI", "0x10"}, "ok"},
        {{"trunk", "2", "state", "9"}, "ok"},
        {{"trunk", "3", "state", "lost"}, "error bad state lost"},
        {{"trunk", "3", "slips"}, "error usage: trunk T [KEY VALUE]..."},
        {{"trunk", "4"}, "error usage: trunk T [KEY VALUE]..."},
        {{"trunk", "0", "drops", "1"}, "error bad drops 1"},
    };
    for (Command const& c : commands)
        EXPECT_EQ(model.command(c.words), c.reply) << c.words.size();
    EXPECT_EQ(model.dump(), "tclk=none source=none 0:normal 1:lossCarrier,slips=3,lossRAI=16 2:9 3:normal");

    maintenance::SyncStatus r{};
    r.trunk = 4;
    EXPECT_EQ(model.request(nullptr, *model.find(maintenance::kSyncStatus), &r), -EINVAL);
}

}  // namespace
