// The controller reports the mixer units of the simulated board, creates ports on them and
// joins them through the switch; the board socket adds and removes units and shows their
// routes.

#include "tests/board_client.h"
#include "tests/controller_client.h"
#include "tests/daemon_launcher.h"
#include "tests/slot_commands.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::ControllerClient;
using testsupport::DaemonLauncher;
using testsupport::plainCommand;
using testsupport::tdmChannel;
using Texts = std::vector<std::string>;

ZGCP::Command create(ZGCP::CreateParams const& params) { return testsupport::createCommand(params); }
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

class MixerE2E : public ::testing::Test {
protected:
    MixerE2E() : daemon(GW_SERVER_SIM_BINARY) {}

    void SetUp() override
    {
        ASSERT_TRUE(daemon.start({daemon.portOption()}));
        board.emplace(daemon.root());
        ASSERT_TRUE(board->connected());
        client.emplace(testsupport::TcpClient::Waiting::Socket);
        client->skipSignal(ZGCP::Signal::trunkStatus::id);
        ASSERT_TRUE(client->connect(std::uint16_t(daemon.port()), DaemonLauncher::kTimeout));
    }

    void TearDown() override { EXPECT_EQ(0, daemon.stop()); }

    // A message in short: the answer to the last command ("success", "error=1"), a stream
    // state ("slot=11 receiver active 4481"), an abort ("slot=30 abort 0"), a query report
    // (describeQuery), else describeZgcp.
    std::string next()
    {
        ZGCP::Message m;
        if (!client->receive(m, ControllerClient::kTimeout))
            return "no message";
        std::string const text = testsupport::describeZgcp(m);
        if (m.get_pdu().response_isSelected() && m.seq_isPresent() && m.get_seq().getValue() == seq)
            return text.substr(text.rfind(' ') + 1);
        if (!m.get_pdu().signal_isSelected())
            return text;
        ZGCP::Signal const& s = m.get_pdu().get_signal();
        std::string const slot = m.slot_isPresent() ? "slot=" + std::to_string(m.get_slot().getValue()) + " " : "";
        if (s.receiver_isSelected() || s.transmitter_isSelected()) {
            ZGCP::Stream const& st = s.receiver_isSelected() ? s.get_receiver() : s.get_transmitter();
            return slot + (s.receiver_isSelected() ? "receiver" : "transmitter")
                 + (st.active_isSelected() ? " active " + std::to_string(st.get_active().getValue()) : " inactive");
        }
        if (s.abort_isSelected())
            return slot + "abort " + std::to_string(s.get_abort().getValue());
        if (s.query_isSelected())
            return describeQuery(s.get_query());
        return text;
    }

    // Sends the command and returns the messages up to its answer; a query's up to its report.
    Texts call(ZGCP::Command const& command, std::optional<unsigned> slot = std::nullopt)
    {
        EXPECT_TRUE(client->send(testsupport::zgcpCommand(command, ++seq, slot)));
        Texts out;
        for (;;) {
            out.push_back(next());
            std::string const& last = out.back();
            bool const answered = last == "success" || last.rfind("error=", 0) == 0;
            if (last == "no message" || (answered && !command.query_isSelected()) || last.rfind("query", 0) == 0)
                return out;
        }
    }

    std::string mixer(std::string const& words) { return board->command("device /dev/mixer " + words); }
    std::string output(int channel) { return board->command("device /dev/hal output " + std::to_string(channel)); }

    DaemonLauncher daemon;
    std::optional<testsupport::BoardClient> board;
    std::optional<ControllerClient> client;
    int seq = 0;
};

TEST_F(MixerE2E, UnitsAreReportedAndPortsRouteAndJoinTheSwitch)
{
    // No unit is known before the first query.
    ASSERT_EQ(mixer("add 3 32 16"), "ok");
    ASSERT_EQ(mixer("add 7 16 16"), "ok");
    EXPECT_EQ(call(create(testsupport::mixerOutParams(3, tdmChannel(0), {})), 10), Texts{"error=1"});

    EXPECT_EQ(call(queryCmd), (Texts{"success", "query 3:16/16/16/770/17/24 7:16/16/16/770/17/24"}));

    auto const out = testsupport::mixerOutParams(3, tdmChannel(0), {{tdmChannel(1), 20000}, {tdmChannel(2), 32767}});
    EXPECT_EQ(call(create(out), 10), Texts{"success"});
    EXPECT_EQ(mixer("routes 3"), "ok 0<1:20000 0<2:32767");
    EXPECT_EQ(call(destroyCmd, 10), Texts{"success"});
    EXPECT_EQ(mixer("routes 3"), "ok");

    EXPECT_EQ(call(create(testsupport::mixerInParams(3, tdmChannel(1), tdmChannel(0))), 11), Texts{"success"});
    EXPECT_EQ(mixer("routes 3"), "ok 0<1:32767");

    // A caller's time slot into the input's channel (switch timeslot 4096 + 3 * 128 + 1).
    EXPECT_EQ(call(create(testsupport::trunkParams(1, 5)), 20), Texts{"success"});
    EXPECT_EQ(call(testsupport::connectCommand(11), 20),
              (Texts{"slot=20 transmitter active 37", "slot=20 receiver active 37", "slot=11 receiver active 4481",
                     "success"}));
    EXPECT_EQ(output(4481).rfind("ok <37 ", 0), 0u) << output(4481);

    EXPECT_EQ(call(destroyCmd, 11), Texts{"success"});
    EXPECT_EQ(mixer("routes 3"), "ok");
    EXPECT_EQ(output(4481).rfind("ok off ", 0), 0u) << output(4481);
}

TEST_F(MixerE2E, PortsOfAVanishedUnitAreAborted)
{
    ASSERT_EQ(mixer("add 3 32 16"), "ok");
    ASSERT_EQ(mixer("add 7 16 8"), "ok");
    EXPECT_EQ(call(queryCmd), (Texts{"success", "query 3:16/16/8/770/17/24 7:16/16/8/770/17/24"}));
    EXPECT_EQ(call(create(testsupport::mixerInParams(7, tdmChannel(2))), 30), Texts{"success"});
    EXPECT_EQ(call(create(testsupport::mixerOutParams(7, tdmChannel(3), {})), 31), Texts{"success"});
    EXPECT_EQ(mixer("routes 7"), "ok 3<3:32767");

    ASSERT_EQ(mixer("remove 7"), "ok");
    EXPECT_EQ(call(queryCmd), (Texts{"success", "slot=30 abort 0", "slot=31 abort 0", "query 3:32/32/16/770/17/24"}));
    // The ports stay until destroyed; no new one is made on the unit.
    EXPECT_EQ(call(create(testsupport::mixerInParams(7, tdmChannel(0))), 32), Texts{"error=1"});
    EXPECT_EQ(call(destroyCmd, 30), Texts{"success"});
    EXPECT_EQ(call(destroyCmd, 31), Texts{"success"});
    EXPECT_TRUE(daemon.waitForErr("mixer [7]: clear tdm output 3\n"));
}

}  // namespace
