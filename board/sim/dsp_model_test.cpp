#include "board/sim/dsp_model.h"

#include "board/sim/console.h"
#include "board/sim/sim_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
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

    EXPECT_EQ(sim.ioctl(fd, dsp::kVersion, board::byValue(0)), 2);
    EXPECT_EQ(device("version 1"), "ok 1");
    EXPECT_EQ(sim.ioctl(fd, dsp::kVersion, board::byValue(0)), 1);
    EXPECT_EQ(device("version"), "ok 1");
}

TEST_F(DspModelTest, EventsAreInjectedUnderTheFunctionsCurrentIdOrAGivenOne)
{
    ASSERT_EQ(enable(dsp::kEnable, 4, dsp::kVad), 0);
    ASSERT_EQ(enable(dsp::kEnable, 8, dsp::kBss), 0);
    struct Case {
        char const* command;
        std::optional<dsproc_event_record> record;
    };
    auto record = [](std::uint32_t id, std::uint32_t type, std::uint32_t w0, std::uint32_t w1, std::uint32_t w2) {
        dsproc_event_record r{5, id, type, {}};
        r.payload.vad = {w0, std::int32_t(w1), std::int32_t(w2)};
        return r;
    };
    float const quarter = 0.25f;
    std::uint32_t quarterBits;
    std::memcpy(&quarterBits, &quarter, sizeof quarterBits);
    Case const cases[] = {
        {"vad 5 - 1", record(4, dsp::kEventVad, 2, 0, 1)},
        {"vad 5 0 -3 9", record(9, dsp::kEventVad, 3, 0, std::uint32_t(-3))},
        {"sd 5 1", record(0, dsp::kEventSd, 1, 0, 0)},
        {"bss 5 0.25", record(8, dsp::kEventBss, quarterBits, 0, 0)},
        {"tone 5 1000 1", record(0, dsp::kEventTone, 1000, 1, 0)},
        {"flags 5 0x20000000 0x20000000 3", record(3, dsp::kEventFlags, 1u << 29, 1u << 29, 0)},
        {"selcal 5 0", record(0, dsp::kEventFlags, 0, 1u << 31, 0)},
        {"vad 5 x 1", {}},
        {"bss 5 fast", {}},
        {"selcal 5 2", {}},
        {"flags 5 1", {}},
        {"tone 70000 1 1", {}},
    };
    for (Case const& c : cases) {
        std::string const reply = device(c.command);
        EXPECT_EQ(reply.substr(0, 2), c.record ? "ok" : "er") << c.command << ": " << reply;
        dsproc_event_record got{};
        ssize_t const n = ::read(fd, &got, sizeof got);
        ASSERT_EQ(n, c.record ? ssize_t(sizeof got) : -1) << c.command;
        if (c.record) {
            EXPECT_EQ(std::memcmp(&got, &*c.record, sizeof got), 0) << c.command;
        }
    }
}

}  // namespace
