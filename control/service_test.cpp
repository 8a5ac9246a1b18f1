#include "control/service.h"

#include "runtime/multiplexer.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"
#include "tests/tcp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

namespace {

using testsupport::Bytes;
using testsupport::TcpClient;

// A message connection that is handed its sockets by the test.
class TestService : public Control::ServiceNet {
public:
    explicit TestService(bool verbose = true) : ServiceNet(verbose) {}
    bool activates = true;
    std::vector<std::string> calls;

protected:
    bool ImplActivate() override
    {
        calls.push_back("activate");
        return activates;
    }
    void ImplDeactivate() override { calls.push_back("deactivate"); }
    void ImplOnDisconnect() override { calls.push_back("on_disconnect"); }
};

// Records what the connection tells it; echoes messages when asked to.
class Observer : public Control::Notify {
public:
    explicit Observer(Control::Service& s) : service(s) { s.Bind(this); }
    void OnConnect() override { events.push_back("connect"); }
    void OnDisconnect() override { events.push_back("disconnect"); }
    void OnMessage(char const* data, int length) override
    {
        messages.emplace_back(data, data + length);
        if (disconnectOnMessage)
            service.Disconnect();
        if (echo)
            service.Send(data, length);
    }

    Control::Service& service;
    std::vector<std::string> events;
    std::vector<Bytes> messages;
    bool echo = true;
    bool disconnectOnMessage = false;
};

// A listener on a free loopback port whose accepted sockets the test hands over itself.
class Listener {
public:
    Listener()
    {
        fd_ = Fd(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_.lowlevel_fd(), 4);
        ::getsockname(fd_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    // Connects a client and gives the service the accepted end.
    void connect(TcpClient& client, TestService& service)
    {
        ASSERT_TRUE(client.connect(port));
        INet4::Addr peer;
        socklen_t len = peer.size();
        Fd accepted(::accept(fd_.lowlevel_fd(), peer, &len));
        ASSERT_TRUE(accepted.NonBlock());
        service.Connected(accepted, peer);
        last = accepted;
    }

    std::uint16_t port = 0;
    Fd last;

private:
    Fd fd_;
};

int intOption(int fd, int level, int option)
{
    int v = -1;
    socklen_t len = sizeof v;
    ::getsockopt(fd, level, option, &v, &len);
    return v;
}

Bytes const abc{0x41, 0x42, 0x43};
Bytes const frameABC{0x03, 0x00, 0x00, 0x07, 0x41, 0x42, 0x43};

// A started service with an observer, and a client to connect.
class ControlServiceLink : public ::testing::Test {
protected:
    void SetUp() override { s.Activate(); }
    void connect() { l.connect(c, s); }

    Listener l;
    TestService s;
    Observer o{s};
    TcpClient c;
};

TEST(ControlService, StateTexts)
{
    using S = Control::Service::State;
    EXPECT_STREQ("Idle", Control::GetTextNotation(S::Idle));
    EXPECT_STREQ("Connecting", Control::GetTextNotation(S::Connecting));
    EXPECT_STREQ("Deactivating", Control::GetTextNotation(S::Deactivating));
    EXPECT_STREQ("Connected", Control::GetTextNotation(S::Connected));
    EXPECT_STREQ("Unknown", Control::GetTextNotation(S::Type(7)));
}

TEST(ControlService, ActivateDeactivatesFirstAndFallsBackToIdleOnFailure)
{
    TestService s;
    Observer o(s);
    EXPECT_EQ(Control::Service::State::Idle, s.GetState());
    EXPECT_TRUE(s.Activate());
    EXPECT_EQ(Control::Service::State::Connecting, s.GetState());
    EXPECT_EQ((std::vector<std::string>{"deactivate", "activate"}), s.calls);

    s.activates = false;
    EXPECT_FALSE(s.Activate());
    EXPECT_EQ(Control::Service::State::Idle, s.GetState());
    s.Deactivate();
    EXPECT_EQ(Control::Service::State::Idle, s.GetState());
    EXPECT_TRUE(o.events.empty());
}

TEST(ControlService, SendOutsideAConnectionIsRefused)
{
    TestService s;
    testsupport::CaptureStream err(std::cerr);
    s.Send("x", 1);
    s.Activate();
    s.Send("x", 1);
    EXPECT_EQ("Control::Service::Send() ignore Send request in Idle state.\n"
              "Control::Service::Send() ignore Send request in Connecting state.\n",
              err.text());
}

TEST_F(ControlServiceLink, ConnectionCarriesFramedMessagesBothWays)
{
    connect();

    EXPECT_EQ((std::vector<std::string>{"connect"}), o.events);
    EXPECT_TRUE(s.IsConnected());
    EXPECT_EQ("127.0.0.1:" + std::to_string(s.GetPeer().port()), s.GetAddr());
    EXPECT_EQ(1, intOption(l.last.lowlevel_fd(), SOL_SOCKET, SO_KEEPALIVE));
    EXPECT_EQ(1, intOption(l.last.lowlevel_fd(), IPPROTO_TCP, TCP_NODELAY));

    ASSERT_TRUE(c.send(frameABC));
    ASSERT_TRUE(c.receive(frameABC.size()));
    EXPECT_EQ(frameABC, c.take(frameABC.size()));
    ASSERT_EQ(1u, o.messages.size());
    EXPECT_EQ(abc, o.messages[0]);
}

TEST_F(ControlServiceLink, PeerCloseEndsTheConnectionOnceOnTheNextPass)
{
    connect();
    s.calls.clear();

    testsupport::CaptureStream err(std::cerr);
    c.close();
    ASSERT_TRUE(testsupport::runUntil(
        [&] { return s.GetState() == Control::Service::State::Deactivating; }, 5000));
    EXPECT_EQ("control connection " + s.GetAddr() + " closed.\n", err.text());
    // Not yet: the observer hears of it from the loop's next pass.
    EXPECT_EQ((std::vector<std::string>{"connect"}), o.events);
    // Sending now is silent.
    s.Send("x", 1);
    EXPECT_EQ("control connection " + s.GetAddr() + " closed.\n", err.text());

    multiplexer.runOnce(0);
    EXPECT_EQ((std::vector<std::string>{"connect", "disconnect"}), o.events);
    EXPECT_EQ(Control::Service::State::Connecting, s.GetState());
    EXPECT_EQ((std::vector<std::string>{"on_disconnect"}), s.calls);
    testsupport::settle();
    EXPECT_EQ(2u, o.events.size());
}

TEST_F(ControlServiceLink, DisconnectActsOnceAndOnlyOnALiveConnection)
{
    // Nothing to end: no OnDisconnect without an OnConnect.
    s.Disconnect();
    testsupport::settle();
    EXPECT_TRUE(o.events.empty());

    connect();
    l.last.close();
    testsupport::CaptureStream err(std::cerr);
    s.Disconnect();
    s.Disconnect();
    EXPECT_EQ(Control::Service::State::Deactivating, s.GetState());
    testsupport::settle();
    EXPECT_EQ((std::vector<std::string>{"connect", "disconnect"}), o.events);
    EXPECT_EQ("control connection " + s.GetAddr() + " closed.\n", err.text());
    EXPECT_TRUE(c.waitClosed());
}

TEST_F(ControlServiceLink, FramesAfterTheEndInTheSameReadAreDropped)
{
    o.echo = false;
    o.disconnectOnMessage = true;
    connect();
    Bytes two = frameABC;
    two.insert(two.end(), frameABC.begin(), frameABC.end());
    ASSERT_TRUE(c.send(two));
    testsupport::CaptureStream err(std::cerr);
    ASSERT_TRUE(testsupport::runUntil([&] { return o.events.size() == 2; }, 5000));
    EXPECT_EQ(1u, o.messages.size());
}

TEST_F(ControlServiceLink, MessageLongerThanOneFrameIsRefused)
{
    connect();

    Bytes longest(Control::Service::max_message, 0x77);
    s.Send(reinterpret_cast<char const*>(longest.data()), int(longest.size()));
    ASSERT_TRUE(c.receive(65535));
    Bytes head = c.take(4);
    EXPECT_EQ((Bytes{3, 0, 0xFF, 0xFF}), head);
    EXPECT_EQ(longest, c.take(65531));

    testsupport::CaptureStream err(std::cerr);
    Bytes tooLong(65532, 0x77);
    s.Send(reinterpret_cast<char const*>(tooLong.data()), int(tooLong.size()));
    s.Send("x", -1);
    EXPECT_EQ("Control::Service::Send() message of 65532 bytes refused, max 65531\n"
              "Control::Service::Send() message of -1 bytes refused, max 65531\n",
              err.text());
    EXPECT_TRUE(s.IsConnected());
    s.Send("x", 1);
    ASSERT_TRUE(c.receive(5));
    EXPECT_EQ((Bytes{3, 0, 0, 5, 'x'}), c.take(5));
}

TEST(ControlService, QuietServiceWritesNoLine)
{
    Listener l;
    TestService s(false);
    Observer o(s);
    testsupport::CaptureStream err(std::cerr);
    s.Send("x", 1);
    s.Activate();
    TcpClient c;
    l.connect(c, s);
    c.close();
    ASSERT_TRUE(testsupport::runUntil([&] { return o.events.size() == 2; }, 5000));
    EXPECT_EQ("", err.text());
}

// A peer handed over while the previous connection is still winding down is taken over:
// the old end is finished first, then the new peer is served.
TEST_F(ControlServiceLink, ConnectionDuringTheEndIsTakenOverInOrder)
{
    TcpClient second;
    connect();
    s.Disconnect();
    ASSERT_EQ(Control::Service::State::Deactivating, s.GetState());
    l.connect(second, s);

    EXPECT_EQ((std::vector<std::string>{"connect", "disconnect", "connect"}), o.events);
    EXPECT_TRUE(s.IsConnected());
    testsupport::settle();
    EXPECT_EQ(3u, o.events.size());
    ASSERT_TRUE(second.send(frameABC));
    ASSERT_TRUE(second.receive(frameABC.size()));
    EXPECT_EQ(frameABC, second.take(7));
}

// Deactivated while its connection winds down: the observer still hears the end, and the
// service stays deactivated instead of preparing for the next connection.
TEST_F(ControlServiceLink, DeactivateDuringTheEndKeepsTheServiceIdle)
{
    connect();
    s.Disconnect();
    s.Deactivate();
    s.calls.clear();
    testsupport::settle();
    EXPECT_EQ((std::vector<std::string>{"connect", "disconnect"}), o.events);
    EXPECT_EQ(Control::Service::State::Idle, s.GetState());
    EXPECT_TRUE(s.calls.empty());
}

}  // namespace
