#include "control/connector_net.h"

#include "base/clock.h"
#include "runtime/multiplexer.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"
#include "tests/loopback.h"
#include "tests/tcp_client.h"

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

using Control::ConnectorNet;
using testsupport::Bytes;
typedef Control::Service::State State;

// Counts what the connection tells it.
struct Observer : Control::Notify {
    explicit Observer(Control::Service& s) { s.Bind(this); }
    void OnConnect() override { ++connects; }
    void OnDisconnect() override { ++disconnects; }
    void OnMessage(char const* data, int length) override { messages.emplace_back(data, data + length); }

    int connects = 0;
    int disconnects = 0;
    std::vector<Bytes> messages;
};

// The MON ping, framed.
char const ping[] = "\x18";
std::string const pingFrame("\x03\x00\x00\x05\x18", 5);

TEST(ConnectorNet, ExchangesFramesAndReconnectsTenSecondsAfterALoss)
{
    Mux::TestClock clock;
    testsupport::LoopbackListener listener;
    ConnectorNet connector(listener.address());
    EXPECT_EQ("127.0.0.1", connector.host());
    Observer o(connector);
    testsupport::CaptureStream out(std::cout), log(std::clog);
    ASSERT_TRUE(connector.Activate());
    ASSERT_TRUE(testsupport::runUntil([&] { return o.connects == 1; }, 5000));
    // Connected at once or after the socket became writable.
    std::string const peer = listener.address();
    EXPECT_EQ(1u, out.count("connected to " + peer + ".\n") + log.count("already connected to " + peer));

    Fd server = listener.accept();
    ASSERT_TRUE(writeAll(server.lowlevel_fd(), pingFrame.data(), pingFrame.size()));
    ASSERT_TRUE(testsupport::runUntil([&] { return o.messages.size() == 1; }, 5000));
    EXPECT_EQ(Bytes{0x18}, o.messages[0]);
    connector.Send(ping, 1);
    EXPECT_EQ(pingFrame, testsupport::readFor(server, pingFrame.size(), 5000));

    // The listener drops the link: the connector tries again 10 s later.
    testsupport::CaptureStream err(std::cerr);
    server.close();
    ASSERT_TRUE(testsupport::runUntil([&] { return o.disconnects == 1; }, 5000));
    EXPECT_EQ(State::Connecting, connector.GetState());
    testsupport::advance(clock, 9999);
    testsupport::settle();
    EXPECT_EQ(1, o.connects);
    testsupport::advance(clock, 1);
    ASSERT_TRUE(testsupport::runUntil([&] { return o.connects == 2; }, 5000));
    server = listener.accept();
    connector.Send(ping, 1);
    EXPECT_EQ(pingFrame, testsupport::readFor(server, pingFrame.size(), 5000));
}

// An agent that sends a message and resets before the connect is seen: the link is made,
// the message taken, then the link is lost.
TEST(ConnectorNet, AnAgentThatSentBeforeItsResetIsHeard)
{
    testsupport::LoopbackListener listener;
    ConnectorNet connector(listener.address());
    Observer o(connector);
    testsupport::CaptureStream out(std::cout), err(std::cerr);
    ASSERT_TRUE(connector.Activate());
    testsupport::TcpClient agent;
    agent.adopt(listener.accept());
    ASSERT_TRUE(agent.send(Bytes(pingFrame.begin(), pingFrame.end())));
    agent.close(true);
    ASSERT_TRUE(testsupport::runUntil([&] { return o.disconnects == 1; }, 5000));
    EXPECT_EQ(o.connects, 1);
    EXPECT_EQ(o.messages, std::vector<Bytes>{Bytes{0x18}});
}

TEST(ConnectorNet, RetriesAClosedPortSevenTimesASecondApartThenAtTheLongWait)
{
    Mux::TestClock clock;
    std::uint16_t const port = testsupport::freePort();
    ConnectorNet connector("127.0.0.1", port);
    Observer o(connector);
    testsupport::CaptureStream err(std::cerr);
    // Refused at once or reported on the socket: either way one line an attempt.
    std::string const peer = "connect to 127.0.0.1:" + std::to_string(port);
    auto attempts = [&] { return err.count(peer); };

    ASSERT_TRUE(connector.Activate());
    ASSERT_TRUE(testsupport::runUntil([&] { return attempts() == 1; }, 5000));
    for (std::size_t i = 1; i <= 7; ++i) {
        testsupport::advance(clock, 999);
        testsupport::settle();
        EXPECT_EQ(i, attempts());
        testsupport::advance(clock, 1);
        ASSERT_TRUE(testsupport::runUntil([&] { return attempts() == i + 1; }, 5000));
    }
    // Then at least 12 s, at most 20 s.
    testsupport::advance(clock, ConnectorNet::pending_error_wait_ms - 1);
    testsupport::settle();
    EXPECT_EQ(8u, attempts());
    testsupport::advance(clock, ConnectorNet::refused_wait_ms - ConnectorNet::pending_error_wait_ms + 1);
    ASSERT_TRUE(testsupport::runUntil([&] { return attempts() == 9; }, 5000));
    EXPECT_EQ(State::Connecting, connector.GetState());

    // Deactivation stops the retries.
    connector.Deactivate();
    EXPECT_EQ(State::Idle, connector.GetState());
    EXPECT_FALSE(connector.waiting());
    testsupport::advance(clock, 60000);
    EXPECT_EQ(9u, attempts());
    EXPECT_EQ(0, o.connects);
}

TEST(ConnectorNet, HostThatIsNotANumericAddressLeavesItIdle)
{
    struct Case {
        std::function<std::unique_ptr<ConnectorNet>()> make;
        std::string host;
    };
    std::vector<Case> const cases = {
        {[] { return std::unique_ptr<ConnectorNet>(new ConnectorNet); }, ""},
        {[] { return std::unique_ptr<ConnectorNet>(new ConnectorNet("localhost", 80)); }, "localhost"},
        {[] { return std::unique_ptr<ConnectorNet>(new ConnectorNet("10.0.0.300:5")); }, "10.0.0.300:5"},
        {[] { return std::unique_ptr<ConnectorNet>(new ConnectorNet("127.0.0.1:65536")); }, "127.0.0.1:65536"},
    };
    unsigned int const timers = multiplexer.timer_count();
    for (Case const& c : cases) {
        std::unique_ptr<ConnectorNet> connector = c.make();
        testsupport::CaptureStream err(std::cerr);
        EXPECT_FALSE(connector->Activate()) << c.host;
        EXPECT_EQ(State::Idle, connector->GetState());
        EXPECT_EQ("can't connect to \"" + c.host + "\": not a numeric IPv4 address\n", err.text());
        EXPECT_EQ(timers, multiplexer.timer_count());
    }
}

}  // namespace
