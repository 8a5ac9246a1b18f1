#include "board/sim/mixer_model.h"

#include "board/sim/console.h"
#include "board/sim/sim_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using board::sim::MixerModel;

struct MixerModelTest : ::testing::Test {
    board::sim::SimBoard sim;
    MixerModel& model = sim.add<MixerModel>();
    board::sim::Console console{sim};
    int fd = sim.open(mixer::kPath, O_RDONLY | O_CLOEXEC);

    ~MixerModelTest() override { ::close(fd); }

    // The result, or the error's negative number.
    int call(unsigned long request, void* record)
    {
        int r = sim.ioctl(fd, request, record);
        return r < 0 ? -errno : r;
    }
};

TEST_F(MixerModelTest, RouteSetsAreEditedPerUnitAndUnitsEnumerateInIdOrder)
{
    ASSERT_TRUE(model.addUnit(7, 16, 8));
    ASSERT_TRUE(model.addUnit(3, 32, 16));

    struct Case {
        unsigned long request;
        mix_route record;  // a channel record is its rx part
        int result;
    };
    Case const cases[] = {
        {mixer::kRxAdd, {{3, 0, 0}, {3, 0, 1}, 100}, 0},
        {mixer::kRxAdd, {{3, 0, 0}, {3, 0, 2}, 200}, 0},
        {mixer::kRxAdd, {{3, 0, 0}, {3, 0, 1}, 300}, 0},  // a new gain for the same source
        {mixer::kRxAdd, {{3, 0, 5}, {3, 0, 5}, 400}, 0},
        {mixer::kRxAdd, {{3, 0, 0}, {7, 0, 1}, 1}, -EINVAL},  // another unit's source
        {mixer::kRxAdd, {{3, 0, 32}, {3, 0, 1}, 1}, -EINVAL},
        {mixer::kRxAdd, {{3, 1, 0}, {3, 0, 1}, 1}, -EINVAL},
        {mixer::kRxRemove, {{3, 0, 0}, {3, 0, 2}, 0}, 0},
        {mixer::kRxRemove, {{3, 0, 0}, {3, 0, 2}, 0}, -ENOENT},
        {mixer::kTdm, {{7, 0, 15}, {}, 0}, MixerModel::kFirstTimeslot + 7 * 128 + 15},
        {mixer::kTdm, {{7, 0, 16}, {}, 0}, -EINVAL},
        {mixer::kTdm, {{4, 0, 0}, {}, 0}, -EINVAL},
        {mixer::kRxClear, {{3, 0, 5}, {}, 0}, 0},
        {mixer::kRxClear, {{9, 0, 0}, {}, 0}, -EINVAL},
    };
    for (Case c : cases)
        EXPECT_EQ(call(c.request, &c.record), c.result) << c.request << " rx " << c.record.rx.number;
    EXPECT_EQ(model.routes(3), (std::vector<MixerModel::Route>{{0, 1, 300}}));
    EXPECT_EQ(console.execute("dump /dev/mixer"), "ok 3:channels=32,inputs=16,routes=1; 7:channels=16,inputs=8,routes=0");

    std::vector<int> ids;
    mix_unit unit{-1, 0, 0, 0};
    while (call(mixer::kEnumerate, &unit) == 0)
        ids.push_back(unit.id);
    EXPECT_EQ(ids, (std::vector<int>{3, 7}));
    EXPECT_EQ(unit.tdm_channels, 16);
    EXPECT_EQ(unit.mixer_inputs, 8);
    EXPECT_EQ(call(mixer::kEnumerate, &unit), -ENODEV);
}

TEST_F(MixerModelTest, ConsoleRefusesBadUnits)
{
    struct Case {
        char const* command;
        char const* reply;
    };
    Case const cases[] = {
        {"add 256 16 16", "error bad unit 256 16 16"},
        {"add 1 0 16", "error bad unit 1 0 16"},
        {"add 1 129 16", "error bad unit 1 129 16"},
        {"add 1 16 -1", "error bad unit 1 16 -1"},
        {"remove 1", "error no unit 1"},
        {"routes x", "error usage: add ID CHANNELS INPUTS | remove ID | routes ID"},
    };
    for (Case const& c : cases)
        EXPECT_EQ(console.execute(std::string("device /dev/mixer ") + c.command), c.reply) << c.command;
    EXPECT_EQ(console.execute("dump /dev/mixer"), "ok ");
}

}  // namespace
