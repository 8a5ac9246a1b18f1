#include "control/heart_beat_ctl.h"

#include "control/acceptor_net.h"
#include "base/clock.h"
#include "tests/capture.h"
#include "tests/controller_client.h"
#include "tests/loop_pump.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>

namespace {

using testsupport::CaptureStream;
using testsupport::ControllerClient;
using testsupport::pingCommand;
using testsupport::zgcpCommand;

// Takes destroy, as the slot table would, and counts the disconnects it hears.
class Slots : public CtrlSrv::Service {
public:
    void OnConnect() override {}
    void OnDisconnect() override { ++disconnects; }
    bool OnCommand(ZGCP::Command const& command) override
    {
        if (command.currentSelection() != ZGCP::Command::destroy::id)
            return false;
        Success();
        return true;
    }
    int disconnects = 0;
};

// The heartbeat bound first, then a handler for destroy; a controller connected over
// loopback; the loop on the test clock.
class HeartBeat : public ::testing::Test {
protected:
    HeartBeat()
    {
        server.Bind(&HeartBeatCtl::instance());
        server.Bind(&slots);
        port = testsupport::freePort();
        EXPECT_TRUE(server.Activate(new Control::AcceptorNet(port, false)));
    }

    void SetUp() override { connect(); }

    void connect()
    {
        CaptureStream log(std::clog);
        ASSERT_TRUE(client.connect(port));
        ASSERT_TRUE(testsupport::runUntil([&] { return server.link()->IsConnected(); }, 5000));
    }

    std::string send(ZGCP::Message const& message)
    {
        EXPECT_TRUE(client.send(message));
        return client.receiveText();
    }

    bool connected() { return server.link()->IsConnected() && !client.waitClosed(1); }

    Mux::TestClock clock;
    Slots slots;
    CtrlSrv::Server server;
    std::uint16_t port = 0;
    ControllerClient client;
};

TEST_F(HeartBeat, PingIsAnswered)
{
    EXPECT_EQ("seq=3 success", send(zgcpCommand(pingCommand(), 3)));
    EXPECT_EQ("slot=9 success", send(zgcpCommand(pingCommand(), std::nullopt, 9)));
}

TEST_F(HeartBeat, EveryCommandRestartsTheTimerAndSilenceEndsTheConnection)
{
    CaptureStream log(std::clog);
    EXPECT_EQ("seq=1 success", send(zgcpCommand(pingCommand(), 1)));
    testsupport::advance(clock, HeartBeatCtl::timeout_ms - 1);
    // A command another handler takes.
    EXPECT_EQ("seq=2 slot=4 success", send(zgcpCommand(testsupport::destroyCommand(), 2, 4)));
    testsupport::advance(clock, HeartBeatCtl::timeout_ms - 1);
    // A command nobody takes.
    ZGCP::Command query(ZGCP::Command::query::id, ASN1::Null());
    EXPECT_EQ("seq=3 slot=4 error=4", send(zgcpCommand(query, 3, 4)));
    testsupport::advance(clock, HeartBeatCtl::timeout_ms - 1);
    EXPECT_TRUE(connected());
    EXPECT_EQ("", log.text());

    testsupport::advance(clock, 1);
    EXPECT_EQ("heartbeat timeout!!!\n", log.text());
    EXPECT_TRUE(client.waitClosed());
    ASSERT_TRUE(testsupport::runUntil([&] { return slots.disconnects == 1; }, 5000));
    EXPECT_FALSE(HeartBeatCtl::instance().running());

    // Once.
    testsupport::advance(clock, 3 * HeartBeatCtl::timeout_ms);
    EXPECT_EQ("heartbeat timeout!!!\n", log.text());
    EXPECT_EQ(1, slots.disconnects);
}

// A peer that sends no valid command within the time-out is dropped like a controller that
// went quiet, whether it sends nothing or garbage; the next controller is served.
TEST_F(HeartBeat, APeerThatSendsNoValidCommandIsDropped)
{
    struct Case { char const* name; testsupport::Bytes everySecond; } const cases[] = {
        {"silent", {}},
        {"one zero byte a second", {0x00}},
        {"one undecodable frame a second", testsupport::tpktFrame({0xFF})},
    };
    CaptureStream err(std::cerr);
    CaptureStream log(std::clog);
    int drops = 0;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(HeartBeatCtl::instance().running());
        for (unsigned second = 1; second < HeartBeatCtl::timeout_ms / 1000; ++second) {
            if (!c.everySecond.empty()) {
                std::uint32_t const reads = server.link()->get_read_measure().counter();
                ASSERT_TRUE(client.sendRaw(c.everySecond));
                ASSERT_TRUE(testsupport::runUntil([&] { return server.link()->get_read_measure().counter() > reads; }, 5000));
            }
            testsupport::advance(clock, 1000);
        }
        testsupport::advance(clock, 999);
        EXPECT_TRUE(connected());
        testsupport::advance(clock, 1);
        EXPECT_TRUE(client.waitClosed());
        ASSERT_TRUE(testsupport::runUntil([&] { return slots.disconnects == drops + 1; }, 5000));
        ++drops;
        EXPECT_EQ(std::size_t(drops), log.count("heartbeat timeout!!!\n"));
        client.close();
        connect();
        EXPECT_EQ("seq=5 success", send(zgcpCommand(pingCommand(), 5)));
    }
}

TEST_F(HeartBeat, MessagesThatFailTheChecksDoNotRestartTheTimer)
{
    CaptureStream err(std::cerr);
    CaptureStream log(std::clog);
    EXPECT_EQ("seq=1 success", send(zgcpCommand(pingCommand(), 1)));
    testsupport::advance(clock, HeartBeatCtl::timeout_ms - 10);

    // Undecodable, a response, a signal, a slot above the range.
    EXPECT_TRUE(client.sendFrame({0xFF, 0xFF, 0xFF}));
    ZGCP::PDU response(ZGCP::PDU::response::id, ZGCP::Response(ZGCP::Response::success::id, ASN1::Null()));
    EXPECT_EQ("seq=2 error=4", send(testsupport::zgcpMessage(response, 2)));
    ZGCP::PDU signal(ZGCP::PDU::signal::id, ZGCP::Signal(ZGCP::Signal::abort::id, 1));
    EXPECT_EQ("seq=3 error=4", send(testsupport::zgcpMessage(signal, 3)));
    EXPECT_TRUE(client.sendFrame(testsupport::hexBytes("C0 01 04 04 00 18")));
    EXPECT_EQ("seq=4 error=2", client.receiveText());
    EXPECT_EQ("", log.text());

    testsupport::advance(clock, 10);
    EXPECT_EQ("heartbeat timeout!!!\n", log.text());
    EXPECT_TRUE(client.waitClosed());
}

TEST_F(HeartBeat, DeactivatingTheServerStopsTheTimer)
{
    EXPECT_EQ("success", send(zgcpCommand(pingCommand())));
    EXPECT_TRUE(HeartBeatCtl::instance().running());
    server.Deactivate();
    EXPECT_FALSE(HeartBeatCtl::instance().running());
    EXPECT_EQ(1, slots.disconnects);
}

}  // namespace
