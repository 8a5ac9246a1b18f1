// The controller reports the mixer units of the simulated board, creates ports on them and
// joins them through the switch; the board socket adds and removes units and shows their
// routes.

#include "tests/sim_daemon_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::ControllerClient;
using testsupport::plainCommand;
using testsupport::tdmChannel;
using Texts = std::vector<std::string>;

ZGCP::Command const destroyCmd = plainCommand(ZGCP::Command::destroy::id);
ZGCP::Command const queryCmd = plainCommand(ZGCP::Command::query::id);

// "query 3:16/16/16/770/17/24 ...": per unit its TDM inputs, TDM outputs, mixer inputs and
// the processing costs.
std::string describeQuery(ZGCP::Resources const& r)
{
    std::string text = "query";
    for (ZGCP::MixerResources_subtype const& m : r.get_mixer()) {
        text += " " + std::to_string(m.get_unit().getValue()) + ":" + std::to_string(m.get_tdm_inputs().getValue());
        for (ASN1::INTEGER const* v : {&m.get_tdm_outputs(), &m.get_mixer_inputs(), &m.get_dpu_per_mixer(),
                                       &m.get_dpu_per_ec(), &m.get_dpu_per_lms()})
            text += "/" + std::to_string(v->getValue());
    }
    return text;
}

class MixerE2E : public testsupport::SimDaemonTest {
protected:
    // The next message: query reports as describeQuery has them, the rest as describe() does.
    using SimDaemonTest::next;
    std::string next() override
    {
        ZGCP::Message m;
        if (!client->receive(m, ControllerClient::kTimeout))
            return "no message";
        if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().query_isSelected())
            return describeQuery(m.get_pdu().get_signal().get_query());
        return testsupport::describe(m);
    }

    // A query: its answer ("success") and what comes up to its report.
    Texts query()
    {
        std::string const answer = call(queryCmd);
        std::string const prefix = "seq=" + std::to_string(seq) + " ";
        Texts out{answer.rfind(prefix, 0) == 0 ? answer.substr(prefix.size()) : answer};
        while (out.back().rfind("query", 0) != 0 && out.back() != "no message")
            out.push_back(next());
        return out;
    }

    std::string mixer(std::string const& words) { return board->command("device /dev/mixer " + words); }
};

TEST_F(MixerE2E, UnitsAreReportedPortsRouteAndJoinTheSwitchAndGoWithTheirUnit)
{
    // No unit is known before the first query.
    ASSERT_EQ(mixer("add 3 32 16"), "ok");
    ASSERT_EQ(mixer("add 7 16 8"), "ok");
    EXPECT_EQ(on(10, create(testsupport::mixerOutParams(3, tdmChannel(0), {}))), "error=1");

    EXPECT_EQ(query(), (Texts{"success", "query 3:16/16/8/770/17/24 7:16/16/8/770/17/24"}));

    auto const out = testsupport::mixerOutParams(3, tdmChannel(0), {{tdmChannel(1), 20000}, {tdmChannel(2), 32767}});
    EXPECT_EQ(on(10, create(out)), "success");
    EXPECT_EQ(mixer("routes 3"), "ok 0<1:20000 0<2:32767");
    EXPECT_EQ(on(10, destroyCmd), "success");
    EXPECT_EQ(mixer("routes 3"), "ok");

    EXPECT_EQ(on(11, create(testsupport::mixerInParams(3, tdmChannel(1), tdmChannel(0)))), "success");
    EXPECT_EQ(mixer("routes 3"), "ok 0<1:32767");

    // A caller's time slot into the input's channel (switch timeslot 4096 + 3 * 128 + 1).
    EXPECT_EQ(on(20, create(testsupport::trunkParams(1, 5))), "success");
    EXPECT_EQ(on(20, testsupport::connectCommand(11)), "slot=20 transmitter active 37");
    EXPECT_EQ(next(2), (Texts{"slot=20 receiver active 37", "slot=11 receiver active 4481"}));
    EXPECT_EQ(answer(next(), 20), "success");
    EXPECT_EQ(output(4481).rfind("ok <37 ", 0), 0u) << output(4481);

    EXPECT_EQ(on(11, destroyCmd), "success");
    EXPECT_EQ(mixer("routes 3"), "ok");
    EXPECT_EQ(output(4481).rfind("ok off ", 0), 0u) << output(4481);

    // The ports of a unit that vanished are aborted, and stay until destroyed; no new one is
    // made on the unit.
    EXPECT_EQ(on(30, create(testsupport::mixerInParams(7, tdmChannel(2)))), "success");
    EXPECT_EQ(on(31, create(testsupport::mixerOutParams(7, tdmChannel(3), {}))), "success");
    EXPECT_EQ(mixer("routes 7"), "ok 3<3:32767");
    ASSERT_EQ(mixer("remove 7"), "ok");
    EXPECT_EQ(query(), (Texts{"success", "slot=30 abort 0", "slot=31 abort 0", "query 3:32/32/16/770/17/24"}));
    EXPECT_EQ(on(32, create(testsupport::mixerInParams(7, tdmChannel(0)))), "error=1");
    EXPECT_EQ(on(30, destroyCmd), "success");
    EXPECT_EQ(on(31, destroyCmd), "success");
    EXPECT_TRUE(logged("mixer [7]: clear tdm output 3\n"));
}

}  // namespace
