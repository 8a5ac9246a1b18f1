// The monitoring side of the daemon on the simulated board: status files under the root's
// "/var/monitoring/", the power signal to the controller and the MON messages that a fake
// SNMP agent receives over its link.

#include "runtime/net.h"
#include "tests/board_client.h"
#include "tests/controller_client.h"
#include "tests/daemon_launcher.h"
#include "tests/display_commands.h"
#include "tests/fake_agent.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::Bytes;
using testsupport::DaemonLauncher;
using testsupport::FakeAgent;
using Items = std::map<std::string, std::string>;
using Waiting = testsupport::TcpClient::Waiting;

int const kQuick = 3000;

// The frames of a TCP stream from port 40000 to the port, one segment each, as a capture
// file that tshark reads.
void writeCapture(std::string const& path, std::vector<Bytes> const& bodies, std::uint16_t port)
{
    auto put16 = [](Bytes& b, unsigned v) { b.insert(b.end(), {std::uint8_t(v >> 8), std::uint8_t(v)}); };
    auto put32 = [&](Bytes& b, unsigned v) { put16(b, v >> 16), put16(b, v & 0xFFFF); };
    auto le32 = [](Bytes& b, unsigned v) {
        b.insert(b.end(), {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)});
    };
    Bytes file;
    for (unsigned v : {0xA1B2C3D4u, 0x00040002u, 0u, 0u, 65535u, 1u})  // version 2.4, Ethernet
        le32(file, v);
    unsigned seq = 1;
    for (Bytes const& body : bodies) {
        Bytes const payload = testsupport::tpktFrame(body);
        Bytes p(12, 0);
        put16(p, 0x0800);
        Bytes ip{0x45, 0};
        put16(ip, unsigned(20 + 20 + payload.size()));
        ip.insert(ip.end(), {0, 0, 0x40, 0, 64, 6, 0, 0, 127, 0, 0, 1, 127, 0, 0, 1});
        unsigned sum = 0;
        for (std::size_t i = 0; i < ip.size(); i += 2)
            sum += unsigned(ip[i]) << 8 | ip[i + 1];
        sum = ~((sum & 0xFFFF) + (sum >> 16)) & 0xFFFF;
        ip[10] = std::uint8_t(sum >> 8);
        ip[11] = std::uint8_t(sum);
        p.insert(p.end(), ip.begin(), ip.end());
        put16(p, 40000);
        put16(p, port);
        put32(p, seq);
        put32(p, 1);
        p.insert(p.end(), {0x50, 0x18, 0xFF, 0xFF, 0, 0, 0, 0});
        p.insert(p.end(), payload.begin(), payload.end());
        seq += unsigned(payload.size());
        for (unsigned v : {1700000000u, 0u, unsigned(p.size()), unsigned(p.size())})
            le32(file, v);
        file.insert(file.end(), p.begin(), p.end());
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<char const*>(file.data()), std::streamsize(file.size()));
}

// What tshark's TPKT dissector reads in each frame: "version length".
std::vector<std::string> tpktAsTsharkSees(std::string const& capture, std::uint16_t port)
{
    std::string const command = "tshark -r " + capture + " -d tcp.port==" + std::to_string(port) +
                                ",tpkt -T fields -e tpkt.version -e tpkt.length -E separator=' ' 2>/dev/null";
    std::vector<std::string> lines;
    std::unique_ptr<FILE, int (*)(FILE*)> out(::popen(command.c_str(), "r"), ::pclose);
    char line[256];
    while (out && std::fgets(line, sizeof line, out.get()))
        lines.push_back(std::string(line, std::strcspn(line, "\n")));
    return lines;
}

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

    // The next power signal's status, -1 when none comes; the answers passed on the way
    // go to `answers`.
    int power(int timeoutMs = testsupport::ControllerClient::kTimeout)
    {
        ZGCP::Message m;
        while (controller.receive(m, timeoutMs)) {
            if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().power_isSelected())
                return m.get_pdu().get_signal().get_power().asInt();
            answers.push_back(testsupport::describeZgcp(m));
        }
        return -1;
    }

    // Sends the display command; its answer in short without its sequence number, the power
    // signals passed on the way kept.
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
            if (m.get_pdu().get_signal().power_isSelected())
                powers.push_back(m.get_pdu().get_signal().get_power().asInt());
        }
        return "no answer";
    }

    // Takes the agent's messages until the items hold every expected value (the latest
    // value of each counts); the other messages in short go to `other`.
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
                                         .count()))) {
            std::string const text = testsupport::describeMon(m);
            if (text.rfind("set ", 0) != 0)
                other.push_back(text);
            testsupport::collectItems(m, items);
        }
        return held();
    }

    bool exists(std::string const& boardPath) const
    {
        return std::filesystem::exists(std::filesystem::symlink_status(daemon.path(boardPath)));
    }

    DaemonLauncher daemon;
    testsupport::ControllerClient controller;
    std::optional<FakeAgent> agent;
    std::string self;
    int seq = 0;
    std::vector<std::string> answers;
    std::vector<int> powers;
    Items items;
    std::vector<std::string> other;
};

TEST_F(MonitoringE2E, AnAgentGetsTrapSinksAndEveryItemWhenItConnectsThenPings)
{
    daemon.writeFile("/var/version", "B1.0\n");
    daemon.writeFile("/proc/temperature", "45 C\n");
    daemon.writeFile("/proc/voice/version", "voice drv 1.2 2009\n");
    daemon.writeFile("/proc/driver/hdlc/peb22554/0", "Current state           : No Carrier\n");
    daemon.writeFile("/usr/local/etc/config.0000000a.00000000000000ff", "");
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
        {"gatewayCommon/driverBuild/0", "drv [1.2 2009]"},
        {"gatewayCommon/softwareBuild/0", GW_VERSION_TAG},
        {"gatewayCommon/powerStatus/0", "2"},
        {"gatewayCommon/gatewayDip/0", "0"},
        {"gatewayCommon/gatewayConfigVersion/0", "10"},
        {"gatewayCommon/temperature/0", "45"},
        {"statusGeneral/sgBuildVersion/0", "B1.0\n"},
        {"e1Table/e1StatusDsc/1", "No Carrier"},
        {"e1Table/e1Connected/1", "0"},
    }));
    EXPECT_TRUE(daemon.waitForErr("snmpagent.qelt 127.0.0.1:" + std::to_string(port) + ": connected.\n"));

    // Nothing more changes: 5 s after the last message, a ping (real time, once).
    std::string last;
    while (last != "ping" && last != "no message")
        last = agent->receiveText(12000);
    EXPECT_EQ(last, "ping");

    // What went on the wire is TPKT as an independent dissector reads it.
    if (::access("/usr/bin/tshark", X_OK) != 0)
        GTEST_SKIP() << "tshark is not installed";
    std::string const capture = daemon.path("/var/log/agent.pcap");
    writeCapture(capture, agent->frames(), port);
    std::vector<std::string> expected;
    for (Bytes const& body : agent->frames())
        expected.push_back("3 " + std::to_string(body.size() + 4));
    EXPECT_EQ(tpktAsTsharkSees(capture, port), expected);
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
        {testsupport::counterDisplay(ZGCP::TermCounterOwner::server, std::nullopt, 5),
         "/var/monitoring/term_cnts/server", "5", {{"gatewayTermCounters/serverTermCnt/0", "5"}}},
        {testsupport::counterDisplay(ZGCP::TermCounterOwner::extBoard, 3, 7), "/var/monitoring/term_cnts/board3", "7",
         {{"extBoardTermCntTable/extBoardTermCnt/3", "7"}}},
        {testsupport::controllerDisplay(self, 20001, HSP::ControllerStatus::active),
         nullptr, "", {{"gatewayCommon/controllerStatus/0", "2"}}},
        {testsupport::snmpSetDisplay("net", "gw", 3, "10.0.0.1"), "/var/monitoring/net/3/gw", "10.0.0.1",
         {{"net/gw/3", "10.0.0.1"}}},
        // Not a file name: no file, and still the agents' item.
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
    EXPECT_FALSE(exists("/var/gw"));
    EXPECT_FALSE(exists("/var/3"));
    EXPECT_TRUE(daemon.waitForErr("FAIL snmp-set item <..> <gw>: not a file name\n"));

    // The framers' LEDs and the power supply on the simulated board.
    EXPECT_EQ(display(testsupport::framerDisplay(2, true, true)), "success");
    EXPECT_EQ(board.command("device /dev/hal leds"), "ok 0x30");
    EXPECT_EQ(board.command("device /dev/hal power 1"), "ok");
    EXPECT_EQ(power(), ZGCP::POWERStatus::standby);
    EXPECT_TRUE(agentHas({{"gatewayCommon/powerStatus/0", "1"}}));
    EXPECT_EQ(daemon.readFile("/var/monitoring/powerstatus"), "1");
}

}  // namespace
