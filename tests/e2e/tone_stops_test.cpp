// A stop answered is a stop made, and a slot that goes leaves its channel silent, on the
// daemon running on the simulated board.
//
// Every request that stops a generator or a detector of an RTP channel or a mixer port is
// sent once with the driver refusing the request it needs: the answer is an error and the
// channel goes on as it was (its detectors, its tone, a timed sequence's next step); sent
// again, it is answered success and the function is off. A stop that finds nothing running
// is answered success whatever the driver says of its switch-off.
//
// A slot destroyed in each phase of what its generator plays (the wait tone's tone and its
// silence, a digit and its pause, a mixer port's tone), or losing its channel meanwhile,
// leaves the generator off, and the next slot made on that channel starts with nothing
// sounding; nothing sounds on the channel afterwards. What the driver refuses to switch off
// then is owed by the channel: made once the driver takes it, before anything else on the
// channel.

#include "tests/tone_channels.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/slot_commands.h"

namespace {

using namespace testsupport;
using P = ZGCP::IoctlParams;

// Requests of the rows.
struct Requests {
    P dtmfOn{P::dtmf_enable::id, true}, dtmfOff{P::dtmf_enable::id, false};
    P echoOn{P::echoSuppressor::id, true}, echoOff{P::echoSuppressor::id, false};
    P rejectOn{P::dtmf_reject_enable::id, true}, rejectOff{P::dtmf_reject_enable::id, false};
    P ivaOn{P::iva_enable::id, true}, ivaOff{P::iva_enable::id, false};
    P vadOn{P::vad_enable::id, true}, sdOn{P::sd_enable::id, true};
    P sdParams, vadOff, sdOff, rejectDisable, waitTone, waitToneOff, digits, dtmfStop, toneGen, toneGenOff, pdOn, pdOff,
        gain, delays, filter = toneFilterIoctl(2100, 400, -30);

    Requests()
    {
        sdParams.select_sd_params();
        vadOff.select_vad_disable();
        sdOff.select_sd_disable();
        rejectDisable.select_dtmf_reject_disable();
        waitTone.select_activateWaitTone();
        waitToneOff.select_deactivateWaitTone();
        // Three digits of a second each, a second apart: 6 s of sequence.
        digits.select_translateDTMF() = digit5(1000, 1000, 3);
        dtmfStop.select_dtmf_disable();
        toneGen.select_tone_gen_enable().set_freq(425);
        toneGen.ref_tone_gen_enable().set_amp(2048);
        toneGenOff.select_tone_gen_disable();
        pdOn.select_pd_enable().set_timeout(3000);
        pdOff.select_pd_disable();
        gain.select_rx_gain().set_gainDB(-6);
        delays.select_delays().set_rx(10);
        delays.ref_delays().set_tx(20);
    }
};
Requests const r;

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

// How the slot goes.
enum class End { destroy, channelLost };

struct GoneRow {
    char const* name;
    ToneKind kind;
    P play;
    // The setting the generator plays when the slot goes.
    char const* phase;
    End end = End::destroy;
};

void PrintTo(GoneRow const& row, std::ostream* os) { *os << row.name; }

class GoneSlots : public ToneChannels, public ::testing::WithParamInterface<GoneRow> {};

TEST_P(GoneSlots, LeaveTheirChannelSilentForTheNextSlot)
{
    GoneRow const& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(make(20, row.kind, 0));
    std::string const ts = channels.at(20);
    ASSERT_NO_FATAL_FAILURE(requests(20, {row.play}));
    ASSERT_TRUE(DaemonLauncher::waitFor([&] { return sounding(ts) == row.phase; }))
        << board->command("device /dev/dtmf generator " + ts);

    if (row.end == End::destroy) {
        EXPECT_EQ(done(20, plainCommand(ZGCP::Command::destroy::id)), "success");
    } else if (row.kind == ToneKind::rtp) {
        ASSERT_EQ(board->command("fail-read /dev/rtp hangup"), "ok");
        ASSERT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said("fail to read from rtp: ") > 0; }));
    } else {
        ASSERT_EQ(board->command("device /dev/mixer remove 3"), "ok");
        resources();
    }
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return sounding(ts) == kOff; }))
        << board->command("device /dev/dtmf generator " + ts);
    std::size_t const settings = generator(ts).size();

    // The next slot on the channel: for an RTP channel, the one the driver hands out next.
    if (row.end == End::channelLost) {
        ASSERT_EQ(board->command("clear-failures"), "ok");
        if (row.kind != ToneKind::rtp) {
            ASSERT_EQ(board->command("device /dev/mixer add 3 32 16"), "ok");
            resources();
        }
    }
    ASSERT_NO_FATAL_FAILURE(make(21, row.kind, 0));
    EXPECT_EQ(sounding(channels.at(21)), channels.at(21) == ts ? kOff : "");
    EXPECT_EQ(generator(ts).size(), settings) << board->command("device /dev/dtmf generator " + ts);
    EXPECT_EQ(done(std::nullopt, plainCommand(ZGCP::Command::ping::id)), "success");
}

std::vector<GoneRow> goneRows()
{
    ToneKind const rtp = ToneKind::rtp, out = ToneKind::mixerOut;
    static std::string const five = "770/1336/16384/16384";
    return {
        {"waitToneSounding", rtp, r.waitTone, kRing},
        {"waitToneSilent", rtp, r.waitTone, kSilence},
        {"digitSounding", rtp, r.digits, five.c_str()},
        {"digitPause", rtp, r.digits, kSilence},
        {"mixerDigitSounding", out, r.digits, five.c_str()},
        {"mixerToneGenerator", out, r.toneGen, "425/0/2048/0"},
        {"waitToneWithItsSession", rtp, r.waitTone, kRing, End::channelLost},
        {"mixerToneGeneratorWithItsUnit", out, r.toneGen, "425/0/2048/0", End::channelLost},
    };
}

INSTANTIATE_TEST_SUITE_P(EveryPhase, GoneSlots, ::testing::ValuesIn(goneRows()),
                         [](::testing::TestParamInfo<GoneRow> const& info) { return std::string(info.param.name); });

// A slot that lost its channel has nothing of it put back when the tone and voice-processing
// devices come back: each device is back at once, without a put-back the driver refuses. Its
// timed sequence stops with the channel (the cadence of another channel goes on), and it takes
// no request for a channel any more: a codec change takes no new session.
class LostChannelFunctions : public ToneChannels, public ::testing::WithParamInterface<ToneKind> {};

TEST_P(LostChannelFunctions, AreNotPutBackWhenTheDevicesReturn)
{
    ToneKind const kind = GetParam();
    P const cadence = kind == ToneKind::rtp ? r.waitTone : r.digits;
    ASSERT_NO_FATAL_FAILURE(make(20, kind, 0));
    std::string const ts = channels.at(20);
    ASSERT_NO_FATAL_FAILURE(requests(20, {r.sdParams, r.sdOn, r.echoOn, r.vadOn, cadence}));
    ASSERT_NO_FATAL_FAILURE(make(21, kind, 1));
    ASSERT_NO_FATAL_FAILURE(requests(21, {cadence}));
    std::string const other = channels.at(21);
    if (kind == ToneKind::rtp) {
        ASSERT_EQ(board->command("fail-read /dev/rtp hangup"), "ok");
        ASSERT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said("fail to read from rtp: ") > 0; }));
    } else {
        ASSERT_EQ(board->command("device /dev/mixer remove 3"), "ok");
        resources();
    }
    // Both channels were let go of for the mixer; the RTP slot of the other channel goes on
    // with its cadence (1 s of tone, 3 s of silence), and meanwhile nothing more is asked of
    // the channel lost, nor of any channel the slot could take for it.
    std::size_t const dials = generator(ts).size();
    if (kind == ToneKind::rtp) {
        std::size_t const steps = generator(other).size();
        ASSERT_TRUE(DaemonLauncher::waitFor([&] { return generator(other).size() >= steps + 2; }));
    }
    EXPECT_EQ(generator(ts).size(), dials);
    EXPECT_EQ(daemon.said("DTMF_DIAL fail:"), 0u) << daemon.err();
    if (kind == ToneKind::rtp) {
        std::string const sessions = board->command("dump /dev/rtp");
        P codec;
        codec.select_encoder_mode(ZGCP::CodecMode::ulaw);
        EXPECT_EQ(done(20, ioctlCommand(codec)), "error=" + std::to_string(ZGCP::ErrorCause::unsupported));
        EXPECT_EQ(board->command("dump /dev/rtp"), sessions);
    }
    for (char const* path : {"/dev/dtmf", "/dev/dsp"})
        ASSERT_EQ(board->command(std::string("fail-read ") + path + " hangup 1"), "ok");
    for (char const* back : {"tonec interface opened\n", "dsproc interface opened\n"})
        EXPECT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said(back) > 0; })) << back << daemon.err();
    EXPECT_EQ(daemon.said("refused part of what is put back"), 0u) << daemon.err();
    // What the slot left on (the echo canceller, SD) went with the old descriptors.
    std::string const now = state(ts);
    EXPECT_NE(now.find("lms=off"), std::string::npos) << now;
    EXPECT_NE(now.find("on=none"), std::string::npos) << now;
    EXPECT_EQ(done(20, ioctlCommand(r.dtmfOn)), "error=" + std::to_string(ZGCP::ErrorCause::unsupported));
}

INSTANTIATE_TEST_SUITE_P(EveryKind, LostChannelFunctions, ::testing::Values(ToneKind::rtp, ToneKind::mixerIn),
                         [](::testing::TestParamInfo<ToneKind> const& info) {
                             return std::string(info.param == ToneKind::rtp ? "rtpSession" : "mixerUnit");
                         });

// A switch-off the driver refuses when a slot goes (destroyed, or losing its channel) is
// owed by the channel: the function stays on while the driver refuses, the next slot on the
// channel gets nothing done there before it is made, and once the driver takes it, it is
// made on the back-off without any request; the channel then serves the next slot as any.
struct OwedRow {
    char const* name;
    ToneKind kind;
    std::vector<P> before;
    char const* path;  // of the switch-off the driver refuses
    char const* request;
    End end = End::destroy;
    // The generator's setting to wait for before the slot goes (none: no generator).
    char const* phase = nullptr;
};

void PrintTo(OwedRow const& row, std::ostream* os) { *os << row.name; }

class OwedSwitchOffs : public ToneChannels, public ::testing::WithParamInterface<OwedRow> {
protected:
    // The slot goes as the row says.
    void end(unsigned slot, OwedRow const& row)
    {
        if (row.end == End::destroy) {
            EXPECT_EQ(done(slot, plainCommand(ZGCP::Command::destroy::id)), "success");
        } else if (row.kind == ToneKind::rtp) {
            ASSERT_EQ(board->command("fail-read /dev/rtp hangup"), "ok");
            ASSERT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said("fail to read from rtp: ") > 0; }));
        } else {
            ASSERT_EQ(board->command("device /dev/mixer remove 3"), "ok");
            resources();
            ASSERT_EQ(board->command("device /dev/mixer add 3 32 16"), "ok");
            resources();
        }
    }
    // The first request of a slot on the row's device.
    static P first(OwedRow const& row)
    {
        if (std::string(row.path) != "/dev/dtmf")
            return r.vadOn;
        return row.kind == ToneKind::mixerOut ? r.toneGen : r.dtmfOn;
    }
};

TEST_P(OwedSwitchOffs, AreMadeOnceTheDriverTakesThemBeforeAnythingElseOnTheChannel)
{
    OwedRow const& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(make(20, row.kind, 0));
    std::string const ts = channels.at(20);
    ASSERT_NO_FATAL_FAILURE(requests(20, row.before));
    if (row.phase) {
        ASSERT_TRUE(DaemonLauncher::waitFor([&] { return sounding(ts) == row.phase; }));
    }
    std::string const on = onDevice(row.path, ts);

    ASSERT_EQ(board->command(std::string("fail-request ") + row.path + " " + row.request + " EIO always"), "ok");
    ASSERT_NO_FATAL_FAILURE(end(20, row));
    ASSERT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said("still on: switched off once the driver takes it"); }))
        << daemon.err();
    if (row.phase) {
        EXPECT_NE(sounding(ts), kOff);
    } else {
        EXPECT_EQ(onDevice(row.path, ts), on);
    }

    // The next slot on the channel: nothing is done there while the switch-off is refused.
    ASSERT_NO_FATAL_FAILURE(make(21, row.kind, 0));
    bool const same = channels.at(21) == ts;
    EXPECT_EQ(done(21, ioctlCommand(first(row))) == "success", !same);

    // The driver takes it: made on the back-off, the channel as any channel a slot left.
    ASSERT_EQ(board->command("clear-failures"), "ok");
    ASSERT_NO_FATAL_FAILURE(make(22, row.kind, 1));
    ASSERT_NO_FATAL_FAILURE(requests(22, row.before));
    EXPECT_EQ(done(22, plainCommand(ZGCP::Command::destroy::id)), "success");
    std::string const left = functions(channels.at(22));
    // The longest wait of the back-off, within the controller's silence time-out.
    int const backOffBound = 100000;
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return functions(ts) == left; }, backOffBound))
        << functions(ts) << " vs " << left;
    if (row.phase) {
        EXPECT_EQ(sounding(ts), kOff);
    }

    // Used again, and let go of with nothing owed.
    if (same) {
        ASSERT_NO_FATAL_FAILURE(requests(21, {first(row)}));
    }
    EXPECT_EQ(done(21, plainCommand(ZGCP::Command::destroy::id)), "success");
    EXPECT_EQ(daemon.said("still on: switched off once the driver takes it"), 1u) << daemon.err();
    EXPECT_EQ(done(std::nullopt, plainCommand(ZGCP::Command::ping::id)), "success");
}

std::vector<OwedRow> owedRows()
{
    ToneKind const rtp = ToneKind::rtp, in = ToneKind::mixerIn, out = ToneKind::mixerOut;
    char const* const tone = "/dev/dtmf";
    char const* const voice = "/dev/dsp";
    static std::string const five = "770/1336/16384/16384";
    End const lost = End::channelLost;
    return {
        {"rtpWaitTone", rtp, {r.waitTone}, tone, "dial", End::destroy, kRing},
        {"rtpDigit", rtp, {r.digits}, tone, "dial", End::destroy, five.c_str()},
        {"outToneGenerator", out, {r.toneGen}, tone, "dial", End::destroy, "425/0/2048/0"},
        {"outDigits", out, {r.digits}, tone, "dial", End::destroy, five.c_str()},
        {"rtpDtmf", rtp, {r.dtmfOn}, tone, "disable"},
        {"inIva", in, {r.ivaOn}, tone, "iva-off"},
        {"rtpRejection", rtp, {r.rejectOn}, tone, "reject-off"},
        {"rtpVad", rtp, {r.vadOn}, voice, "disable"},
        {"rtpRxGain", rtp, {r.gain}, voice, "configure"},
        {"rtpToneFilter", rtp, {r.filter}, voice, "disable"},
        {"inDelays", in, {r.delays}, voice, "configure"},
        {"rtpWaitToneWithItsSession", rtp, {r.waitTone}, tone, "dial", lost, kRing},
        {"rtpDtmfWithItsSession", rtp, {r.dtmfOn}, tone, "disable", lost},
        {"outToneGeneratorWithItsUnit", out, {r.toneGen}, tone, "dial", lost, "425/0/2048/0"},
        {"inVadWithItsUnit", in, {r.vadOn}, voice, "disable", lost},
    };
}

INSTANTIATE_TEST_SUITE_P(EveryFunction, OwedSwitchOffs, ::testing::ValuesIn(owedRows()),
                         [](::testing::TestParamInfo<OwedRow> const& info) { return std::string(info.param.name); });

}  // namespace
