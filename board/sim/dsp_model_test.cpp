#include "board/sim/dsp_model.h"

#include "board/sim/console.h"
#include "board/sim/sim_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

namespace {

struct DspModelTest : ::testing::Test {
    board::sim::SimBoard sim;
    board::sim::DspModel& model = sim.add<board::sim::DspModel>();
    board::sim::Console console{sim};
    int fd = sim.open(dsp::kPath, O_RDWR | O_NONBLOCK | O_CLOEXEC);

    ~DspModelTest() override { ::close(fd); }

    int enable(unsigned long request, std::uint32_t id, std::uint32_t mask)
    {
        dsproc_enable_params r{5, id, mask};
        return sim.ioctl(fd, request, &r);
    }
    std::string device(std::string const& words) { return console.execute("device /dev/dsp " + words); }
};

TEST_F(DspModelTest, FunctionsAreKeptPerTimeslotWithTheIdsOfTheirEnables)
{
    dsproc_configure_params tone{};
    tone.timeslot = 5;
    tone.kind = dsp::kConfigureTone;
    tone.params.tone = {2100, 1, 400, -30};
    ASSERT_EQ(sim.ioctl(fd, dsp::kConfigure, &tone), 0);
    EXPECT_EQ(enable(dsp::kEnable, 4, dsp::kVad | dsp::kBss), 0);
    EXPECT_EQ(enable(dsp::kEnable, 5, dsp::kMuteRx | dsp::kMuteTx), 0);
    EXPECT_EQ(enable(dsp::kEnable, 6, dsp::kMuteRx), 0);
    EXPECT_EQ(device("channel 5"), "ok on=vad,mute-rx,bss ids=vad:4,mute-rx:6,mute-tx:5,bss:4 tones=2100:1/400/-30 "
                                   "tone-resets=0");
    EXPECT_EQ(enable(dsp::kDisable, 0, dsp::kBss | dsp::kToneAll), 0);
    EXPECT_EQ(console.execute("dump /dev/dsp"),
              "ok version=2; 5: on=vad,mute-rx ids=vad:4,mute-rx:6,mute-tx:5,bss:4 tone-resets=1");

    EXPECT_EQ(device("version 1"), "ok 1");
    EXPECT_EQ(sim.ioctl(fd, dsp::kVersion, board::byValue(0)), 1);
}

// Events injected under the current or a given id reach the voice-processing service's
// tests; here, the injections the console refuses.
TEST_F(DspModelTest, BadInjectionsSendNothing)
{
    for (char const* command : {"vad 5 x 1", "bss 5 fast", "selcal 5 2", "flags 5 1", "tone 70000 1 1"}) {
        EXPECT_EQ(device(command).rfind("error ", 0), 0u) << command;
        dsproc_event_record got{};
        EXPECT_EQ(::read(fd, &got, sizeof got), -1) << command;
    }
}

}  // namespace
