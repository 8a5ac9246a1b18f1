// The monitoring side of the daemon on the simulated board: status files under the root's
// "/var/monitoring/", the power signal to the controller and the MON messages that a fake
// SNMP agent receives over its link.

#include "runtime/net.h"
#include "tests/board_client.h"
#include "tests/controller_client.h"
#include "tests/daemon_launcher.h"
#include "tests/display_commands.h"
#include "tests/fake_agent.h"
#include "tests/pcap_writer.h"
#include "tests/tshark.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::Bytes;
using testsupport::DaemonLauncher;
using testsupport::FakeAgent;
using Items = std::map<std::string, std::string>;
using Waiting = testsupport::TcpClient::Waiting;

class MonitoringE2E : public ::testing::Test {
protected:
    MonitoringE2E()
        : daemon(GW_SERVER_SIM_BINARY, {"/usr/local/etc", "/var/run", "/var/log", "/dev", "/proc/voice",
                                        "/proc/driver/hdlc/peb22554"}),
          controller(Waiting::Socket)
    {
        std::list<INet4::Addr> own;
        self = Net::ifconfig(own, Net::private_net) > 0 ? own.front().GetStrAddr() : "127.0.0.1";
    }

    void TearDown() override { EXPECT_EQ(0, daemon.stop()); }

    // Starts the daemon with its agent link to the port, and connects the controller.
    void start(std::uint16_t agentPort)
    {
        daemon.writeFile("/usr/local/etc/server.conf",
                         "[snmpagent]\nhost=127.0.0.1:" + std::to_string(agentPort) + "\nname=qelt\n");
        ASSERT_TRUE(daemon.start({daemon.portOption()}));
        ASSERT_TRUE(controller.connect(std::uint16_t(daemon.port()), DaemonLauncher::kTimeout));
    }

    // The next power signal's status, -1 when none comes.
    int power(int timeoutMs = testsupport::ControllerClient::kTimeout)
    {
        ZGCP::Message m;
        while (controller.receive(m, timeoutMs)) {
            if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().power_isSelected())
                return m.get_pdu().get_signal().get_power().asInt();
        }
        return -1;
    }

    // Sends the display command; its answer in short without its sequence number (the
    // signals on the way skipped).
    std::string display(ZGCP::DisplayParams const& params)
    {
        EXPECT_TRUE(controller.send(testsupport::zgcpCommand(testsupport::displayCommand(params), ++seq)));
        ZGCP::Message m;
        while (controller.receive(m)) {
            if (!m.get_pdu().signal_isSelected()) {
                std::string const text = testsupport::describeZgcp(m);
                std::string const own = "seq=" + std::to_string(seq) + " ";
                return text.rfind(own, 0) == 0 ? text.substr(own.size()) : text;
            }
        }
        return "no answer";
    }

    // Takes the agent's messages until the items hold every expected value (the latest
    // value of each counts).
    bool agentHas(Items const& expected, int timeoutMs = testsupport::FakeAgent::kTimeout)
    {
        auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        auto held = [&] {
            for (auto const& [key, value] : expected)
                if (items.count(key) == 0 || items.at(key) != value)
                    return false;
            return true;
        };
        MON::Message m;
        while (!held() && std::chrono::steady_clock::now() < deadline &&
               agent->receive(m, int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         deadline - std::chrono::steady_clock::now())
                                         .count())))
            testsupport::collectItems(m, items);
        return held();
    }

    DaemonLauncher daemon;
    testsupport::ControllerClient controller;
    std::optional<FakeAgent> agent;
    std::string self;
    int seq = 0;
    Items items;
};

TEST_F(MonitoringE2E, AnAgentGetsTrapSinksAndEveryItemWhenItConnectsThenPings)
{
    // (Which file gives which item is checked in-process; these show the daemon's root.)
    daemon.writeFile("/proc/temperature", "45 C\n");
    daemon.writeFile("/proc/driver/hdlc/peb22554/0", "Current state           : No Carrier\n");
    // The agent is not there yet: the link keeps trying every second at first.
    std::uint16_t const port = testsupport::freePort();
    start(port);

    // The power status goes to every controller that connects (main on the model).
    EXPECT_EQ(power(), ZGCP::POWERStatus::main);
    EXPECT_EQ(display(testsupport::trapReceiversDisplay({"10.1.1.1", "10.1.1.2"})), "success");

    agent.emplace(Waiting::Socket, port);
    ASSERT_TRUE(agent->listening());
    ASSERT_TRUE(agent->accept(DaemonLauncher::kTimeout));
    EXPECT_EQ(agent->receiveText(), "trapsinks 10.1.1.1 10.1.1.2");
    EXPECT_TRUE(agentHas({
        {"gatewayCommon/softwareBuild/0", GW_VERSION_TAG},
        {"gatewayCommon/powerStatus/0", "2"},
        {"gatewayCommon/temperature/0", "45"},
        {"e1Table/e1StatusDsc/1", "No Carrier"},
    }));
    EXPECT_TRUE(daemon.waitForErr("snmpagent.qelt 127.0.0.1:" + std::to_string(port) + ": connected.\n"));

    // Nothing more changes: 5 s after the last message, a ping (real time, once).
    std::string last;
    while (last != "ping" && last != "no message")
        last = agent->receiveText(12000);
    EXPECT_EQ(last, "ping");

    // What went on the wire is TPKT as an independent dissector reads it (tshark).
    if (testsupport::findTool("tshark").empty())
        GTEST_SKIP() << "tshark is not installed";
    testsupport::PcapWriter capture(testsupport::PcapWriter::kRawIp);
    std::vector<std::vector<std::string>> expected;
    for (Bytes const& body : agent->frames()) {
        capture.addTcp(testsupport::tpktFrame(body), 40000, port);
        expected.push_back({"3", std::to_string(body.size() + 4)});
    }
    std::vector<std::vector<std::string>> rows;
    std::string error;
    ASSERT_TRUE(testsupport::tsharkFields(capture.bytes(), {"tpkt.version", "tpkt.length"}, rows, error,
                                          {"-d", "tcp.port==" + std::to_string(port) + ",tpkt"}))
        << error;
    EXPECT_EQ(rows, expected);
}

TEST_F(MonitoringE2E, DisplayReportsBecomeStatusFilesAndAgentItems)
{
    agent.emplace(Waiting::Socket);
    start(agent->port());
    ASSERT_TRUE(agent->accept(DaemonLauncher::kTimeout));
    testsupport::BoardClient board(daemon.root());
    EXPECT_EQ(power(), ZGCP::POWERStatus::main);

    struct Report {
        ZGCP::DisplayParams params;
        char const* path;
        std::string content;
        Items items;
    } const reports[] = {
        {testsupport::boardDisplay(2, "1.5", ZGCP::ExtBoardStatus::ready, ZGCP::ExtBoardType::fxs),
         "/var/monitoring/board2", "3\n1.5\n2\n",
         {{"extBoardTable/extBoardStatus/2", "3"}, {"extBoardTable/extBoardSoftVer/2", "1.5"},
          {"extBoardTable/extBoardType/2", "2"}}},
        {testsupport::phoneDisplay(0), "/var/monitoring/emphone0", "p\nc\nf\n2\n3\n2\n1\n2\n",
         {{"emPhoneTable/emPhoneFpgaSoftVer/1", "f"}, {"emPhoneTable/emPhoneBaseStatus/1", "2"}}},
        {testsupport::counterDisplay(ZGCP::TermCounterOwner::extBoard, 3, 7), "/var/monitoring/term_cnts/board3", "7",
         {{"extBoardTermCntTable/extBoardTermCnt/3", "7"}}},
        {testsupport::controllerDisplay(self, 20001, HSP::ControllerStatus::active),
         nullptr, "", {{"gatewayCommon/controllerStatus/0", "2"}}},
        {testsupport::snmpSetDisplay("net", "gw", 3, "10.0.0.1"), "/var/monitoring/net/3/gw", "10.0.0.1",
         {{"net/gw/3", "10.0.0.1"}}},
        // Not a file name: still the agents' item (no file: checked in-process).
        {testsupport::snmpSetDisplay("..", "gw", 3, "x"), nullptr, "", {{"../gw/3", "x"}}},
    };
    for (Report const& r : reports) {
        EXPECT_EQ(display(r.params), "success");
        if (r.path) {
            EXPECT_EQ(daemon.readFile(r.path), r.content) << r.path;
        }
        EXPECT_TRUE(agentHas(r.items)) << seq;
    }
    std::string const controllerDir = "/var/monitoring/controller/" + self;
    EXPECT_EQ(daemon.readFile(controllerDir + "/status"), "2");
    EXPECT_EQ(std::filesystem::read_symlink(daemon.path("/var/monitoring/controller/self")).string(),
              daemon.path(controllerDir));

    // The framers' LEDs and the power supply on the simulated board.
    EXPECT_EQ(display(testsupport::framerDisplay(2, true, true)), "success");
    EXPECT_EQ(board.command("device /dev/hal leds"), "ok 0x30");
    // Code 0 is both supplies.
    EXPECT_EQ(board.command("device /dev/hal power 0"), "ok");
    EXPECT_EQ(power(), ZGCP::POWERStatus::both);
    EXPECT_TRUE(agentHas({{"gatewayCommon/powerStatus/0", "3"}}));
    EXPECT_EQ(daemon.readFile("/var/monitoring/powerstatus"), "3");
}

}  // namespace
