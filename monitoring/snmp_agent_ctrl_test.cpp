#include "monitoring/snmp_agent_ctrl.h"

#include "base/clock.h"
#include "base/ini_file.h"
#include "base/packet.h"
#include "control/connector_net.h"
#include "tests/capture.h"
#include "tests/fake_agent.h"
#include "tests/loop_pump.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::CaptureStream;
using testsupport::FakeAgent;
using Waiting = testsupport::TcpClient::Waiting;

std::string block(std::string const& host, std::string const& name)
{
    return "[snmpagent]\nhost=" + host + "\nname=" + name + "\n";
}

std::string agentBlock(FakeAgent const& agent, std::string const& name)
{
    return block("127.0.0.1:" + std::to_string(agent.port()), name);
}

struct Connects : ISnmpAgentNotify {
    void OnSnmpAgentConnect(std::string const& name) override { names.push_back(name); }
    std::vector<std::string> names;
};

class AgentLinks : public ::testing::Test {
protected:
    void configure(SnmpAgentCtrl& ctrl, std::string const& text)
    {
        IniFile::File file;
        std::istringstream in(text);
        in >> file;
        ctrl.CreateInstances(file["snmpagent"]);
        ctrl.Bind(&connects);
    }
    // Accepts the link and waits until it knows it is connected.
    void connect(FakeAgent& agent, std::size_t connections)
    {
        ASSERT_TRUE(agent.accept());
        ASSERT_TRUE(testsupport::runUntil([&] { return connects.names.size() >= connections; }, 5000));
    }
    MON::SnmpSetCommands oidItem(int uniq, std::string const& oid, std::string const& value)
    {
        MON::SnmpSetCommands commands;
        MON::SnmpSetCommand c;
        c.set_uniq(uniq);
        c.set_id().select_oid(oid);
        c.set_value(value);
        commands.set_commands().push_back(c);
        return commands;
    }

    Mux::TestClock clock;
    Connects connects;
};

TEST_F(AgentLinks, EachBlockNamesAnAgentByNumericAddressPortAndType)
{
    // A complaint leaves the link without a connection. The agent the good blocks name is one
    // the test serves, so that no line of a failed connect joins the configuration's.
    FakeAgent agent(Waiting::Loop);
    std::string const served = "127.0.0.1:" + std::to_string(agent.port());
    struct Case { std::string host, name; int type; char const* complaint; } const cases[] = {
        {served, "qelt", 2, nullptr},
        {served, "zarngw", 1, nullptr},
        {served, "zarngw.qe", 4, nullptr},
        {served, "4", 4, nullptr},
        {served, "0x4", 4, nullptr},
        {"10.0.0.5:7001", "bogus", 0, R"("name" has invalid value="bogus", line 3)"},
        {"10.0.0.5", "qelt", 2, R"("host" has invalid value="10.0.0.5", line 2)"},
        {"gw:7001", "qelt", 2, R"("host" has invalid value="gw:7001", line 2)"},
        {"10.0.0.5:70000", "qelt", 2, R"("host" has invalid value="10.0.0.5:70000", line 2)"},
        {"10.0.0.5:0", "qelt", 2, R"("host" has invalid value="10.0.0.5:0", line 2)"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.host + " " + c.name);
        CaptureStream err(std::cerr);
        SnmpAgentCtrl ctrl;
        configure(ctrl, block(c.host, c.name));
        ASSERT_EQ(ctrl.links().size(), 1u);
        SnmpAgentInstance const& link = *ctrl.links().front();
        EXPECT_EQ(link.connection() != nullptr, !c.complaint);
        EXPECT_EQ(link.prefix(), c.complaint ? "" : "snmpagent." + c.name + " " + c.host);
        EXPECT_EQ(link.type(), c.type);
        EXPECT_EQ(err.text(), c.complaint ? "snmpagent: required key " + std::string(c.complaint) + "\n" : "");
    }
    CaptureStream err(std::cerr);
    SnmpAgentCtrl missing;
    configure(missing, "[snmpagent]\nname=qelt\n");
    EXPECT_EQ(err.text(), "snmpagent: required key \"host\" not present, line 1\n");
}

TEST_F(AgentLinks, BatchesGoToEveryAgentAndForwardedCommandsAtOnce)
{
    CaptureStream log(std::clog);
    FakeAgent first(Waiting::Loop);
    FakeAgent second(Waiting::Loop);
    SnmpAgentCtrl ctrl;
    configure(ctrl, agentBlock(first, "qelt") + agentBlock(second, "zarngw"));
    connect(first, 1);
    connect(second, 2);
    EXPECT_EQ(connects.names, (std::vector<std::string>{"qelt", "zarngw"}));

    ctrl.Send(SnmpAgentCtrl::powerStatus, "2");
    ctrl.Send(SnmpAgentCtrl::temperature, "45");
    ctrl.Send(SnmpAgentCtrl::sgBuildVersion, 0, "B");
    ctrl.Send(SnmpAgentCtrl::itemCount, "no such item");
    // Forwarded as they came; empty lists send nothing.
    ctrl.Send(MON::SnmpSetCommands());
    ctrl.SendTrapsink({});
    ctrl.Send(oidItem(77, "1.3.6.1", "x"));
    ctrl.SendTrapsink({"10.1.1.1", "10.1.1.2"});
    for (FakeAgent* agent : {&first, &second}) {
        EXPECT_EQ(agent->receiveText(), "set 77:1.3.6.1=x");
        EXPECT_EQ(agent->receiveText(), "trapsinks 10.1.1.1 10.1.1.2");
        EXPECT_EQ(agent->receiveText(), "set 1:gatewayCommon/powerStatus/0=2 3:gatewayCommon/temperature/0=45");
        EXPECT_EQ(agent->receiveText(), "set 2:gatewayCommon/powerStatus/0=2 4:statusGeneral/sgBuildVersion/0=B");
    }

    // A link that is not connected drops what it is given, and gets nothing of it later.
    second.close();
    ASSERT_TRUE(testsupport::runUntil([&] { return log.text().find("zarngw 127.0.0.1:" + std::to_string(second.port()) +
                                                                   ": connection lost, reset snmpagent instance\n") !=
                                                   std::string::npos; },
                                      5000));
    ctrl.Send(SnmpAgentCtrl::gatewayDip, "7");
    EXPECT_EQ(first.receiveText(), "set 5:gatewayCommon/gatewayDip/0=7");
    EXPECT_EQ(first.receiveText(), "set 6:gatewayCommon/gatewayDip/0=7");
    testsupport::advance(clock, Control::ConnectorNet::reconnect_wait_ms);
    connect(second, 3);
    ctrl.SendTrapsink({"10.1.1.3"});
    EXPECT_EQ(second.receiveText(), "trapsinks 10.1.1.3");
}

TEST_F(AgentLinks, PingsKeepAnAnsweringAgentAndThirtySecondsOfSilenceDropIt)
{
    CaptureStream err(std::cerr);
    CaptureStream log(std::clog);
    FakeAgent agent(Waiting::Loop);
    SnmpAgentCtrl ctrl;
    configure(ctrl, agentBlock(agent, "qelt"));
    connect(agent, 1);
    std::string const prefix = "snmpagent.qelt 127.0.0.1:" + std::to_string(agent.port());
    EXPECT_EQ(log.text(), prefix + ": connected.\n");

    // The ping timer starts with a message sent.
    testsupport::advance(clock, 3 * SnmpAgentInstance::ping_ms);
    ctrl.Send(SnmpAgentCtrl::temperature, "40");
    EXPECT_EQ(agent.receiveText(), "set 1:gatewayCommon/temperature/0=40");

    // Every answer counts as a sign of life: a response, a command, even an undecodable frame.
    MON::Message response;
    response.set_pdu().select_response().select_ping().select_success();
    MON::Message command;
    command.set_pdu().select_command().select_ping();
    for (int i = 0; i < 9; ++i) {
        testsupport::advance(clock, SnmpAgentInstance::ping_ms - 1);
        EXPECT_EQ(agent.receiveText(100), "no message");
        testsupport::advance(clock, 1);
        EXPECT_EQ(agent.receiveText(), "ping");
        if (i % 3 == 0)
            ASSERT_TRUE(agent.send(response));
        else if (i % 3 == 1)
            ASSERT_TRUE(agent.send(command));
        else
            ASSERT_TRUE(agent.sendFrame({0xFF, 0xFF}));
        testsupport::settle();
    }
    std::string const answers = prefix + ": receive unknown message type\n" + prefix + ": receive : decode error!\n";
    EXPECT_EQ(err.text(), answers + answers + answers);
    EXPECT_EQ(log.text(), prefix + ": connected.\n");

    // Silent now: the ping 30 s after its last message still goes, the next one drops it.
    std::uint32_t const stamp = Mux::milliseconds();
    for (int i = 0; i < 7; ++i) {
        testsupport::advance(clock, SnmpAgentInstance::ping_ms);
        EXPECT_EQ(agent.receiveText(), "ping");
    }
    EXPECT_TRUE(agent.waitClosed());
    ASSERT_TRUE(testsupport::runUntil([&] { return log.text().find("reset") != std::string::npos; }, 5000));
    EXPECT_EQ(log.text(), prefix + ": connected.\n" + prefix + ": ping timeout !!! now=" +
                              std::to_string(stamp + 35000) + " stamp=" + std::to_string(stamp) + "\n" + prefix +
                              ": connection lost, reset snmpagent instance\n");

    // No ping while it is down; back at the connector's reconnection 10 s later.
    testsupport::advance(clock, Control::ConnectorNet::reconnect_wait_ms);
    connect(agent, 2);
    EXPECT_EQ(agent.receiveText(100), "no message");
}

// The agent links draw on the packets the pool keeps for the message links: with every
// other packet taken (by the signalling links' queues and frames), items and pings still go
// out and the agent is still heard.
TEST_F(AgentLinks, AnAgentIsServedWhileTheSignallingLinksHoldEveryOtherPacket)
{
    CaptureStream err(std::cerr);
    FakeAgent agent(Waiting::Loop);
    SnmpAgentCtrl ctrl;
    configure(ctrl, agentBlock(agent, "qelt"));
    connect(agent, 1);
    std::vector<Packet> held;
    for (PacketUse use : {PacketUse::queued, PacketUse::frame})
        for (Packet p; p.try_reserve_head(0, use); p.clear())
            held.push_back(p);
    ctrl.Send(SnmpAgentCtrl::temperature, "40");
    EXPECT_EQ(agent.receiveText(), "set 1:gatewayCommon/temperature/0=40");
    testsupport::advance(clock, SnmpAgentInstance::ping_ms);
    EXPECT_EQ(agent.receiveText(), "ping");
    MON::Message command;
    command.set_pdu().select_command().select_ping();
    ASSERT_TRUE(agent.send(command));
    ASSERT_TRUE(testsupport::runUntil([&] { return !err.text().empty(); }, 5000));
    std::string const prefix = "snmpagent.qelt 127.0.0.1:" + std::to_string(agent.port());
    EXPECT_EQ(err.text(), prefix + ": receive unknown message type\n");
}

}  // namespace
