// Every slot kind that can lose its channel while it lives, on the daemon running on the
// simulated board: slot 10, joined with trunk slot 1, loses its channel the way its kind loses
// it, and a new slot of the kind (11), joined with trunk slot 2, takes the same channel. The
// old slot then takes no link from or to trunk slot 3, its destroy leaves the live routes as
// they are, and when everything is destroyed nothing is left in the switch.

#include "tests/loopback.h"
#include "tests/radio_commands.h"
#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

class LostChannels;

struct Row {
    char const* name;
    // Whether the kind has an output and an input.
    bool output;
    bool input;
    // The old slot and the new one.
    std::function<ZGCP::CreateParams(LostChannels&)> old;
    std::function<ZGCP::CreateParams(LostChannels&)> fresh;
    // Takes the channel away from the old slot (and brings back what the new one needs).
    std::function<void(LostChannels&)> takeAway;
    // What the old slot needs first.
    std::function<void(LostChannels&)> before = [](LostChannels&) {};
};

void PrintTo(Row const& row, std::ostream* os) { *os << row.name; }

class LostChannels : public testsupport::SimDaemonTest, public ::testing::WithParamInterface<Row> {
public:
    static constexpr unsigned kOld = 10;
    static constexpr unsigned kNew = 11;
    // The QSIG slots that lend the B channels.
    static constexpr unsigned kLender = 20;
    static constexpr unsigned kNewLender = 21;
    // The mixer unit of the ports.
    static constexpr int kUnit = 3;

    // The answer to the command ("success", "error=N"; slot-less when no slot is given); the
    // messages that come before it are heard.
    std::string run(ZGCP::Command const& command, std::optional<unsigned> slot = std::nullopt)
    {
        EXPECT_TRUE(client->send(testsupport::zgcpCommand(command, ++seq, slot)));
        std::string const mine = "seq=" + std::to_string(seq) + " ";
        for (std::string text = next(); text != "no message"; text = next()) {
            if (text.rfind(mine, 0) != 0) {
                heard.push_back(text);
                continue;
            }
            std::string const rest = text.substr(mine.size());
            return slot ? answer(text, *slot) : rest;
        }
        return "no message";
    }
    std::string on(unsigned slot, ZGCP::Command const& command) { return run(command, slot); }
    // Whether the message was heard, waiting for it when it was not yet.
    bool await(std::string const& text)
    {
        if (std::find(heard.begin(), heard.end(), text) != heard.end())
            return true;
        for (std::string got = next(); got != "no message"; got = next())
            if (got == text)
                return true;
        return false;
    }
    // The channel the slot's last stream signal heard carries ("" when none).
    std::string channelOf(unsigned slot) const
    {
        std::string const mine = "slot=" + std::to_string(slot) + " ";
        for (auto at = heard.rbegin(); at != heard.rend(); ++at)
            if (at->rfind(mine, 0) == 0 && at->find(" active ") != std::string::npos)
                return at->substr(at->find(" active ") + 8);
        return "";
    }
    // The slot made and joined with the trunk slot in the directions it has: its channel.
    std::string join(unsigned slot, ZGCP::CreateParams const& params, unsigned trunk)
    {
        Row const& row = GetParam();
        EXPECT_EQ(on(slot, create(params)), "success");
        if (row.output) {
            EXPECT_EQ(on(slot, connect(trunk)), "success");
        }
        if (row.input) {
            EXPECT_EQ(on(trunk, connect(slot)), "success");
        }
        return channelOf(slot);
    }

    void mixerUnit(bool present)
    {
        std::string const unit = std::to_string(kUnit);
        ASSERT_EQ(board->command(present ? "device /dev/mixer add " + unit + " 32 16" : "device /dev/mixer remove " + unit),
                  "ok");
        // The daemon sees the units at a resource query.
        ASSERT_EQ(run(testsupport::plainCommand(ZGCP::Command::query::id)), "success");
    }
    void qsig(unsigned slot) { ASSERT_EQ(on(slot, create(testsupport::qsigParams(true))), "success"); }
    void hangUp() { ASSERT_EQ(board->command("device /dev/mcc/ctl hangup " + channel), "ok"); }
    void failReads(std::string const& path) { ASSERT_EQ(board->command("fail-read " + path + " hangup"), "ok"); }
    // The recording runs: its line's end is seen.
    void recording() { ASSERT_TRUE(daemon.logged("recorder[" + channel + "]: connected to ")); }
    void phrase() { daemon.writeFile("/usr/local/voice/a", std::string(4000, 'A')); }
    // The relay, once it runs, ends by a signal.
    void relayEnds()
    {
        ASSERT_TRUE(testsupport::DaemonLauncher::waitFor([&] { return !relay.pids().empty(); }));
        ASSERT_EQ(::kill(relay.pids().back(), SIGUSR1), 0);
    }

    std::vector<std::string> heard;
    // The old slot's channel.
    std::string channel;
    testsupport::LoopbackListener peer{64};
    testsupport::StubChild relay{daemon.root(), "/usr/local/sbin/t38"};
};

ZGCP::CreateParams rtp(LostChannels&)
{
    return testsupport::rtpParams(testsupport::rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1", 9000));
}
ZGCP::CreateParams zarnRadio(LostChannels&)
{
    using namespace testsupport;
    return rtpParams(radioCreate(radioStatus(zarnStatus()), "127.0.0.1", 9002));
}
ZGCP::CreateParams ed137Radio(LostChannels&)
{
    using namespace testsupport;
    return rtpParams(radioCreate(radioStatus(ed137Status(false)), "127.0.0.1", 9004));
}
ZGCP::CreateParams mixerInput(LostChannels&)
{
    return testsupport::mixerInParams(LostChannels::kUnit, testsupport::tdmChannel(1), testsupport::tdmChannel(0));
}
ZGCP::CreateParams mixerOutput(LostChannels&)
{
    return testsupport::mixerOutParams(LostChannels::kUnit, testsupport::tdmChannel(0), {{testsupport::tdmChannel(1), 32767}});
}
ZGCP::CreateParams mcc(LostChannels&) { return testsupport::mccParams(ZGCP::MccType::data, ZGCP::MccMode::standard); }
ZGCP::CreateParams isdn(LostChannels&) { return testsupport::isdnParams(ZGCP::IsdnType::pri, 2); }
ZGCP::CreateParams qsig(LostChannels&) { return testsupport::qsigParams(true); }
ZGCP::CreateParams t38(LostChannels&) { return testsupport::t38Params("10.0.0.1", 4000, 5000); }
ZGCP::CreateParams recorder(LostChannels& t) { return testsupport::recorderParams("127.0.0.1", t.peer.port()); }
ZGCP::CreateParams filePlayer(LostChannels&) { return testsupport::filePlayerParams({"a"}, 0); }

void unitComesBack(LostChannels& t)
{
    t.mixerUnit(false);
    t.mixerUnit(true);
}
void unitFirst(LostChannels& t) { t.mixerUnit(true); }
void rtpEnds(LostChannels& t) { t.failReads("/dev/rtp"); }
void lineEnds(LostChannels& t) { t.hangUp(); }

Row const rows[] = {
    {"mixerInput", false, true, mixerInput, mixerInput, unitComesBack, unitFirst},
    {"mixerOutput", true, false, mixerOutput, mixerOutput, unitComesBack, unitFirst},
    // The B slot's QSIG slot goes; another one lends the channel again.
    {"qsigB", true, true, [](LostChannels&) { return testsupport::qsigBParams(LostChannels::kLender, 1); },
     [](LostChannels&) { return testsupport::qsigBParams(LostChannels::kNewLender, 1); },
     [](LostChannels& t) {
         EXPECT_EQ(t.on(LostChannels::kLender, testsupport::plainCommand(ZGCP::Command::destroy::id)), "success");
         t.qsig(LostChannels::kNewLender);
     },
     [](LostChannels& t) { t.qsig(LostChannels::kLender); }},
    {"qsig", true, true, qsig, qsig, [](LostChannels& t) { t.failReads("/dev/dsp-data"); }},
    {"rtp", true, true, rtp, rtp, rtpEnds},
    {"zarnRadio", true, true, zarnRadio, zarnRadio, rtpEnds},
    {"ed137Radio", true, true, ed137Radio, ed137Radio, rtpEnds},
    {"mcc", true, true, mcc, mcc, lineEnds},
    {"isdn", true, true, isdn, isdn, lineEnds},
    // The relay, which alone holds the channel, ends.
    {"t38", true, true, t38, t38, [](LostChannels& t) { t.relayEnds(); }},
    // A recording that runs, and a player that plays without end, find the line gone.
    {"recorder", false, true, recorder, recorder,
     [](LostChannels& t) {
         t.recording();
         t.hangUp();
     }},
    {"filePlayer", true, false, filePlayer, filePlayer, lineEnds,
     [](LostChannels& t) { t.phrase(); }},
};

TEST_P(LostChannels, TheOldSlotTakesNoLinkAndItsDestroyLeavesTheLiveRoutes)
{
    Row const& row = GetParam();
    for (unsigned trunk = 1; trunk <= 3; ++trunk)
        ASSERT_EQ(on(trunk, create(testsupport::trunkParams(2, trunk))), "success");
    row.before(*this);
    channel = join(kOld, row.old(*this), 1);
    ASSERT_FALSE(channel.empty());

    heard.clear();
    row.takeAway(*this);
    // The old slot reports its streams gone.
    EXPECT_TRUE(await("slot=10 " + std::string(row.input ? "receiver" : "transmitter") + " inactive"));
    EXPECT_EQ(join(kNew, row.fresh(*this), 2), channel) << "the new slot takes the channel";
    std::string const routes = board->command("dump /dev/hal");

    EXPECT_EQ(on(kOld, connect(3)), "error=9");
    EXPECT_EQ(on(3, connect(kOld)), "error=9");
    EXPECT_EQ(board->command("dump /dev/hal"), routes);
    ZGCP::Command const destroy = testsupport::plainCommand(ZGCP::Command::destroy::id);
    EXPECT_EQ(on(kOld, destroy), "success");
    EXPECT_EQ(board->command("dump /dev/hal"), routes);

    for (unsigned slot : {kNew, kNewLender, kLender, 1u, 2u, 3u})
        on(slot, destroy);
    EXPECT_EQ(board->switchLeftovers(), "");
}

INSTANTIATE_TEST_SUITE_P(EveryKind, LostChannels, ::testing::ValuesIn(rows),
                         [](::testing::TestParamInfo<Row> const& info) { return std::string(info.param.name); });

}  // namespace
