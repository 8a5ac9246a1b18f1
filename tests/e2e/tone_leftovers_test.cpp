// A slot that goes leaves its channel silent, on the daemon running on the simulated board.
//
// A slot destroyed in each phase of what its generator plays (the wait tone's tone and its
// silence, a digit and its pause, a mixer port's tone), or losing its channel meanwhile,
// leaves the generator off, and the next slot made on that channel starts with nothing
// sounding; nothing sounds on the channel afterwards. What the driver refuses to switch off
// then is owed by the channel: made once the driver takes it, before anything else on the
// channel, each function named once as owed and once as made.

#include "tests/tone_channels.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/slot_commands.h"

namespace {

using namespace testsupport;
using P = ZGCP::IoctlParams;

ToneRequests const r;

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

    ASSERT_NO_FATAL_FAILURE(letGo(20, row.kind, row.end));
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return sounding(ts) == kOff; }))
        << board->command("device /dev/dtmf generator " + ts);
    std::size_t const settings = generator(ts).size();

    // The next slot on the channel: for an RTP channel, the one the driver hands out next, the
    // lowest free.
    if (row.end == End::channelLost) {
        ASSERT_EQ(board->command("clear-failures"), "ok");
        if (row.kind != ToneKind::rtp) {
            ASSERT_EQ(board->command("device /dev/mixer add 3 32 16"), "ok");
            resources();
        }
    }
    ASSERT_NO_FATAL_FAILURE(make(21, row.kind, 0));
    ASSERT_EQ(channels.at(21), ts) << "the next slot is not on the channel let go of";
    EXPECT_EQ(sounding(ts), kOff);
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

// The first request of a slot on the row's device.
P first(OwedRow const& row)
{
    if (std::string(row.path) != "/dev/dtmf")
        return r.vadOn;
    return row.kind == ToneKind::mixerOut ? r.toneGen : r.dtmfOn;
}

class OwingChannel : public ToneChannels {
protected:
    // Slot 20 on the row's channel (ts) is let go of with the row's switch-off refused from
    // now on, and owes it.
    void owing(OwedRow const& row)
    {
        ASSERT_NO_FATAL_FAILURE(make(20, row.kind, 0));
        ts = channels.at(20);
        ASSERT_NO_FATAL_FAILURE(requests(20, row.before));
        if (row.phase) {
            ASSERT_TRUE(DaemonLauncher::waitFor([&] { return sounding(ts) == row.phase; }));
        }
        on = onDevice(row.path, ts);
        ASSERT_EQ(board->command(std::string("fail-request ") + row.path + " " + row.request + " EIO always"), "ok");
        ASSERT_NO_FATAL_FAILURE(letGo(20, row.kind, row.end, true));
        ASSERT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said(kStillOn); })) << daemon.err();
    }
    // The owed switch-off is made on the channel.
    bool made(OwedRow const& row) { return row.phase ? sounding(ts) == kOff : onDevice(row.path, ts) != on; }

    static constexpr char const* kStillOn = "still on: switched off once the driver takes it";
    std::string ts;
    // What the row's device showed of the channel before the let-go.
    std::string on;
};

class OwedSwitchOffs : public OwingChannel, public ::testing::WithParamInterface<OwedRow> {};

TEST_P(OwedSwitchOffs, AreMadeOnceTheDriverTakesThemBeforeAnythingElseOnTheChannel)
{
    OwedRow const& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(owing(row));
    ASSERT_FALSE(made(row));

    // The next slot on the channel: nothing is done there while the switch-off is refused.
    ASSERT_NO_FATAL_FAILURE(make(21, row.kind, 0));
    ASSERT_EQ(channels.at(21), ts) << "the next slot is not on the channel that owes";
    ASSERT_NE(done(21, ioctlCommand(first(row))), "success");

    // The driver takes it: made on the back-off, the channel as any channel a slot left.
    ASSERT_EQ(board->command("clear-failures"), "ok");
    ASSERT_NO_FATAL_FAILURE(make(22, row.kind, 1));
    ASSERT_NO_FATAL_FAILURE(requests(22, row.before));
    ASSERT_EQ(done(22, plainCommand(ZGCP::Command::destroy::id)), "success");
    std::string const left = functions(channels.at(22));
    // The longest wait of the back-off, within the controller's silence time-out.
    int const backOffBound = 100000;
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return functions(ts) == left; }, backOffBound))
        << functions(ts) << " vs " << left;
    if (row.phase) {
        EXPECT_EQ(sounding(ts), kOff);
    }

    // Used again, and let go of with nothing owed.
    ASSERT_NO_FATAL_FAILURE(requests(21, {first(row)}));
    EXPECT_EQ(done(21, plainCommand(ZGCP::Command::destroy::id)), "success");
    EXPECT_EQ(daemon.said(kStillOn), 1u) << daemon.err();
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

// A later slot on a channel that owes a switch-off sets nothing and goes: its let-go keeps the
// debt while the driver refuses it (made on the back-off), and makes it once the driver takes
// it, with the line the back-off writes. The channel then serves the next slot as any.
class OwedAtTheNextLetGo : public OwingChannel, public ::testing::WithParamInterface<std::tuple<OwedRow, bool>> {};

TEST_P(OwedAtTheNextLetGo, IsKeptWhileRefusedAndMadeWithItsLine)
{
    auto const& [row, taken] = GetParam();
    ASSERT_NO_FATAL_FAILURE(owing(row));
    std::string const paid = "timeslot " + ts + " let go of: ";
    ASSERT_NO_FATAL_FAILURE(make(21, row.kind, 0));
    ASSERT_EQ(channels.at(21), ts) << "the next slot is not on the channel that owes";

    if (taken) {
        ASSERT_EQ(board->command("clear-failures"), "ok");
    }
    ASSERT_EQ(done(21, plainCommand(ZGCP::Command::destroy::id)), "success");
    ASSERT_EQ(made(row), taken);
    ASSERT_EQ(daemon.said(paid), taken ? 1u : 0u) << daemon.err();
    if (!taken) {
        // The longest wait of the back-off, within the controller's silence time-out.
        ASSERT_EQ(board->command("clear-failures"), "ok");
        EXPECT_TRUE(DaemonLauncher::waitFor([&] { return made(row) && daemon.said(paid) == 1; }, 100000))
            << daemon.err();
    }

    // Used again, with nothing owed.
    ASSERT_NO_FATAL_FAILURE(make(22, row.kind, 0));
    ASSERT_EQ(channels.at(22), ts);
    ASSERT_NO_FATAL_FAILURE(requests(22, {first(row)}));
    EXPECT_EQ(done(22, plainCommand(ZGCP::Command::destroy::id)), "success");
    EXPECT_EQ(daemon.said(kStillOn), 1u) << daemon.err();
    EXPECT_EQ(daemon.said(paid), 1u) << daemon.err();
}

INSTANTIATE_TEST_SUITE_P(
    EveryFunction, OwedAtTheNextLetGo, ::testing::Combine(::testing::ValuesIn(owedRows()), ::testing::Bool()),
    [](::testing::TestParamInfo<std::tuple<OwedRow, bool>> const& info) {
        return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "Taken" : "Refused");
    });

// A channel let go of with two functions whose switch-offs the driver refuses owes both, said
// in one line; the driver then takes the first but not the second, and whatever makes the
// first (the back-off, the next request on the channel, the let-go of a later slot there)
// says so in a line that names it alone, saying nothing more of the second, still owed; the
// next request made once the driver takes the second makes it, with its own line. Each is
// named once as owed and once as made, and the channel then serves as any.
struct PairRow {
    char const* name;
    std::vector<P> before;
    char const* path;
    struct Function {
        char const* request;  // of its switch-off
        char const* name;     // in the lines
        char const* on;       // in the device's dump of the channel while it is on
    } first, second;
};

void PrintTo(PairRow const& row, std::ostream* os) { *os << row.name; }

enum class Way { backOff, nextRequest, laterLetGo };

char const* const kWays[] = {"ByTheBackOff", "ByTheNextRequest", "ByALaterLetGo"};

void PrintTo(Way way, std::ostream* os) { *os << kWays[int(way)]; }

class OwedInPart : public ToneChannels, public ::testing::WithParamInterface<std::tuple<PairRow, Way>> {
protected:
    bool on(PairRow::Function const& f) { return onDevice(std::get<0>(GetParam()).path, ts).find(f.on) != std::string::npos; }
    std::size_t made(PairRow::Function const& f) { return daemon.said(paid + f.name + " switched off"); }

    std::string ts;
    std::string paid;
};

TEST_P(OwedInPart, SaysWhatItMadeAndNothingTwice)
{
    auto const& [row, way] = GetParam();
    ASSERT_NO_FATAL_FAILURE(make(20, ToneKind::rtp, 0));
    ts = channels.at(20);
    paid = "timeslot " + ts + " let go of: ";
    ASSERT_NO_FATAL_FAILURE(requests(20, row.before));
    ASSERT_TRUE(on(row.first) && on(row.second)) << onDevice(row.path, ts);

    // The first switch-off refused once (at the let-go), the second until the failures end.
    std::string const refuse = std::string("fail-request ") + row.path + " ";
    ASSERT_EQ(board->command(refuse + row.first.request + " EIO 1"), "ok");
    ASSERT_EQ(board->command(refuse + row.second.request + " EIO always"), "ok");
    EXPECT_EQ(done(20, plainCommand(ZGCP::Command::destroy::id)), "success");
    std::string const owed =
        "timeslot " + ts + " let go of with " + row.first.name + ", " + row.second.name + " still on";
    ASSERT_EQ(daemon.said(owed), 1u) << daemon.err();

    // The first is made; the line that says so comes before the answer of what made it.
    if (way == Way::backOff) {
        ASSERT_TRUE(DaemonLauncher::waitFor([&] { return !on(row.first); })) << onDevice(row.path, ts);
    } else {
        ASSERT_NO_FATAL_FAILURE(make(21, ToneKind::rtp, 0));
        ASSERT_EQ(channels.at(21), ts) << "the next slot is not on the channel that owes";
        ZGCP::Command const command =
            way == Way::nextRequest ? ioctlCommand(row.before.front()) : plainCommand(ZGCP::Command::destroy::id);
        EXPECT_EQ(done(21, command) == "success", way == Way::laterLetGo);
    }
    ASSERT_FALSE(on(row.first)) << onDevice(row.path, ts);
    ASSERT_TRUE(on(row.second)) << onDevice(row.path, ts);
    ASSERT_EQ(made(row.first), 1u) << daemon.err();
    ASSERT_EQ(made(row.second), 0u) << daemon.err();

    // The driver takes the second: the next request on the channel makes it first.
    ASSERT_EQ(board->command("clear-failures"), "ok");
    if (way != Way::nextRequest) {
        ASSERT_NO_FATAL_FAILURE(make(21, ToneKind::rtp, 0));
        ASSERT_EQ(channels.at(21), ts) << "the next slot is not on the channel that owes";
    }
    ASSERT_NO_FATAL_FAILURE(requests(21, row.before));
    EXPECT_EQ(made(row.second), 1u) << daemon.err();
    EXPECT_EQ(done(21, plainCommand(ZGCP::Command::destroy::id)), "success");
    EXPECT_FALSE(on(row.first) || on(row.second)) << onDevice(row.path, ts);

    // Each named once as owed and once as made.
    EXPECT_EQ(daemon.said("still on: switched off once the driver takes it"), 1u) << daemon.err();
    EXPECT_EQ(daemon.said(paid), 2u) << daemon.err();
    EXPECT_EQ(made(row.first), 1u) << daemon.err();
}

std::vector<PairRow> pairRows()
{
    return {
        {"vadAndRxGain", {r.vadOn, r.gain}, "/dev/dsp", {"disable", "VAD", "on=vad"},
         {"configure", "the receive gain", "gain=-6"}},
        {"dtmfAndRejection", {r.dtmfOn, r.rejectOn}, "/dev/dtmf", {"disable", "the DTMF detector", "dtmf=on"},
         {"reject-off", "the DTMF rejection", "reject=on"}},
    };
}

std::string pairRowName(::testing::TestParamInfo<std::tuple<PairRow, Way>> const& info)
{
    return std::string(std::get<0>(info.param).name) + kWays[int(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(TwoFunctions, OwedInPart,
                         ::testing::Combine(::testing::ValuesIn(pairRows()),
                                            ::testing::Values(Way::backOff, Way::nextRequest, Way::laterLetGo)),
                         pairRowName);

}  // namespace
