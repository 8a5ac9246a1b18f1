#include "control/connector_net.h"

#include "base/clock.h"
#include "runtime/multiplexer.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"
#include "tests/loopback.h"
#include "tests/tcp_client.h"

#include <poll.h>
#include <sys/socket.h>

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

// Reads n bytes from a blocking socket within 5 s; fewer on time-out or end of file.
Bytes readBytes(Fd& fd, std::size_t n)
{
    Bytes got;
    pollfd entry{fd.lowlevel_fd(), POLLIN, 0};
    while (got.size() < n && ::poll(&entry, 1, 5000) > 0) {
        std::uint8_t b[64];
        ssize_t const r = ::recv(fd.lowlevel_fd(), b, std::min(sizeof b, n - got.size()), 0);
        if (r <= 0)
            break;
        got.insert(got.end(), b, b + r);
    }
    return got;
}

std::size_t count(std::string const& text, std::string const& part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// The MON ping, framed.
Bytes const ping{0x18};
Bytes const pingFrame{0x03, 0x00, 0x00, 0x05, 0x18};

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
    EXPECT_EQ(1u, count(out.text(), "connected to " + peer + ".\n") + count(log.text(), "already connected to " + peer));

    Fd server = listener.accept();
    ASSERT_TRUE(writeAll(server.lowlevel_fd(), pingFrame.data(), pingFrame.size()));
    ASSERT_TRUE(testsupport::runUntil([&] { return o.messages.size() == 1; }, 5000));
    EXPECT_EQ(ping, o.messages[0]);
    connector.Send(reinterpret_cast<char const*>(ping.data()), int(ping.size()));
    EXPECT_EQ(pingFrame, readBytes(server, pingFrame.size()));

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
    connector.Send(reinterpret_cast<char const*>(ping.data()), int(ping.size()));
    EXPECT_EQ(pingFrame, readBytes(server, pingFrame.size()));
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
    auto attempts = [&] { return count(err.text(), peer); };

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
