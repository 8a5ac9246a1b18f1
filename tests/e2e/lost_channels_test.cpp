// Every slot kind that can lose its channel while it lives, on the daemon running on the
// simulated board: slot 10, joined with trunk slot 1 (switch channel 65), loses its channel the
// way its kind loses it, and a new slot of the kind (11), joined with trunk slot 2, takes the
// same channel. The old slot then takes no link from or to trunk slot 3, its destroy leaves
// the live routes as they are, and when everything is destroyed nothing is left in the switch.

#include "tests/loopback.h"
#include "tests/radio_commands.h"
#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>

#include <functional>
#include <sstream>
#include <string>

namespace {

using namespace testsupport;

class LostChannels;
using Action = std::function<void(LostChannels&)>;
using Params = std::function<ZGCP::CreateParams(LostChannels&)>;

struct Row {
    char const* name;
    // Whether the kind has an output and an input.
    bool output;
    bool input;
    // Of the old slot and of the new one.
    Params params;
    // Takes the channel away from the old slot (and brings back what the new one needs).
    Action takeAway;
    // What the old slot needs first.
    Action before = [](LostChannels&) {};
    // The kind takes user data for its channel.
    bool userData = false;
};

Params constant(ZGCP::CreateParams const& params)
{
    return [params](LostChannels&) { return params; };
}

void PrintTo(Row const& row, std::ostream* os) { *os << row.name; }

ZGCP::Command const destroy = plainCommand(ZGCP::Command::destroy::id);

class LostChannels : public SimDaemonTest, public ::testing::WithParamInterface<Row> {
public:
    using SimDaemonTest::done;

    // The slot made and joined with the trunk slot in the directions it has.
    void join(unsigned slot, ZGCP::CreateParams const& params, unsigned trunk)
    {
        EXPECT_EQ(done(slot, create(params)), "success");
        if (GetParam().output) {
            EXPECT_EQ(done(slot, connect(trunk)), "success");
        }
        if (GetParam().input) {
            EXPECT_EQ(done(trunk, connect(slot)), "success");
        }
    }
    // The channel joined with a trunk channel in the switch ("" when none).
    std::string joinedWith(std::string const& trunk)
    {
        std::istringstream words(board->command("dump /dev/hal").substr(3));
        for (std::string w; words >> w;) {
            std::size_t const at = w.find('<');
            if (at != std::string::npos && w.substr(0, at) == trunk)
                return w.substr(at + 1);
            if (at != std::string::npos && w.substr(at + 1) == trunk)
                return w.substr(0, at);
        }
        return "";
    }

    void mixerUnit(bool present)
    {
        ASSERT_EQ(board->command(present ? "device /dev/mixer add 3 32 16" : "device /dev/mixer remove 3"), "ok");
        resources();  // the daemon sees the units when it reports them
    }
    void qsigSlot(unsigned slot) { ASSERT_EQ(done(slot, create(qsigParams(true))), "success"); }
    void hangUp() { ASSERT_EQ(board->command("device /dev/mcc/ctl hangup " + channel), "ok"); }
    void failReads(std::string const& path) { ASSERT_EQ(board->command("fail-read " + path + " hangup"), "ok"); }
    // The recording runs: its line's end is seen.
    void recording() { ASSERT_TRUE(daemon.logged("recorder[" + channel + "]: connected to ")); }
    void phrase() { daemon.writeFile("/usr/local/voice/a", std::string(4000, 'A')); }
    // The player's peer sends once its line ended: the player writes into the ended line.
    void playerLineEnds()
    {
        Fd player = peer.accept(DaemonLauncher::kTimeout);
        ASSERT_TRUE(player);
        hangUp();
        ASSERT_EQ(::send(player.lowlevel_fd(), "x", 1, MSG_NOSIGNAL), 1);
    }
    // A codec change whose new session the driver refuses.
    void restartFails()
    {
        ASSERT_EQ(board->command("fail-request /dev/rtp begin EIO 1"), "ok");
        EXPECT_EQ(done(10, ioctlCommand(ZGCP::IoctlParams(ZGCP::IoctlParams::encoder_mode::id, ZGCP::CodecMode::ulaw))),
                  "error=6");
    }
    // The relay, once it runs, ends by a signal.
    void relayEnds()
    {
        ASSERT_TRUE(DaemonLauncher::waitFor([&] { return !relay.pids().empty(); }));
        ASSERT_EQ(::kill(relay.pids().back(), SIGUSR1), 0);
    }

    // The old slot's channel.
    std::string channel;
    // The QSIG slot that lends B channels.
    unsigned lender = 20;
    StubChild relay{daemon.root(), "/usr/local/sbin/t38"};
    LoopbackListener peer{64};
};

Action const unitComesBack = [](LostChannels& t) {
    t.mixerUnit(false);
    t.mixerUnit(true);
};
Action const unitFirst = [](LostChannels& t) { t.mixerUnit(true); };
Action const rtpEnds = [](LostChannels& t) { t.failReads("/dev/rtp"); };
Action const lineEnds = [](LostChannels& t) { t.hangUp(); };
Action const nothing = [](LostChannels&) {};

Row const rows[] = {
    {"mixerInput", false, true, constant(mixerInParams(3, tdmChannel(1), tdmChannel(0))), unitComesBack, unitFirst},
    {"mixerOutput", true, false, constant(mixerOutParams(3, tdmChannel(0), {{tdmChannel(1), 32767}})), unitComesBack,
     unitFirst},
    // Its QSIG slot (20) goes; another one (21) lends the channel again.
    {"qsigB", true, true, [](LostChannels& t) { return qsigBParams(t.lender, 1); },
     [](LostChannels& t) {
         EXPECT_EQ(t.done(20, destroy), "success");
         t.qsigSlot(t.lender = 21);
     },
     [](LostChannels& t) { t.qsigSlot(20); }},
    {"qsig", true, true, constant(qsigParams(true)), [](LostChannels& t) { t.failReads("/dev/dsp-data"); }, nothing,
     true},
    {"rtp", true, true, constant(rtpParams(rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1", 9000))), rtpEnds},
    {"rtpRestart", true, true, constant(rtpParams(rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1", 9000))),
     [](LostChannels& t) { t.restartFails(); }},
    {"zarnRadio", true, true, constant(rtpParams(radioCreate(radioStatus(zarnStatus()), "127.0.0.1", 9002))), rtpEnds},
    {"ed137Radio", true, true, constant(rtpParams(radioCreate(radioStatus(ed137Status(false)), "127.0.0.1", 9004))),
     rtpEnds},
    {"mcc", true, true, constant(mccParams(ZGCP::MccType::data, ZGCP::MccMode::standard)), lineEnds, nothing, true},
    {"isdn", true, true, constant(isdnParams(ZGCP::IsdnType::pri, 2)), lineEnds, nothing, true},
    // The relay, which alone holds the channel, ends.
    {"t38", true, true, constant(t38Params("10.0.0.1", 4000, 5000)), [](LostChannels& t) { t.relayEnds(); }},
    // A recording that runs, and a player that plays without end, find the line gone.
    {"recorder", false, true, [](LostChannels& t) { return recorderParams("127.0.0.1", t.peer.port()); },
     [](LostChannels& t) {
         t.recording();
         t.hangUp();
     }},
    {"filePlayer", true, false, constant(filePlayerParams({"a"}, 0)), lineEnds, [](LostChannels& t) { t.phrase(); }},
    {"networkPlayer", true, false, [](LostChannels& t) { return networkPlayerParams("127.0.0.1", t.peer.port(), 1); },
     [](LostChannels& t) { t.playerLineEnds(); }},
};

TEST_P(LostChannels, TheOldSlotTakesNoLinkAndItsDestroyLeavesTheLiveRoutes)
{
    Row const& row = GetParam();
    for (unsigned trunk = 1; trunk <= 3; ++trunk)
        ASSERT_EQ(done(trunk, create(trunkParams(2, trunk))), "success");
    row.before(*this);
    join(10, row.params(*this), 1);
    channel = joinedWith("65");
    ASSERT_FALSE(channel.empty());

    row.takeAway(*this);
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return joinedWith("65").empty(); })) << "the old slot leaves its links";
    join(11, row.params(*this), 2);
    EXPECT_EQ(joinedWith("66"), channel) << "the new slot takes the channel";
    std::string const routes = board->command("dump /dev/hal");

    EXPECT_EQ(done(10, connect(3)), "error=9");
    EXPECT_EQ(done(3, connect(10)), "error=9");
    // User data has no channel to go to.
    if (row.userData) {
        EXPECT_EQ(done(10, userDataCommand({0x08, 0x01})), "error=" + std::to_string(ZGCP::ErrorCause::unsupported));
    }
    EXPECT_EQ(board->command("dump /dev/hal"), routes);
    EXPECT_EQ(done(10, destroy), "success");
    EXPECT_EQ(board->command("dump /dev/hal"), routes);

    for (unsigned slot : {11, 21, 20, 1, 2, 3})
        done(slot, destroy);
    EXPECT_EQ(board->switchLeftovers(), "");
}

INSTANTIATE_TEST_SUITE_P(EveryKind, LostChannels, ::testing::ValuesIn(rows),
                         [](::testing::TestParamInfo<Row> const& info) { return std::string(info.param.name); });

}  // namespace
