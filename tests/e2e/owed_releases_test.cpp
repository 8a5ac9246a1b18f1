// What a slot lets go of and the driver refuses to take back (a mixer route, a QSIG B channel,
// a digital modem's interface) is owed, on the daemon running on the simulated board: it stays
// with the driver while refused and nothing new takes it; once the driver takes it, it is made
// on the back-off without any request, and the channel then serves as any. Only what the slot
// had is owed: a switch-off of something that was not on is refused with a line and leaves the
// channel free.

#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"
#include "tests/tone_channels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::DaemonLauncher;
using testsupport::tdmChannel;

ZGCP::Command const destroyCmd = testsupport::plainCommand(ZGCP::Command::destroy::id);
// In the one line that says what is owed.
char const kOwed[] = "once the driver takes it";
std::string const kDeclined = "error=" + std::to_string(ZGCP::ErrorCause::insufficientResources);
using P = ZGCP::IoctlParams;

P rxGain(int dB)
{
    P p;
    p.select_rx_gain().set_gainDB(dB);
    return p;
}

struct OwedRow {
    char const* name;
    std::vector<std::string> setup;            // console commands
    std::optional<ZGCP::CreateParams> lender;  // slot 30, which lends the channel
    ZGCP::CreateParams params;                 // the slot on the channel
    char const* refuse;                        // PATH REQUEST of its release
    char const* held;                          // the console command showing what the driver holds
    // A digital modem: pppd brings its interface up; the free interfaces count as held, and
    // while its reset is owed the create takes a modem of "/dev/mctl".
    bool digital = false;
};

void PrintTo(OwedRow const& row, std::ostream* os) { *os << row.name; }

class OwedReleases : public testsupport::SimDaemonTest, public ::testing::WithParamInterface<OwedRow> {
protected:
    // The row's board, and the slot that lends the channel.
    void prepare()
    {
        for (std::string const& command : GetParam().setup)
            ASSERT_EQ(board->command(command), "ok") << command;
        resources();
        if (GetParam().lender) {
            ASSERT_EQ(on(30, create(*GetParam().lender)), "success");
        }
    }
    std::string held()
    {
        std::string const text = board->command(GetParam().held);
        if (!GetParam().digital)
            return text;
        return text + " digital-modems=" + std::to_string(resources().get_digital_modems().getValue());
    }
};

TEST_P(OwedReleases, AreMadeOnTheBackOffBeforeTheChannelIsTakenAgain)
{
    OwedRow const& row = GetParam();
    testsupport::StubChild pppd(daemon.root(), "/usr/local/sbin/pppd");
    ASSERT_NO_FATAL_FAILURE(prepare());
    std::string const clean = held();
    ASSERT_EQ(on(20, create(row.params)), "success");
    if (row.digital) {
        ASSERT_NO_FATAL_FAILURE(trunkSlot7());
        EXPECT_EQ(done(20, connect(7)), "success");
        ASSERT_EQ(board->command("device hdlc0 up on"), "ok");
    }
    std::string const taken = held();
    EXPECT_NE(taken, clean);

    ASSERT_EQ(board->command(std::string("fail-request ") + row.refuse + " EIO always"), "ok");
    EXPECT_EQ(done(20, destroyCmd), "success");
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said(kOwed) > 0; })) << daemon.err();
    EXPECT_EQ(held(), taken);
    EXPECT_EQ(on(21, create(row.params)), row.digital ? "success" : kDeclined);
    if (row.digital) {
        EXPECT_EQ(done(21, destroyCmd), "success");
    }
    EXPECT_EQ(held(), taken);

    // The longest wait of the back-off, within the controller's silence time-out.
    ASSERT_EQ(board->command("clear-failures"), "ok");
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return held() == clean; }, 100000)) << held();

    EXPECT_EQ(on(22, create(row.params)), "success");
    EXPECT_NE(held(), clean);
    EXPECT_EQ(done(22, destroyCmd), "success");
    EXPECT_EQ(held(), clean);
    EXPECT_EQ(daemon.said(kOwed), 1u) << daemon.err();
}

std::vector<OwedRow> owedRows()
{
    using namespace testsupport;
    std::vector<std::string> const unit{"device /dev/mixer add 3 32 16"};
    TERM::ModemParams digital = modemParams("");
    digital.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddmV110));
    return {
        {"mixerInputRoute", unit, {}, mixerInParams(3, tdmChannel(1), tdmChannel(0)), "/dev/mixer rx-remove",
         "device /dev/mixer routes 3"},
        {"mixerOutputSources", unit, {}, mixerOutParams(3, tdmChannel(0), {{tdmChannel(1), 20000}}),
         "/dev/mixer rx-clear", "device /dev/mixer routes 3"},
        {"qsigBChannel", {}, qsigParams(true), qsigBParams(30, 1), "/dev/dsp-data delete-b", "dump /dev/dsp-data"},
        {"digitalModemInterface", {"device hdlc0 p2p on"}, {}, modemCreate(digital), "hdlc0 set-flags", "dump hdlc0",
         true},
    };
}

INSTANTIATE_TEST_SUITE_P(EveryKind, OwedReleases, ::testing::ValuesIn(owedRows()),
                         [](::testing::TestParamInfo<OwedRow> const& info) { return std::string(info.param.name); });

// A release refused once is owed, and made when a new slot takes the channel before the
// back-off's first try: the slot is served on the channel the driver has back.
class RefusedOnce : public OwedReleases {};

TEST_P(RefusedOnce, IsMadeBeforeTheChannelIsTakenAgain)
{
    OwedRow const& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(prepare());
    std::string const clean = held();
    ASSERT_EQ(on(20, create(row.params)), "success");
    std::string const taken = held();

    ASSERT_EQ(board->command(std::string("fail-request ") + row.refuse + " EIO 1"), "ok");
    EXPECT_EQ(done(20, destroyCmd), "success");
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said(kOwed) > 0; })) << daemon.err();
    EXPECT_EQ(on(21, create(row.params)), "success");
    EXPECT_EQ(held(), taken);
    EXPECT_EQ(done(21, destroyCmd), "success");
    EXPECT_EQ(held(), clean);
    EXPECT_EQ(daemon.said(kOwed), 1u) << daemon.err();
}

// The kinds whose channel a new slot takes again (a digital modem takes another modem).
std::vector<OwedRow> lentRows()
{
    std::vector<OwedRow> rows = owedRows();
    rows.erase(std::remove_if(rows.begin(), rows.end(), [](OwedRow const& r) { return r.digital; }), rows.end());
    return rows;
}

INSTANTIATE_TEST_SUITE_P(EveryKind, RefusedOnce, ::testing::ValuesIn(lentRows()),
                         [](::testing::TestParamInfo<OwedRow> const& info) { return std::string(info.param.name); });

// A digital modem owes its interface's reset only where it changed the interface (asked for
// PPP on it; the linked modem of OwedReleases does): one never connected, or whose interface
// settings could not be read, hands the interface back at once when the driver refuses the
// reset, with the refused request's line, and the next slot takes it.
struct UnchangedRow {
    char const* name;
    char const* beforeConnect;  // a console command; nullptr: no connect
};

void PrintTo(UnchangedRow const& row, std::ostream* os) { *os << row.name; }

class UnchangedInterface : public testsupport::SimDaemonTest, public ::testing::WithParamInterface<UnchangedRow> {
protected:
    int free() { return resources().get_digital_modems().getValue(); }
};

TEST_P(UnchangedInterface, IsHandedBackAtOnceThoughItsResetIsRefused)
{
    UnchangedRow const& row = GetParam();
    ASSERT_EQ(board->command("device hdlc0 p2p on"), "ok");
    ASSERT_EQ(free(), 1);
    TERM::ModemParams params = testsupport::modemParams("");
    params.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddmV110));
    ZGCP::CreateParams const digital = testsupport::modemCreate(params);
    ASSERT_EQ(on(20, create(digital)), "success");
    ASSERT_EQ(free(), 0);
    if (row.beforeConnect) {
        ASSERT_NO_FATAL_FAILURE(trunkSlot7());
        ASSERT_EQ(board->command(row.beforeConnect), "ok");
        EXPECT_NE(done(20, connect(7)), "success");
    }

    ASSERT_EQ(board->command("fail-request hdlc0 set-flags EIO always"), "ok");
    EXPECT_EQ(done(20, destroyCmd), "success");
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said("SIOCSIFFLAGS fail!!!") > 0; })) << daemon.err();
    EXPECT_EQ(free(), 1);

    // The next slot takes the interface, the driver still refusing, and gives it back.
    EXPECT_EQ(on(21, create(digital)), "success");
    EXPECT_EQ(free(), 0);
    EXPECT_EQ(done(21, destroyCmd), "success");
    EXPECT_EQ(free(), 1);
    EXPECT_EQ(daemon.said(kOwed), 0u) << daemon.err();
}

INSTANTIATE_TEST_SUITE_P(EveryStage, UnchangedInterface,
                         ::testing::Values(UnchangedRow{"neverConnected", nullptr},
                                           UnchangedRow{"settingsUnread", "fail-request hdlc0 wandev EIO 1"}),
                         [](::testing::TestParamInfo<UnchangedRow> const& info) { return std::string(info.param.name); });

// The tone and voice-processing functions: a slot let go of while the driver refuses every
// switch-off but those of settings (which would refuse the next slot's settings too) owes only
// what it had on; the tone filters' switch-off, sent at every let-go,
// owes nothing where the channel had none. The next slot on the channel is served, and lets
// go of it with nothing owed once the driver takes its switch-offs.
struct HadRow {
    char const* name;
    testsupport::ToneKind kind;
    std::vector<ZGCP::IoctlParams> before;
    char const* owed;   // what the owed line names ("": nothing is owed)
    testsupport::End end = testsupport::End::destroy;
};

void PrintTo(HadRow const& row, std::ostream* os) { *os << row.name; }

class OnlyWhatWasOn : public testsupport::ToneChannels, public ::testing::WithParamInterface<HadRow> {};

TEST_P(OnlyWhatWasOn, IsOwedWhenTheDriverRefusesToSwitchItOff)
{
    HadRow const& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(make(20, row.kind, 0));
    std::string const ts = channels.at(20);
    ASSERT_NO_FATAL_FAILURE(requests(20, row.before));
    for (char const* refused :
         {"/dev/dsp disable", "/dev/dtmf disable", "/dev/dtmf iva-off", "/dev/dtmf reject-off", "/dev/dtmf dial"})
        ASSERT_EQ(board->command(std::string("fail-request ") + refused + " EIO always"), "ok");
    ASSERT_NO_FATAL_FAILURE(letGo(20, row.kind, row.end));
    ASSERT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said("Disable All Tone fail: timeslot=" + ts) > 0; }))
        << daemon.err();
    bool const owes = *row.owed != '\0';
    EXPECT_EQ(daemon.said(kOwed), owes ? 1u : 0u) << daemon.err();
    EXPECT_EQ(daemon.said("timeslot " + ts + " let go of with " + row.owed + " still on"), owes ? 1u : 0u);

    // The next slot on the channel, the refusals still there: served unless something is owed.
    ASSERT_NO_FATAL_FAILURE(make(21, row.kind, 0));
    std::vector<P> const next = {P{P::vad_enable::id, true}, testsupport::toneFilterIoctl(1000, 100, -20)};
    ASSERT_EQ(channels.at(21), ts) << "the next slot is not on the channel let go of";
    for (P const& p : next)
        EXPECT_EQ(done(21, testsupport::ioctlCommand(p)) == "success", !owes) << p.asValueNotation();
    ASSERT_EQ(board->command("clear-failures"), "ok");
    ASSERT_NO_FATAL_FAILURE(requests(21, next));
    EXPECT_EQ(done(21, destroyCmd), "success");
    EXPECT_EQ(daemon.said(kOwed), owes ? 1u : 0u) << daemon.err();
    EXPECT_EQ(done(std::nullopt, testsupport::plainCommand(ZGCP::Command::ping::id)), "success");
}

std::vector<HadRow> hadRows()
{
    using testsupport::ToneKind;
    P vadOff, delays, delaysOff;
    vadOff.select_vad_disable();
    delays.select_delays().set_rx(10);
    delays.ref_delays().set_tx(20);
    delaysOff.select_delays().set_rx(0);
    delaysOff.ref_delays().set_tx(0);
    P const filter = testsupport::toneFilterIoctl(2100, 400, -30);
    P filterOff = filter;
    filterOff.ref_tone_filter().set_enable(false);
    P const vadOn{P::vad_enable::id, true}, dtmfOn{P::dtmf_enable::id, true}, dtmfOff{P::dtmf_enable::id, false};
    std::vector<P> const rtpOnAndOff{vadOn, vadOff, rxGain(-6), rxGain(0), filter, filterOff, dtmfOn, dtmfOff};
    std::vector<P> const inOnAndOff{delays, delaysOff, rxGain(-6), rxGain(0), vadOn, vadOff};
    return {
        {"rtpNothing", ToneKind::rtp, {}, ""},
        {"inNothing", ToneKind::mixerIn, {}, ""},
        {"outNothing", ToneKind::mixerOut, {}, ""},
        {"rtpNothingWithItsSession", ToneKind::rtp, {}, "", testsupport::End::channelLost},
        {"rtpOnAndOffAgain", ToneKind::rtp, rtpOnAndOff, ""},
        {"inOnAndOffAgain", ToneKind::mixerIn, inOnAndOff, ""},
        {"inVadAndFilter", ToneKind::mixerIn, {vadOn, filter}, "VAD, the tone filters"},
        {"outVad", ToneKind::mixerOut, {vadOn}, "VAD"},
    };
}

INSTANTIATE_TEST_SUITE_P(EveryKind, OnlyWhatWasOn, ::testing::ValuesIn(hadRows()),
                         [](::testing::TestParamInfo<HadRow> const& info) { return std::string(info.param.name); });

}  // namespace
