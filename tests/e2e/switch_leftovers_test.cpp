// Every slot kind that goes through the time-slot switch, churned on the daemon running on the
// simulated board: created, joined with a trunk time slot both ways, parted, destroyed (parted
// first, or still joined), and at last destroyed by the loss of the controller. Afterwards the
// switch holds no connection. And the same with each switch request of the churn refused once
// by the board: no command whose request was refused answers success (but a destroy: its slot
// is gone all the same), and afterwards no output is left driven.

#include "tests/loopback.h"
#include "tests/radio_commands.h"
#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"

#include <gtest/gtest.h>

#include <sstream>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using testsupport::DaemonLauncher;
using testsupport::plainCommand;

ZGCP::Command const disconnectCmd = plainCommand(ZGCP::Command::disconnect::id);
ZGCP::Command const destroyCmd = plainCommand(ZGCP::Command::destroy::id);
ZGCP::Command const activateCmd = plainCommand(ZGCP::Command::activate::id);

struct Kind {
    char const* name;
    ZGCP::CreateParams params;
    // Whether it has an output to the trunk and an input from it.
    bool output = true;
    bool input = true;
    // Its input opens on activate (an external channel).
    bool activate = false;
};

class SwitchLeftovers : public testsupport::SimDaemonTest {
protected:
    // Kind i is slot 10 + i, joined both ways with trunk slot 100 + i (trunk 2, time slot 1 + i).
    static unsigned slot(unsigned i) { return 10 + i; }
    static unsigned trunk(unsigned i) { return 100 + i; }
    void join(unsigned i, Kind const& kind)
    {
        EXPECT_EQ(done(trunk(i), create(testsupport::trunkParams(2, 1 + i))), "success");
        EXPECT_EQ(done(slot(i), create(kind.params)), "success");
        if (kind.activate) {
            EXPECT_EQ(done(slot(i), activateCmd), "success");
        }
        EXPECT_EQ(done(slot(i), testsupport::connectCommand(trunk(i))), kind.output ? "success" : "error=9");
        EXPECT_EQ(done(trunk(i), testsupport::connectCommand(slot(i))), kind.input ? "success" : "error=9");
    }
    void destroy(unsigned i)
    {
        EXPECT_EQ(done(slot(i), destroyCmd), "success");
        EXPECT_EQ(done(trunk(i), destroyCmd), "success");
    }

    // Every kind but the echo slot, which this board declines. The QSIG slot is the 17th; its
    // B slot follows it.
    static constexpr unsigned kQsig = 17;
    std::vector<Kind> kinds()
    {
        using namespace testsupport;
        TERM::ModemParams digital = modemParams("");
        digital.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddmV110));
        return {
            {"bri", briParams(1, 1)},
            {"map", mapParams(BusChannel{1, 2}, BusChannel{0, 0})},
            {"ext", extParams(5, 6), true, true, true},
            {"mcc", mccParams(ZGCP::MccType::data, ZGCP::MccMode::standard)},
            {"network player", networkPlayerParams("127.0.0.1", peer.port(), 1), true, false},
            // Played without end: it does not end by itself during a churn.
            {"file player", filePlayerParams({"a"}, 0), true, false},
            {"recorder", recorderParams("127.0.0.1", peer.port()), false},
            {"t38", t38Params("10.0.0.1", 4000, 5000)},
            {"rtp", rtpParams(rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1", 9000))},
            {"zarn radio", rtpParams(radioCreate(radioStatus(zarnStatus()), "127.0.0.1", 9002))},
            {"ed137 radio", rtpParams(radioCreate(radioStatus(ed137Status(false)), "127.0.0.1", 9004))},
            {"dsp modem", modemCreate(modemParams("123"))},
            {"digital modem", modemCreate(digital)},
            {"mixer input", mixerInParams(3, tdmChannel(1), tdmChannel(0)), false},
            {"mixer output", mixerOutParams(3, tdmChannel(0), {{tdmChannel(1), 32767}}), true, false},
            {"isdn pri", isdnParams(ZGCP::IsdnType::pri, 2)},
            {"isdn bri", isdnParams(ZGCP::IsdnType::bri, 2)},
            {"qsig", qsigParams(true)},
            {"qsig b", qsigBParams(slot(kQsig), 1)},
            {"ss7", ss7Params(3, 5, 100, 200, true)},
            {"pstn isdn", pstnIsdnParams(ZGCP::IsdnType::pri, 3, false)},
            {"pstn cas", pstnCasParams(3)},
            {"hdlc link", hdlcParams(2, 0x1234)},
        };
    }

    // The stub programs, the phrase file, the interface and the mixer unit the kinds use.
    void prepare()
    {
        daemon.writeFile("/usr/local/voice/a", "AAA");
        ASSERT_EQ(board->command("device hdlc0 p2p on"), "ok");
        ASSERT_EQ(board->command("device /dev/mixer add 3 32 16"), "ok");
        resources();  // the daemon learns of the mixer unit
        ASSERT_EQ(kinds()[kQsig + 1].name, std::string("qsig b"));
    }

    testsupport::LoopbackListener peer{64};
    testsupport::StubChild relay{daemon.root(), "/usr/local/sbin/t38"};
    testsupport::StubChild pppd{daemon.root(), "/usr/local/sbin/pppd"};
};

TEST_F(SwitchLeftovers, EverySlotKindLeavesNoConnectionWhenDestroyedOrWhenTheControllerGoes)
{
    prepare();
    std::vector<Kind> const all = kinds();

    // Parted, then destroyed; then destroyed while joined. The channels given back are taken
    // again by the kinds that follow.
    for (int round = 0; round < 2; ++round) {
        for (unsigned i = 0; i < all.size(); ++i) {
            SCOPED_TRACE(std::string(all[i].name) + " round " + std::to_string(round));
            join(i, all[i]);
            if (round == 0) {
                EXPECT_EQ(done(slot(i), disconnectCmd), "success");
                EXPECT_EQ(done(trunk(i), disconnectCmd), "success");
            }
            // The QSIG slot goes after its B slot.
            if (i != kQsig)
                destroy(i);
            if (i == kQsig + 1)
                destroy(kQsig);
        }
        EXPECT_EQ(board->switchLeftovers(), "") << "round " << round;
    }

    for (unsigned i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(all[i].name);
        join(i, all[i]);
    }
    EXPECT_NE(board->switchLeftovers(), "");
    client->close();
    DaemonLauncher::waitFor([&] { return board->switchLeftovers().empty(); });
    EXPECT_EQ(board->switchLeftovers(), "");
    ASSERT_TRUE(attach());
}

// One row a switch request: connect, write (the idle byte) or disable.
class SwitchFailures : public SwitchLeftovers, public ::testing::WithParamInterface<std::string> {
protected:
    struct Step {
        unsigned slot;
        ZGCP::Command command;
    };
    // A request of a step: "connect 37" (the request and its output).
    struct Request {
        std::size_t step;
        std::string text;
    };

    // Kind i's churn: made and joined with its trunk slot, then parted and destroyed, or
    // destroyed while joined. A B slot's QSIG slot comes first and goes last.
    std::vector<Step> churn(unsigned i, Kind const& kind, bool parted)
    {
        using namespace testsupport;
        std::vector<Step> steps;
        if (i == kQsig + 1)
            steps.push_back({slot(kQsig), createCommand(qsigParams(true))});
        steps.push_back({trunk(i), createCommand(trunkParams(2, 1 + i))});
        steps.push_back({slot(i), createCommand(kind.params)});
        if (kind.activate)
            steps.push_back({slot(i), activateCmd});
        steps.push_back({slot(i), connectCommand(trunk(i))});
        steps.push_back({trunk(i), connectCommand(slot(i))});
        if (parted) {
            steps.push_back({slot(i), disconnectCmd});
            steps.push_back({trunk(i), disconnectCmd});
            if (kind.activate)
                steps.push_back({slot(i), plainCommand(ZGCP::Command::deactivate::id)});
        }
        steps.push_back({slot(i), destroyCmd});
        steps.push_back({trunk(i), destroyCmd});
        if (i == kQsig + 1)
            steps.push_back({slot(kQsig), destroyCmd});
        return steps;
    }

    // A switch request as the journal shows it: "connect 37", and whether it was refused.
    struct Entry {
        std::string text;
        bool refused;
    };
    std::vector<Entry> requests(unsigned long long from)
    {
        std::vector<Entry> out;
        for (std::string const& e : journal(from, "ioctl /dev/hal ")) {
            std::istringstream words(e.substr(std::string("ioctl /dev/hal ").size()));
            std::string request, output;
            words >> request >> output;
            out.push_back({request + " " + output, e.substr(e.size() - 3) == "EIO"});
        }
        return out;
    }
    // Whether a refused request stands: no connect or write made the same output anew after it.
    static bool standing(std::vector<Entry> const& entries, std::size_t at)
    {
        std::string const output = entries[at].text.substr(entries[at].text.find(' '));
        for (std::size_t later = at + 1; later < entries.size(); ++later) {
            Entry const& e = entries[later];
            bool const makes = e.text.rfind("connect", 0) == 0 || e.text.rfind("write", 0) == 0;
            if (makes && !e.refused && e.text.substr(e.text.find(' ')) == output)
                return false;
        }
        return true;
    }

    // Runs the steps, the board's refusal of a request armed before the step `failing` names
    // ("write EIO 1 70": the request, its error, once, for output 70). A step whose refused
    // request stands is not answered success (but a destroy). The connect and write requests
    // each step made ("connect 37"); how many were refused.
    std::vector<Request> run(std::vector<Step> const& steps, std::size_t& refused, std::optional<Request> failing = {})
    {
        std::vector<Request> made;
        for (std::size_t s = 0; s < steps.size(); ++s) {
            if (failing && failing->step == s) {
                EXPECT_EQ(board->command("fail-request /dev/hal " + failing->text), "ok");
            }
            unsigned long long const from = journalNext();
            std::string const answer = done(steps[s].slot, steps[s].command);
            std::vector<Entry> const entries = requests(from);
            for (std::size_t e = 0; e < entries.size(); ++e) {
                if (entries[e].text.rfind("connect", 0) == 0 || entries[e].text.rfind("write", 0) == 0)
                    made.push_back({s, entries[e].text});
                if (!entries[e].refused)
                    continue;
                ++refused;
                if (standing(entries, e) && !steps[s].command.destroy_isSelected()) {
                    EXPECT_NE(answer, "success") << entries[e].text << " refused, step " << s;
                }
            }
        }
        return made;
    }

    // Nothing left of a churn: no channel held, nothing driven in the switch.
    void settled()
    {
        EXPECT_EQ(board->command("clear-failures"), "ok");
        EXPECT_TRUE(DaemonLauncher::waitFor([&] {
            std::string const mcc = board->command("dump /dev/mcc/ctl");
            return mcc.find(':') == std::string::npos && board->switchLeftovers().empty();
        })) << board->switchLeftovers();
    }
};

TEST_P(SwitchFailures, NoRefusedRequestIsAnsweredSuccessAndNothingIsLeftDriven)
{
    std::string const request = GetParam();
    prepare();
    std::vector<Kind> const all = kinds();
    std::size_t struck = 0;
    for (unsigned i = 0; i < all.size(); ++i) {
        for (bool parted : {true, false}) {
            SCOPED_TRACE(std::string(all[i].name) + (parted ? " parted" : " joined"));
            std::vector<Step> const steps = churn(i, all[i], parted);
            std::size_t clean = 0;
            std::vector<Request> const made = run(steps, clean);
            EXPECT_EQ(clean, 0u);
            settled();
            // The connects and writes as they were made; a disable is armed once its output
            // is driven (before, the re-disable pass would meet it).
            std::vector<Request> failing;
            std::set<std::string> driven;
            for (Request const& r : made) {
                std::string const output = r.text.substr(r.text.find(' ') + 1);
                if (r.text.rfind(request, 0) == 0)
                    failing.push_back(r);
                else if (request == "disable" && driven.insert(output).second)
                    failing.push_back({r.step + 1, "disable " + output});
            }
            for (Request const& f : failing) {
                SCOPED_TRACE(f.text + " refused at step " + std::to_string(f.step));
                std::string const text = f.text.substr(0, f.text.find(' ')) + " EIO 1" + f.text.substr(f.text.find(' '));
                std::size_t refused = 0;
                run(steps, refused, Request{f.step, text});
                struck += refused;
                settled();
            }
        }
    }
    EXPECT_GT(struck, 0u);

    // Every slot destroyed by the loss of the controller, every such request refused.
    if (request == "connect")
        return;
    for (unsigned i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(all[i].name);
        join(i, all[i]);
    }
    ASSERT_EQ(board->command("fail-request /dev/hal " + request + " EIO always"), "ok");
    client->close();
    if (request == "disable") {
        // Destroyed; what the board refuses to disable goes once it no longer refuses.
        EXPECT_TRUE(DaemonLauncher::waitFor([&] { return board->command("dump /dev/mcc/ctl").find(':') == std::string::npos; }));
        EXPECT_NE(board->switchLeftovers(), "");
        EXPECT_EQ(board->command("clear-failures"), "ok");
    }
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return board->switchLeftovers().empty(); })) << board->switchLeftovers();
    EXPECT_EQ(board->command("clear-failures"), "ok");
    ASSERT_TRUE(attach());
}

INSTANTIATE_TEST_SUITE_P(EveryRequest, SwitchFailures, ::testing::Values("connect", "write", "disable"),
                         [](::testing::TestParamInfo<std::string> const& info) { return info.param; });

}  // namespace
