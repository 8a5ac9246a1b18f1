// Every switch request of the churn of every slot kind (tests/switch_kinds_test_support.h)
// refused once by the board, on the daemon running on the simulated board: no command whose
// request was refused answers success (but a destroy: its slot is gone all the same), and
// afterwards no output is left driven.

#include "tests/switch_kinds_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using testsupport::DaemonLauncher;

// One row a switch request (connect, write: the idle byte, or disable) and slot kind. A kind
// without an input drives only the trunk time slot it joins, and a BRI slot's channel is a
// line's time slot: both get the idle byte when they go, so neither has a disable to refuse.
class SwitchFailures : public testsupport::SwitchKindsTest,
                       public ::testing::WithParamInterface<std::tuple<std::string, unsigned>> {
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

}  // namespace
