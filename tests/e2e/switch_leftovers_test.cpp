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

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
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

public:
    // Every kind but the echo slot, which this board declines. The QSIG slot is the 17th; its
    // B slot follows it.
    static constexpr unsigned kQsig = 17;
    // The media peers' kinds connect to the port given.
    static std::vector<Kind> kinds(std::uint16_t peerPort)
    {
        using namespace testsupport;
        TERM::ModemParams digital = modemParams("");
        digital.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddmV110));
        return {
            {"bri", briParams(1, 1)},
            {"map", mapParams(BusChannel{1, 2}, BusChannel{0, 0})},
            {"ext", extParams(5, 6), true, true, true},
            {"mcc", mccParams(ZGCP::MccType::data, ZGCP::MccMode::standard)},
            {"network player", networkPlayerParams("127.0.0.1", peerPort, 1), true, false},
            // Played without end: it does not end by itself during a churn.
            {"file player", filePlayerParams({"a"}, 0), true, false},
            {"recorder", recorderParams("127.0.0.1", peerPort), false},
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

protected:
    // The stub programs, the phrase, the interface and the mixer unit the kinds use. The phrase
    // is a pipe held open here and never written: the player plays it without end, waiting on
    // it. A file would be played again on every loop pass (the simulated channel takes every
    // frame at once), each pass adding the switch's re-disable requests to the board's
    // journal faster than a test reads it.
    void prepare()
    {
        std::string const phrase = daemon.path("/usr/local/voice/a");
        std::filesystem::create_directories(std::filesystem::path(phrase).parent_path());
        ASSERT_EQ(::mkfifo(phrase.c_str(), 0600), 0);
        phraseWriter = Fd(::open(phrase.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        ASSERT_TRUE(phraseWriter.is_valid());
        ASSERT_EQ(board->command("device hdlc0 p2p on"), "ok");
        ASSERT_EQ(board->command("device /dev/mixer add 3 32 16"), "ok");
        resources();  // the daemon learns of the mixer unit
        ASSERT_EQ(kinds(0)[kQsig + 1].name, std::string("qsig b"));
    }

    Fd phraseWriter;
    testsupport::LoopbackListener peer{64};
    testsupport::StubChild relay{daemon.root(), "/usr/local/sbin/t38"};
    testsupport::StubChild pppd{daemon.root(), "/usr/local/sbin/pppd"};
};

TEST_F(SwitchLeftovers, EverySlotKindLeavesNoConnectionWhenDestroyedOrWhenTheControllerGoes)
{
    prepare();
    std::vector<Kind> const all = kinds(peer.port());

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

// One row a switch request (connect, write: the idle byte, or disable) and slot kind. A kind
// without an input drives only the trunk time slot it joins, and a BRI slot's channel is a
// line's time slot: both get the idle byte when they go, so neither has a disable to refuse.
class SwitchFailures : public SwitchLeftovers, public ::testing::WithParamInterface<std::tuple<std::string, unsigned>> {
public:
    static std::vector<std::tuple<std::string, unsigned>> rows()
    {
        std::vector<std::tuple<std::string, unsigned>> out;
        std::vector<Kind> const all = kinds(0);
        for (char const* request : {"connect", "write", "disable"})
            for (unsigned i = 0; i < all.size(); ++i)
                if ((all[i].input && all[i].name != std::string("bri")) || request != std::string("disable"))
                    out.emplace_back(request, i);
        return out;
    }

protected:
    struct Step {
        unsigned slot;
        ZGCP::Command command;
    };
    // A switch request of a step: "connect 37", the request and its output.
    struct Request {
        std::size_t step;
        std::string text;
        bool refused;
    };

    // Kind i's churn: made and joined with its trunk slot, then parted and destroyed, or
    // destroyed while joined. A B slot's QSIG slot comes first and goes last.
    std::vector<Step> churn(unsigned i, Kind const& kind, bool parted)
    {
        using testsupport::createCommand;
        std::vector<Step> steps;
        if (i == kQsig + 1)
            steps.push_back({slot(kQsig), createCommand(testsupport::qsigParams(true))});
        steps.push_back({trunk(i), createCommand(testsupport::trunkParams(2, 1 + i))});
        steps.push_back({slot(i), createCommand(kind.params)});
        if (kind.activate)
            steps.push_back({slot(i), activateCmd});
        steps.push_back({slot(i), connect(trunk(i))});
        steps.push_back({trunk(i), connect(slot(i))});
        if (parted) {
            steps.insert(steps.end(), {{slot(i), disconnectCmd}, {trunk(i), disconnectCmd}});
            if (kind.activate)
                steps.push_back({slot(i), testsupport::plainCommand(ZGCP::Command::deactivate::id)});
        }
        steps.insert(steps.end(), {{slot(i), destroyCmd}, {trunk(i), destroyCmd}});
        if (i == kQsig + 1)
            steps.push_back({slot(kQsig), destroyCmd});
        return steps;
    }

    // Runs the steps, the board told to refuse a request once before the step `failing` names
    // (its text: "write 70"). A step whose refused request stands (no connect or write made
    // its output anew later in the step) is not answered success, but a destroy. The
    // requests made, in order.
    std::vector<Request> run(std::vector<Step> const& steps, std::optional<Request> failing = {})
    {
        std::vector<Request> made;
        for (std::size_t s = 0; s < steps.size(); ++s) {
            if (failing && failing->step == s) {
                std::string const& t = failing->text;
                EXPECT_EQ(board->command("fail-request /dev/hal " + t.substr(0, t.find(' ')) + " EIO 1" + t.substr(t.find(' '))),
                          "ok");
            }
            unsigned long long const from = journalNext();
            std::string const answer = done(steps[s].slot, steps[s].command);
            std::size_t const first = made.size();
            for (std::string const& e : journal(from, "ioctl /dev/hal ")) {
                std::istringstream words(e.substr(std::string("ioctl /dev/hal ").size()));
                std::string request, output;
                words >> request >> output;
                made.push_back({s, request + " " + output, e.substr(e.size() - 3) == "EIO"});
            }
            for (std::size_t r = first; r < made.size(); ++r) {
                if (!made[r].refused || steps[s].command.destroy_isSelected())
                    continue;
                std::string const output = made[r].text.substr(made[r].text.find(' '));
                bool const stands = std::none_of(made.begin() + long(r) + 1, made.end(), [&](Request const& later) {
                    return !later.refused && later.text.rfind("disable", 0) != 0 && later.text.substr(later.text.find(' ')) == output;
                });
                if (stands) {
                    EXPECT_NE(answer, "success") << made[r].text << " refused at step " << s;
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
            return board->command("dump /dev/mcc/ctl").find(':') == std::string::npos && board->switchLeftovers().empty();
        })) << board->switchLeftovers();
    }
};

TEST_P(SwitchFailures, NoRefusedRequestIsAnsweredSuccessAndNothingIsLeftDriven)
{
    auto const& [request, i] = GetParam();
    prepare();
    Kind const kind = kinds(peer.port())[i];
    std::size_t refused = 0;
    for (bool parted : {true, false}) {
        SCOPED_TRACE(parted ? "parted" : "joined");
        std::vector<Step> const steps = churn(i, kind, parted);
        std::vector<Request> const made = run(steps);
        settled();
        // Each connect or write made, refused in its step; a disable refused once its
        // output is driven (before, the re-disable pass would meet it).
        std::set<std::string> driven;
        for (Request const& r : made) {
            std::string const output = r.text.substr(r.text.find(' ') + 1);
            if (r.text.rfind("disable", 0) == 0 || r.refused)
                continue;
            if (r.text.rfind(request, 0) != 0 && !(request == "disable" && driven.insert(output).second))
                continue;
            Request const failing = request == "disable" ? Request{r.step + 1, "disable " + output, true} : r;
            SCOPED_TRACE(failing.text + " refused at step " + std::to_string(failing.step));
            for (Request const& m : run(steps, failing))
                refused += m.refused;
            settled();
        }
    }
    EXPECT_GT(refused, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    EveryRequestAndKind, SwitchFailures,
    ::testing::ValuesIn(SwitchFailures::rows()),
    [](::testing::TestParamInfo<std::tuple<std::string, unsigned>> const& info) {
        std::string name = std::get<0>(info.param) + "_" + SwitchFailures::kinds(0)[std::get<1>(info.param)].name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

// One row a switch request that the loss of the controller makes: write or disable. Every
// slot kind is joined, then destroyed by the loss of the controller, every such request
// refused.
class SwitchFailuresAtControllerLoss : public SwitchLeftovers, public ::testing::WithParamInterface<std::string> {};

TEST_P(SwitchFailuresAtControllerLoss, NothingIsLeftDriven)
{
    std::string const request = GetParam();
    prepare();
    std::vector<Kind> const all = kinds(peer.port());
    for (unsigned i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(all[i].name);
        join(i, all[i]);
    }
    ASSERT_EQ(board->command("fail-request /dev/hal " + request + " EIO always"), "ok");
    client->close();
    if (request == "disable") {
        // What the board refuses to disable goes once it no longer refuses.
        EXPECT_TRUE(DaemonLauncher::waitFor([&] { return board->command("dump /dev/mcc/ctl").find(':') == std::string::npos; }));
        EXPECT_NE(board->switchLeftovers(), "");
        EXPECT_EQ(board->command("clear-failures"), "ok");
    }
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return board->switchLeftovers().empty(); })) << board->switchLeftovers();
    EXPECT_EQ(board->command("clear-failures"), "ok");
    ASSERT_TRUE(attach());
}

INSTANTIATE_TEST_SUITE_P(EveryRequest, SwitchFailuresAtControllerLoss, ::testing::Values("write", "disable"),
                         [](::testing::TestParamInfo<std::string> const& info) { return info.param; });

}  // namespace
