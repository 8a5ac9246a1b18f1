// The controller creates, connects, disconnects and destroys slots on the daemon running on
// the simulated board, and sees the switch through the board socket.

#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::BoardClient;
using testsupport::Bytes;
using testsupport::ControllerClient;
using testsupport::DaemonLauncher;

using testsupport::BusChannel;
using testsupport::plainCommand;

ZGCP::CreateParams trunk(unsigned t, unsigned ts) { return testsupport::trunkParams(t, ts); }
ZGCP::CreateParams map(std::optional<BusChannel> tx, std::optional<BusChannel> rx) { return testsupport::mapParams(tx, rx); }
ZGCP::CreateParams ext(int tx, int rx) { return testsupport::extParams(tx, rx); }
ZGCP::CreateParams echo(int bus, int channel) { return testsupport::echoParams(bus, channel); }

ZGCP::Command const disconnectCmd = plainCommand(ZGCP::Command::disconnect::id);
ZGCP::Command const destroyCmd = plainCommand(ZGCP::Command::destroy::id);
ZGCP::Command const activateCmd = plainCommand(ZGCP::Command::activate::id);
ZGCP::Command const queryCmd = plainCommand(ZGCP::Command::query::id);
ZGCP::Command const pingCmd = plainCommand(ZGCP::Command::ping::id);

using SlotsE2E = testsupport::SimDaemonTest;

TEST_F(SlotsE2E, TrunkAndMapSlotsAreJoinedThroughTheSwitch)
{
    EXPECT_EQ(on(7, create(trunk(1, 5))), "success");
    EXPECT_EQ(next(2), (std::vector<std::string>{"slot=7 transmitter active 37", "slot=7 receiver active 37"}));

    EXPECT_EQ(on(8, create(map(BusChannel{1, 2}, BusChannel{0, 0}))), "success");
    EXPECT_EQ(next(2), (std::vector<std::string>{"slot=8 receiver active 8192", "slot=8 transmitter active 8322"}));

    EXPECT_EQ(on(8, connect(7)), "success");
    EXPECT_EQ(output(37).rfind("ok <8322 ", 0), 0u) << output(37);
    EXPECT_NE(board->command("dump /dev/hal").find("37<8322"), std::string::npos);
    EXPECT_TRUE(logged("mux: slot 08:map [8322] -> 07:trunk [37]\n"));

    EXPECT_EQ(on(7, disconnectCmd), "success");
    EXPECT_EQ(output(37).rfind("ok =0xd5 ", 0), 0u) << output(37);
    EXPECT_TRUE(logged("mux: disconnect slot 07:trunk [37]\n"));
    // Nothing else was sent meanwhile: the next message answers the next command.
    EXPECT_TRUE(pinged());
}

TEST_F(SlotsE2E, ConflictsReplacementsAndRefusals)
{
    EXPECT_EQ(on(7, create(trunk(1, 5))), "success");
    next(2);
    // The same time slot under another number: the older slot goes.
    EXPECT_EQ(on(9, create(trunk(1, 5))), "success");
    EXPECT_EQ(next(2), (std::vector<std::string>{"slot=9 transmitter active 37", "slot=9 receiver active 37"}));
    EXPECT_TRUE(logged("trunk-slot: two slots require the same timeslot, remove old.\n old slot 07:trunk\n"));
    EXPECT_EQ(on(7, destroyCmd), "error=3");

    // A create over a live number replaces the slot and is answered once.
    EXPECT_EQ(on(9, create(map(BusChannel{2, 3}, std::nullopt))), "success");
    EXPECT_EQ(next(), "slot=9 transmitter active 8451");
    EXPECT_TRUE(pinged());

    // No factory takes these.
    EXPECT_EQ(on(10, create(trunk(4, 0))), "error=1");
    EXPECT_EQ(on(10, create(echo(0, 1))), "error=1");
    EXPECT_EQ(on(10, create(ext(0, 2048))), "error=1");

    // Free numbers.
    EXPECT_EQ(on(100, destroyCmd), "error=3");
    EXPECT_EQ(on(100, disconnectCmd), "error=3");
    EXPECT_EQ(on(100, connect(9)), "error=3");
    EXPECT_EQ(on(9, connect(100)), "error=3");

    // A connect to slot 1024 can only be written by hand: the target field holds 16 bits.
    Bytes body = testsupport::encodeZgcp(testsupport::zgcpCommand(connect(1023), ++seq, 9u));
    ASSERT_GE(body.size(), 2u);
    ASSERT_EQ(body[body.size() - 2], 0x03);
    ASSERT_EQ(body[body.size() - 1], 0xFF);
    body[body.size() - 2] = 0x04;
    body[body.size() - 1] = 0x00;
    ASSERT_TRUE(client->sendFrame(body));
    EXPECT_EQ(answer(next(), 9), "error=2");
}

TEST_F(SlotsE2E, ExternalChannelTakesASourceOnlyAfterActivate)
{
    EXPECT_EQ(on(7, create(trunk(1, 5))), "success");
    next(2);
    EXPECT_EQ(on(20, create(ext(5, 6))), "success");
    EXPECT_EQ(next(), "slot=20 transmitter active 8197");

    EXPECT_EQ(on(7, connect(20)), "error=9");
    EXPECT_TRUE(logged("slot 20:bri don't have input stream from 07:trunk\n"));

    // The receiver opens while the command is handled: its signal comes before the answer.
    EXPECT_EQ(on(20, activateCmd), "slot=20 receiver active 8198");
    EXPECT_EQ(answer(next(), 20), "success");
    EXPECT_EQ(output(8198).rfind("ok =0xd5 ", 0), 0u) << output(8198);
    EXPECT_EQ(on(7, connect(20)), "success");
    EXPECT_EQ(output(8198).rfind("ok <37 ", 0), 0u) << output(8198);
}

TEST_F(SlotsE2E, SlotlessQueryIsAnsweredThenReportsTheResources)
{
    EXPECT_TRUE(client->send(testsupport::zgcpCommand(queryCmd, ++seq)));
    EXPECT_EQ(next(), "seq=" + std::to_string(seq) + " success");
    ZGCP::Message m;
    ASSERT_TRUE(client->receive(m, ControllerClient::kTimeout));
    EXPECT_FALSE(m.seq_isPresent());
    EXPECT_FALSE(m.slot_isPresent());
    ASSERT_TRUE(m.get_pdu().signal_isSelected());
    ASSERT_TRUE(m.get_pdu().get_signal().query_isSelected());
    ZGCP::Resources const& r = m.get_pdu().get_signal().get_query();
    EXPECT_TRUE(r.get_mux());
    EXPECT_EQ(r.get_echoBus().size(), 0u);
    EXPECT_EQ(r.get_mixer().size(), 0u);
    EXPECT_EQ(r.get_lin16().getValue(), 0);
    EXPECT_EQ(r.get_t38_instances().getValue(), 0);
    EXPECT_FALSE(r.drvVersion_isPresent());

    // SIGHUP sends the same report outside any command.
    ASSERT_TRUE(daemon.signal(SIGHUP));
    ASSERT_TRUE(client->receive(m, ControllerClient::kTimeout));
    EXPECT_TRUE(m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().query_isSelected());
    EXPECT_TRUE(logged("update hardware resources\n"));
}

// The relay program counts the board's relays beside the loop. A burst of pipelined queries
// runs it a handful of times, not once each, and every query gets its answer and its report.
// A program that tells nothing holds nothing up: a ping sent meanwhile is answered, the report
// comes with the last count once the program has had its second, and the program is gone.
TEST_F(SlotsE2E, QueriesNeverWaitOnTheRelayProgram)
{
    testsupport::StubChild relay(daemon.root(), "/usr/local/sbin/t38");
    struct Case {
        char const* settings;
        int queries;
        bool answersFirst;  // every answer comes before the first report
    } const cases[] = {{"INSTANCES=4", 1000, false}, {"COUNT=hang", 1, true}};
    for (Case const& c : cases) {
        SCOPED_TRACE(c.settings);
        relay.configure(c.settings);
        // Past the second in which the last count serves.
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        std::size_t const runs = relay.pids().size();
        auto const start = std::chrono::steady_clock::now();
        Bytes burst;
        int const first = seq + 1;
        for (int i = 0; i < c.queries; ++i) {
            append(burst, queryCmd);
            if (i % 100 == 99)
                append(burst, pingCmd);
        }
        append(burst, pingCmd);
        ASSERT_TRUE(client->sendRaw(burst));

        std::vector<int> reports;
        auto const report = [&](ZGCP::Message const& m) {
            if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().query_isSelected())
                reports.push_back(m.get_pdu().get_signal().get_query().get_t38_instances().getValue());
        };
        for (auto const& [number, text] : answers(first, report))
            EXPECT_EQ(text, "seq=" + std::to_string(number) + " success");
        EXPECT_TRUE(!c.answersFirst || reports.empty()) << "a report before the last answer";
        for (ZGCP::Message m; reports.size() < std::size_t(c.queries) && client->receive(m, ControllerClient::kTimeout);)
            report(m);
        EXPECT_EQ(reports, std::vector<int>(std::size_t(c.queries), 4));
        auto const seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
        EXPECT_LE(relay.pids().size() - runs, std::size_t(seconds.count()) + 2);
        int const pid = relay.pids().back();
        EXPECT_TRUE(DaemonLauncher::waitFor([&] { return ::kill(pid, 0) != 0; }));
    }
    EXPECT_TRUE(logged("t38soft: t38 daemon[" + std::to_string(relay.pids().back())
                       + "] told no count within 1000 ms, killed; the last count stands\n"));
}

TEST_F(SlotsE2E, LosingTheControllerDestroysEverySlot)
{
    EXPECT_EQ(on(7, create(trunk(1, 5))), "success");
    next(2);
    EXPECT_EQ(on(8, create(map(BusChannel{1, 2}, BusChannel{0, 0}))), "success");
    next(2);
    EXPECT_EQ(on(7, connect(8)), "success");
    EXPECT_EQ(output(8192).rfind("ok <37 ", 0), 0u) << output(8192);

    client->close();
    EXPECT_TRUE(logged("map: disable map channel 0\n"));
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return output(8192).rfind("ok off ", 0) == 0; }));

    ASSERT_TRUE(attach());
    EXPECT_EQ(on(7, destroyCmd), "error=3");
    EXPECT_EQ(on(8, destroyCmd), "error=3");
    // The time slot is free again: no conflict.
    EXPECT_EQ(on(11, create(trunk(1, 5))), "success");
    EXPECT_EQ(daemon.err().find("trunk-slot:"), std::string::npos);
}

}  // namespace
