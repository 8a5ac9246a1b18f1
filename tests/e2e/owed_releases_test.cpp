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
};

void PrintTo(OwedRow const& row, std::ostream* os) { *os << row.name; }

class OwedReleases : public testsupport::SimDaemonTest, public ::testing::WithParamInterface<OwedRow> {
protected:
    // The row's board, and the slot that lends the channel.
    void prepare()
    {
        for (std::string const& command : GetParam().setup)
            ASSERT_EQ(board->command(command), "ok") << command;
        // The factories count the board's units again.
        resources();
        if (GetParam().lender) {
            ASSERT_EQ(on(30, create(*GetParam().lender)), "success");
        }
    }
    std::string held() { return board->command(GetParam().held); }
};

// What is checked before the back-off's wait ends the row at once when it fails: a debt lost
// there would only show as that wait running out.
TEST_P(OwedReleases, AreMadeOnTheBackOffBeforeTheChannelIsTakenAgain)
{
    OwedRow const& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(prepare());
    std::string const clean = held();
    ASSERT_EQ(on(20, create(row.params)), "success");
    std::string const taken = held();
    ASSERT_NE(taken, clean);

    ASSERT_EQ(board->command(std::string("fail-request ") + row.refuse + " EIO always"), "ok");
    ASSERT_EQ(done(20, destroyCmd), "success");
    ASSERT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said(kOwed) > 0; })) << daemon.err();
    ASSERT_EQ(held(), taken);
    ASSERT_EQ(on(21, create(row.params)), kDeclined);
    ASSERT_EQ(held(), taken);

    // The longest wait of the back-off, within the controller's silence time-out.
    ASSERT_EQ(board->command("clear-failures"), "ok");
    ASSERT_TRUE(DaemonLauncher::waitFor([&] { return held() == clean; }, 100000)) << held();

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
    return {
        {"mixerInputRoute", unit, {}, mixerInParams(3, tdmChannel(1), tdmChannel(0)), "/dev/mixer rx-remove",
         "device /dev/mixer routes 3"},
        {"mixerOutputSources", unit, {}, mixerOutParams(3, tdmChannel(0), {{tdmChannel(1), 20000}}),
         "/dev/mixer rx-clear", "device /dev/mixer routes 3"},
        {"qsigBChannel", {}, qsigParams(true), qsigBParams(30, 1), "/dev/dsp-data delete-b", "dump /dev/dsp-data"},
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

INSTANTIATE_TEST_SUITE_P(EveryKind, RefusedOnce, ::testing::ValuesIn(owedRows()),
                         [](::testing::TestParamInfo<OwedRow> const& info) { return std::string(info.param.name); });

// A digital modem's interface, over every stage its slot can be in when it goes with the
// interface's reset refused. The reset is owed only where the slot changed the interface, that
// is asked for PPP on it, whether the driver took the switch or not and whether pppd still ran,
// had ended or never started: said once, the interface not handed out (the next digital modem
// takes a modem of "/dev/mctl"), made on the back-off once the driver takes it, said once
// more. A slot that never asked for PPP (never connected, or the interface's settings unread)
// hands the interface back at once with the refused request's line, and the next slot takes
// it. An interface that vanishes while held refuses the reset as no such device; the simulated
// board keeps its settings, PPP included, until it comes back, so its reset stays owed until
// then. Either way a slot then runs PPP on the interface again.
struct StageRow {
    char const* name;
    char const* pppd;                   // the stub's settings
    std::vector<std::string> before;    // console commands before the connect
    std::optional<std::string> answer;  // the connect's answer; none: no connect
    char const* stage;                  // the line that shows the stage reached (nullptr: none)
    std::vector<std::string> holding;   // console commands while the slot holds the interface
    char const* refuse;                 // the console command that has the reset refused
    char const* refused;                // the line of the refused request
    std::vector<std::string> back;      // the console commands that give the driver back
    bool owed;
};

void PrintTo(StageRow const& row, std::ostream* os) { *os << row.name; }

// The interface as the board has it, point-to-point, when nothing is set on it.
char const kReset[] = "ok p2p=on channel=7200 proto=hdlc up=off";
// The line that says an owed reset is made.
char const kMade[] = "interface hdlc0 handed back: reset";

class DigitalModemReset : public testsupport::SimDaemonTest, public ::testing::WithParamInterface<StageRow> {
protected:
    std::string dump() { return board->command("dump hdlc0"); }
    // The interface's state and the free interfaces' count (which the factory counts again).
    std::string held()
    {
        return dump() + " digital-modems=" + std::to_string(resources().get_digital_modems().getValue());
    }
    // Whether the driver has taken a setting of the interface (the reset's last request, as no
    // slot holds it) since the mark, which moves past what was read. The console is served on
    // the daemon's loop: the pass that made the reset has ended.
    bool madeSince(unsigned long long& mark)
    {
        unsigned long long const end = journalNext();
        std::vector<std::string> const settings = journal(mark, "iface hdlc0 wandev ");
        mark = end;
        return std::any_of(settings.begin(), settings.end(), [](std::string const& entry) {
            return entry.size() > 5 && entry.compare(entry.size() - 5, 5, " -> 0") == 0;
        });
    }
};

TEST_P(DigitalModemReset, IsOwedOnlyWhereTheSlotChangedTheInterface)
{
    StageRow const& row = GetParam();
    testsupport::StubChild pppd(daemon.root(), "/usr/local/sbin/pppd");
    pppd.configure(row.pppd);
    ASSERT_EQ(board->command("device hdlc0 p2p on"), "ok");
    ASSERT_NO_FATAL_FAILURE(trunkSlot7());
    std::string const clean = held();
    ASSERT_EQ(clean, std::string(kReset) + " digital-modems=1");
    TERM::ModemParams params = testsupport::modemParams("");
    params.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddmV110));
    ZGCP::CreateParams const digital = testsupport::modemCreate(params);
    ASSERT_EQ(on(20, create(digital)), "success");
    for (std::string const& command : row.before)
        ASSERT_EQ(board->command(command), "ok") << command;
    if (row.answer) {
        EXPECT_EQ(done(20, connect(7)), *row.answer);
    }
    if (row.stage) {
        ASSERT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said(row.stage) > 0; })) << daemon.err();
    }
    for (std::string const& command : row.holding)
        ASSERT_EQ(board->command(command), "ok") << command;
    std::string const shown = dump();
    std::string const taken = held();
    // Whatever the slot went through, it holds the interface.
    ASSERT_EQ(taken, shown + " digital-modems=0");

    ASSERT_EQ(board->command(row.refuse), "ok");
    ASSERT_EQ(done(20, destroyCmd), "success");
    // Answered once all the let-go says is said.
    ASSERT_EQ(done(std::nullopt, testsupport::plainCommand(ZGCP::Command::ping::id)), "success");
    ASSERT_EQ(daemon.said(row.refused), 1u) << daemon.err();
    ASSERT_EQ(daemon.said(kOwed), row.owed ? 1u : 0u) << daemon.err();
    ASSERT_EQ(dump(), shown);
    // The next slot, on the free list as the let-go left it: the interface (its let-go says the
    // refused reset), the driver still refusing, unless its reset is owed.
    ASSERT_EQ(on(21, create(digital)), "success");
    ASSERT_EQ(held(), taken);
    ASSERT_EQ(done(21, destroyCmd), "success");
    ASSERT_EQ(held(), row.owed ? taken : clean);
    ASSERT_EQ(daemon.said("21:digital-modem"), row.owed ? 0u : 1u) << daemon.err();

    // The longest wait of the back-off, within the controller's silence time-out.
    unsigned long long mark = journalNext();
    for (std::string const& command : row.back)
        ASSERT_EQ(board->command(command), "ok") << command;
    if (row.owed) {
        ASSERT_TRUE(DaemonLauncher::waitFor([&] { return madeSince(mark); }, 100000)) << dump();
    }
    ASSERT_EQ(dump(), kReset);
    ASSERT_EQ(daemon.said(kMade), row.owed ? 1u : 0u) << daemon.err();

    // A slot runs PPP on the interface again, from the free list as the back-off left it.
    EXPECT_EQ(on(22, create(digital)), "success");
    EXPECT_EQ(done(22, connect(7)), "success");
    EXPECT_EQ(held(), "ok p2p=on channel=7200 proto=ppp up=off digital-modems=0");
    EXPECT_EQ(done(22, destroyCmd), "success");
    EXPECT_EQ(held(), clean);
    EXPECT_EQ(daemon.said(kOwed), row.owed ? 1u : 0u) << daemon.err();
    EXPECT_EQ(daemon.said(kMade), row.owed ? 1u : 0u) << daemon.err();
}

std::vector<StageRow> stageRows()
{
    std::string const connected = "success";
    std::string const unread = "error=" + std::to_string(ZGCP::ErrorCause::connectFail);
    char const* const refuse = "fail-request hdlc0 set-flags EIO always";
    char const* const refused = "SIOCSIFFLAGS fail!!!";
    char const* const running = "pppd executed";
    std::vector<std::string> const cleared{"clear-failures"};
    std::vector<std::string> const up{"device hdlc0 up on"};
    return {
        {"neverConnected", "", {}, std::nullopt, nullptr, {}, refuse, refused, cleared, false},
        {"settingsUnread", "", {"fail-request hdlc0 wandev EIO 1"}, unread, "SIOCWANDEV/IF_GET_IFACE fail!", {},
         refuse, refused, cleared, false},
        {"pppRefused", "", {"device hdlc0 ppp off"}, connected, "SIOCWANDEV/IF_PROTO_PPP fail!", {}, refuse, refused,
         {"clear-failures", "device hdlc0 ppp on"}, true},
        {"linked", "", {}, connected, running, up, refuse, refused, cleared, true},
        {"pppdEnded", "RUN=0", {}, connected, "pppd terminated with code 0", up, refuse, refused, cleared, true},
        {"interfaceLost", "", {}, connected, running, up, "remove hdlc0", "SIOCGIFFLAGS fail!!!", {"restore hdlc0"},
         true},
    };
}

INSTANTIATE_TEST_SUITE_P(EveryStage, DigitalModemReset, ::testing::ValuesIn(stageRows()),
                         [](::testing::TestParamInfo<StageRow> const& info) { return std::string(info.param.name); });

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
