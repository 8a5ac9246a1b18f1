// The controller's view of the daemon: ZGCP over TPKT on its port, byte for byte.

#include "messages/zarngw.h"
#include "tests/controller_client.h"
#include "tests/daemon_launcher.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <string>

namespace {

using testsupport::Bytes;
using testsupport::ControllerClient;
using testsupport::DaemonLauncher;
using testsupport::hexBytes;
using testsupport::hexText;

class Controller : public ::testing::Test {
protected:
    Controller() : daemon(GW_SERVER_SIM_BINARY), client(testsupport::TcpClient::Waiting::Socket)
    {
        client.skipSignal(ZGCP::Signal::trunkStatus::id);
        client.skipSignal(ZGCP::Signal::power::id);
    }

    void SetUp() override
    {
        ASSERT_TRUE(daemon.start({daemon.portOption()}));
        ASSERT_TRUE(client.connect(std::uint16_t(daemon.port()), DaemonLauncher::kTimeout));
        ASSERT_TRUE(daemon.logged("controller connect."));
    }

    void TearDown() override
    {
        // The daemon ends cleanly with a controller connected.
        EXPECT_EQ(0, daemon.stop());
    }

    // The next whole frame, TPKT header included; "" when none came.
    std::string nextFrame()
    {
        Bytes body;
        if (!client.receiveFrame(body, ControllerClient::kTimeout))
            return "";
        return hexText(testsupport::tpktFrame(body));
    }

    // Sends the body (hex) in one TPKT frame and returns the frame that comes back.
    std::string exchange(std::string const& body)
    {
        EXPECT_TRUE(client.sendFrame(hexBytes(body)));
        return nextFrame();
    }

    std::string exchange(ZGCP::Message const& message)
    {
        Bytes const body = testsupport::encodeZgcp(message);
        EXPECT_FALSE(body.empty());
        return exchange(hexText(body));
    }

    DaemonLauncher daemon;
    ControllerClient client;
};

TEST_F(Controller, PingIsAnsweredAndACommandNobodyTakesIsUnexpected)
{
    EXPECT_EQ("03 00 00 08 80 01 01 40", exchange("80 01 01 18"));
    EXPECT_EQ("03 00 00 05 10", exchange("06 00"));
    // destroy to slot 5: the slot table finds no slot there (slotNotExists).
    EXPECT_EQ("03 00 00 08 40 00 05 63", exchange("40 00 05 0A"));
    // ping with seq 300.
    EXPECT_EQ("03 00 00 09 80 02 01 2C 40", exchange("80 02 01 2C 18"));
}

TEST_F(Controller, OutOfRangeSlotAndPdusThatAreNoCommands)
{
    // seq 1, slot 1024, destroy.
    EXPECT_EQ("03 00 00 08 80 01 01 62", exchange("C0 01 01 04 00 0A"));

    // A response and a signal, with a slot: the error repeats the seq and no slot.
    ZGCP::PDU response(ZGCP::PDU::response::id, ZGCP::Response(ZGCP::Response::success::id, ASN1::Null()));
    EXPECT_EQ("03 00 00 08 80 01 01 64", exchange(testsupport::zgcpMessage(response, 1, 5)));
    ZGCP::PDU signal(ZGCP::PDU::signal::id, ZGCP::Signal(ZGCP::Signal::abort::id, 2));
    EXPECT_EQ("03 00 00 06 19 00", exchange(testsupport::zgcpMessage(signal, std::nullopt, 5)));

    // protoZarn: no service takes it.
    ZGCP::Command zarn(ZGCP::Command::protoZarn::id, ZARNGW::ProtoZarnPackets());
    EXPECT_EQ("03 00 00 08 80 01 01 64", exchange(testsupport::zgcpCommand(zarn, 1)));
}

TEST_F(Controller, UndecodableBytesGetNoReplyAndTheLinkStaysUp)
{
    EXPECT_TRUE(client.sendFrame(hexBytes("FF FF FF")));
    EXPECT_TRUE(daemon.waitForErr("receive fail: decode error!\n msg: FF FF FF \n"));
    // The next frame to arrive is the answer to the next ping.
    EXPECT_EQ("03 00 00 08 80 01 07 40", exchange("80 01 07 18"));
    EXPECT_NE(std::string::npos, daemon.err().find("]: receive fail: decode error!\n")) << daemon.err();
}

TEST_F(Controller, EveryCommandOfOneWriteGetsOneResponseInOrder)
{
    // Pings, destroys to slot 5, slots out of range and garbage, all in one write.
    Bytes burst;
    std::vector<std::string> expected;
    for (int seq = 1; seq <= 120; ++seq) {
        std::string request;
        std::string answer;
        Bytes const s{std::uint8_t(seq)};
        switch (seq % 4) {
        case 0:
            request = "80 01 " + hexText(s) + " 18";
            answer = "80 01 " + hexText(s) + " 40";
            break;
        case 1:
            request = "C0 01 " + hexText(s) + " 00 05 0A";
            answer = "C0 01 " + hexText(s) + " 00 05 63";  // slotNotExists
            break;
        case 2:
            request = "C0 01 " + hexText(s) + " FF FF 18";
            answer = "80 01 " + hexText(s) + " 62";
            break;
        case 3:
            request = "FF";
            break;
        }
        Bytes const frame = testsupport::tpktFrame(hexBytes(request));
        burst.insert(burst.end(), frame.begin(), frame.end());
        if (!answer.empty())
            expected.push_back(answer);
    }
    ASSERT_TRUE(client.sendRaw(burst));
    for (std::string const& answer : expected) {
        Bytes body;
        ASSERT_TRUE(client.receiveFrame(body)) << answer;
        EXPECT_EQ(answer, hexText(body));
    }
    // Nothing more came: the next frame answers the next command.
    EXPECT_EQ("03 00 00 05 10", exchange("06 00"));
}

// A controller that resets its connection, followed at once by the next one (a standby taking
// over): the next one is served, also when the loop meets the listener before the reset
// connection in one turn (the daemon is stopped while both come), twenty times over. A
// second controller is still refused while the first lives.
TEST_F(Controller, AControllerThatFollowsAResetAtOnceIsServed)
{
    std::string const ping = "80 01 01 18";
    std::string const answer = "03 00 00 08 80 01 01 40";
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(::kill(daemon.pid(), SIGSTOP), 0);
        client.sendFrame(hexBytes(ping));
        client.close(true);
        ASSERT_TRUE(client.connect(std::uint16_t(daemon.port()), DaemonLauncher::kTimeout));
        EXPECT_TRUE(client.sendFrame(hexBytes(ping)));
        ASSERT_EQ(::kill(daemon.pid(), SIGCONT), 0);
        ASSERT_EQ(nextFrame(), answer);
    }
    EXPECT_EQ(daemon.said("refuse connection from "), 0u);

    ControllerClient second(testsupport::TcpClient::Waiting::Socket);
    ASSERT_TRUE(second.connect(std::uint16_t(daemon.port()), DaemonLauncher::kTimeout));
    EXPECT_TRUE(second.waitClosed(ControllerClient::kTimeout));
    EXPECT_EQ(daemon.said("refuse connection from "), 1u);
    EXPECT_EQ(exchange(ping), answer);
}

}  // namespace
