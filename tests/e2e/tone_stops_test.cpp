// A stop answered is a stop made, on the daemon running on the simulated board.
//
// Every request that stops a generator or a detector of an RTP channel or a mixer port is
// sent once with the driver refusing the request it needs: the answer is an error and the
// channel goes on as it was (its detectors, its tone, a timed sequence's next step); sent
// again, it is answered success and the function is off. A stop that finds nothing running
// is answered success whatever the driver says of its switch-off.

#include "tests/tone_channels.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/slot_commands.h"

namespace {

using namespace testsupport;
using P = ZGCP::IoctlParams;

ToneRequests const r;

// How a refused stop leaves the channel.
enum class Goes {
    on,     // its state on both devices is what it was
    steps,  // a timed sequence takes its next step
};

struct StopRow {
    char const* name;
    ToneKind kind;
    std::vector<P> before;
    P stop;
    char const* path;     // of the request the driver refuses
    char const* request;  // its name
    Goes goes = Goes::on;
    // What the generator plays once the stop is made (for the stops of the generator).
    char const* after = kOff;
};

void PrintTo(StopRow const& row, std::ostream* os) { *os << row.name; }

class RefusedStops : public ToneChannels, public ::testing::WithParamInterface<StopRow> {};

TEST_P(RefusedStops, AreAnsweredWithAnErrorAndLeaveTheChannelAsItWas)
{
    StopRow const& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(make(20, row.kind, 0));
    std::string const ts = channels.at(20);
    std::size_t settings = generator(ts).size();
    ASSERT_NO_FATAL_FAILURE(requests(20, row.before));
    std::string const before = state(ts);
    if (row.goes == Goes::steps) {
        // Just after a step of the sequence, so that the next is a second away.
        settings = generator(ts).size();
        ASSERT_TRUE(DaemonLauncher::waitFor([&] { return generator(ts).size() > settings; }));
        settings = generator(ts).size();
    }

    ASSERT_EQ(board->command(std::string("fail-request ") + row.path + " " + row.request + " EIO 1"), "ok");
    EXPECT_NE(done(20, ioctlCommand(row.stop)), "success");
    if (row.goes == Goes::on) {
        EXPECT_EQ(state(ts), before);
    } else {
        EXPECT_TRUE(DaemonLauncher::waitFor([&] { return generator(ts).size() > settings; }))
            << board->command("device /dev/dtmf generator " + ts);
        EXPECT_NE(sounding(ts), kOff);
    }

    // Sent again, with the driver taking it: what the same requests leave on another channel.
    EXPECT_EQ(done(20, ioctlCommand(row.stop)), "success");
    if (std::string(row.request) == "dial") {
        EXPECT_EQ(sounding(ts), row.after);
    } else {
        ASSERT_NO_FATAL_FAILURE(make(21, row.kind, 1));
        ASSERT_NO_FATAL_FAILURE(requests(21, row.before));
        ASSERT_NO_FATAL_FAILURE(requests(21, {row.stop}));
        EXPECT_EQ(state(ts), state(channels.at(21)));
        EXPECT_NE(state(ts), before);
    }
    EXPECT_EQ(done(std::nullopt, plainCommand(ZGCP::Command::ping::id)), "success");
}

std::vector<StopRow> stopRows()
{
    ToneKind const rtp = ToneKind::rtp, in = ToneKind::mixerIn, out = ToneKind::mixerOut;
    char const* const tone = "/dev/dtmf";
    char const* const voice = "/dev/dsp";
    return {
        {"rtpWaitTone", rtp, {r.waitTone}, r.waitToneOff, tone, "dial", Goes::steps},
        {"rtpDtmf", rtp, {r.dtmfOn}, r.dtmfOff, tone, "disable"},
        {"rtpEchoCanceller", rtp, {r.echoOn}, r.echoOff, tone, "lms-off"},
        {"rtpRejection", rtp, {r.rejectOn}, r.rejectOff, tone, "reject-off"},
        {"rtpVad", rtp, {r.vadOn}, r.vadOff, voice, "disable"},
        {"rtpSd", rtp, {r.sdParams, r.sdOn}, r.sdOff, voice, "disable"},
        {"inDtmf", in, {r.dtmfOn}, r.dtmfOff, tone, "disable"},
        {"inEchoCanceller", in, {r.echoOn}, r.echoOff, tone, "lms-off"},
        {"inRejection", in, {r.rejectOn}, r.rejectOff, tone, "reject-off"},
        {"inIva", in, {r.ivaOn}, r.ivaOff, tone, "iva-off"},
        {"inVad", in, {r.vadOn}, r.vadOff, voice, "disable"},
        {"inSd", in, {r.sdParams, r.sdOn}, r.sdOff, voice, "disable"},
        {"outDigits", out, {r.digits}, r.dtmfStop, tone, "dial", Goes::steps},
        {"outToneGenerator", out, {r.toneGen}, r.toneGenOff, tone, "dial"},
        // A tone over a running sequence stops the sequence first.
        {"outToneOverDigits", out, {r.digits}, r.toneGen, tone, "dial", Goes::steps, "425/0/2048/0"},
        {"rtpPd", rtp, {r.pdOn}, r.pdOff, "/dev/rtp", "disable-event"},
        {"outIva", out, {r.ivaOn}, r.ivaOff, tone, "iva-off"},
        {"outVad", out, {r.vadOn}, r.vadOff, voice, "disable"},
        {"outSd", out, {r.sdParams, r.sdOn}, r.sdOff, voice, "disable"},
    };
}

INSTANTIATE_TEST_SUITE_P(EveryStop, RefusedStops, ::testing::ValuesIn(stopRows()),
                         [](::testing::TestParamInfo<StopRow> const& info) { return std::string(info.param.name); });

// A stop of what is not running (never started, or already stopped) needs no switch-off:
// the driver's refusal of one is no failure. The function is then used as usual.
struct NeedlessRow {
    char const* name;
    ToneKind kind;
    std::vector<P> before;  // leaves nothing running
    P stop;
    char const* path;
    char const* request;
    std::optional<P> start;  // starts what the stop stops
};

void PrintTo(NeedlessRow const& row, std::ostream* os) { *os << row.name; }

class NeedlessStops : public ToneChannels, public ::testing::WithParamInterface<NeedlessRow> {};

TEST_P(NeedlessStops, AreAnsweredSuccessWhateverTheDriverSays)
{
    NeedlessRow const& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(make(20, row.kind, 0));
    std::string const ts = channels.at(20);
    ASSERT_NO_FATAL_FAILURE(requests(20, row.before));
    std::string const before = state(ts);

    ASSERT_EQ(board->command(std::string("fail-request ") + row.path + " " + row.request + " EIO 1"), "ok");
    EXPECT_EQ(done(20, ioctlCommand(row.stop)), "success");
    EXPECT_EQ(state(ts), before);
    EXPECT_EQ(board->command("clear-failures"), "ok");

    // Used again: started and stopped, the channel is as it was.
    if (row.start) {
        ASSERT_NO_FATAL_FAILURE(requests(20, {*row.start}));
    }
    EXPECT_EQ(done(20, ioctlCommand(row.stop)), "success");
    ASSERT_NO_FATAL_FAILURE(make(21, row.kind, 1));
    ASSERT_NO_FATAL_FAILURE(requests(21, row.before));
    if (row.start) {
        ASSERT_NO_FATAL_FAILURE(requests(21, {*row.start}));
    }
    ASSERT_NO_FATAL_FAILURE(requests(21, {row.stop}));
    EXPECT_EQ(state(ts), state(channels.at(21)));
}

std::vector<NeedlessRow> needlessRows()
{
    ToneKind const rtp = ToneKind::rtp, in = ToneKind::mixerIn, out = ToneKind::mixerOut;
    char const* const tone = "/dev/dtmf";
    return {
        {"rtpWaitToneNeverStarted", rtp, {}, r.waitToneOff, tone, "dial", r.waitTone},
        {"rtpWaitToneStopped", rtp, {r.waitTone, r.waitToneOff}, r.waitToneOff, tone, "dial", r.waitTone},
        {"outToneGeneratorNeverStarted", out, {}, r.toneGenOff, tone, "dial", r.toneGen},
        {"outRejection", out, {}, r.rejectDisable, tone, "reject-off", std::nullopt},
        {"rtpRejection", rtp, {}, r.rejectOff, tone, "reject-off", r.rejectOn},
        {"inIva", in, {}, r.ivaOff, tone, "iva-off", r.ivaOn},
        {"rtpVad", rtp, {}, r.vadOff, "/dev/dsp", "disable", r.vadOn},
    };
}

INSTANTIATE_TEST_SUITE_P(EveryStop, NeedlessStops, ::testing::ValuesIn(needlessRows()),
                         [](::testing::TestParamInfo<NeedlessRow> const& info) { return std::string(info.param.name); });

}  // namespace
