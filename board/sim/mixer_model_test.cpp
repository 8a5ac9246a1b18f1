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

// Routes added and removed (a source beyond the unit's channels refused, a route that is not
// there not removed), units enumerated and the channels' time slots are proven by the mixer
// slots' tests through this model; here, a new gain for a route that is there, and the other
// requests and commands it refuses.
TEST_F(MixerModelTest, ANewGainReplacesTheOldAndBadRecordsAreRefused)
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
        {mixer::kRxAdd, {{3, 0, 0}, {3, 0, 1}, 300}, 0},  // a new gain for the same source
        {mixer::kRxAdd, {{3, 0, 0}, {7, 0, 1}, 1}, -EINVAL},  // another unit's source
        {mixer::kRxAdd, {{3, 1, 0}, {3, 0, 1}, 1}, -EINVAL},
        {mixer::kTdm, {{7, 0, 16}, {}, 0}, -EINVAL},
        {mixer::kTdm, {{4, 0, 0}, {}, 0}, -EINVAL},
        {mixer::kRxClear, {{9, 0, 0}, {}, 0}, -EINVAL},
    };
    for (Case c : cases)
        EXPECT_EQ(call(c.request, &c.record), c.result) << c.request << " rx " << c.record.rx.number;
    EXPECT_EQ(model.routes(3), (std::vector<MixerModel::Route>{{0, 1, 300}}));
    mix_unit last{7, 0, 0, 0};
    EXPECT_EQ(call(mixer::kEnumerate, &last), -ENODEV);
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
