#include "control/acceptor_net.h"

#include "base/clock.h"
#include "runtime/multiplexer.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"
#include "tests/tcp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Control::AcceptorNet;
using Control::AcceptorNetCheckConnection;
using testsupport::Bytes;
using testsupport::TcpClient;
typedef Control::Service::State State;

// Echoes every message back, framed, and counts the connection events.
class Echo : public Control::Notify {
public:
    explicit Echo(Control::Service& s) : service(s) { s.Bind(this); }
    void OnConnect() override { ++connects; }
    void OnDisconnect() override { ++disconnects; }
    void OnMessage(char const* data, int length) override
    {
        messages.emplace_back(data, data + length);
        service.Send(data, length);
    }

    Control::Service& service;
    int connects = 0;
    int disconnects = 0;
    std::vector<Bytes> messages;
};

Bytes const abc{0x41, 0x42, 0x43};
Bytes const frameABC{0x03, 0x00, 0x00, 0x07, 0x41, 0x42, 0x43};

bool contains(std::string const& text, std::string const& part) { return text.find(part) != std::string::npos; }

// An acceptor listening on a free port, with an echo.
template <class A>
struct Listening {
    Listening() : port(testsupport::freePort()), acceptor(port), echo(acceptor)
    {
        acceptor.service_name("server");
        EXPECT_TRUE(acceptor.Activate());
        EXPECT_TRUE(acceptor.listening());
    }
    // Connects a client and runs the loop until the acceptor has taken it.
    void take(TcpClient& c)
    {
        int const before = echo.connects;
        ASSERT_TRUE(c.connect(port));
        ASSERT_TRUE(testsupport::runUntil([&] { return echo.connects == before + 1; }, 5000));
    }
    // Sends the frame and checks that the echo comes back whole.
    void roundTrip(TcpClient& c)
    {
        ASSERT_TRUE(c.send(frameABC));
        ASSERT_TRUE(c.receive(frameABC.size()));
        EXPECT_EQ(frameABC, c.take(frameABC.size()));
    }

    std::uint16_t port;
    A acceptor;
    Echo echo;
};

TEST(AcceptorNet, EchoesFramesWhateverTheirCutting)
{
    Listening<AcceptorNetCheckConnection> l;
    TcpClient c;
    l.take(c);
    EXPECT_TRUE(l.acceptor.IsConnected());

    // Whole.
    l.roundTrip(c);
    // Byte by byte, with loop turns in between.
    for (std::uint8_t b : frameABC) {
        ASSERT_TRUE(c.send({b}));
        testsupport::runUntil([] { return false; }, 20);
    }
    ASSERT_TRUE(c.receive(7));
    EXPECT_EQ(frameABC, c.take(7));
    // Twice in one write.
    Bytes two = frameABC;
    two.insert(two.end(), frameABC.begin(), frameABC.end());
    ASSERT_TRUE(c.send(two));
    ASSERT_TRUE(c.receive(14));
    EXPECT_EQ(two, c.take(14));

    ASSERT_EQ(4u, l.echo.messages.size());
    for (Bytes const& m : l.echo.messages)
        EXPECT_EQ(abc, m);
}

TEST(AcceptorNet, BadInputNeverEndsTheLink)
{
    Mux::TestClock clock;
    Listening<AcceptorNetCheckConnection> l;
    TcpClient c;
    l.take(c);
    testsupport::CaptureStream log(std::clog);

    auto badThenGood = [&](Bytes bad, std::string const& line) {
        bad.insert(bad.end(), frameABC.begin(), frameABC.end());
        ASSERT_TRUE(c.send(bad));
        ASSERT_TRUE(c.receive(7));
        EXPECT_EQ(frameABC, c.take(7));
        EXPECT_TRUE(contains(log.text(), line)) << log.text();
    };
    badThenGood({0x55}, "TPKT bad TPKT packet start.");
    badThenGood({0x03, 0x01}, "TPKT bad TPKT reserved.\n");
    badThenGood({0x03, 0x00, 0x00, 0x02}, "TPKT too small 2\n");

    // Half a frame, then 3 s of silence.
    ASSERT_TRUE(c.send({0x03, 0x00, 0x00, 0x10, 1, 2, 3, 4, 5}));
    testsupport::runUntil([] { return false; }, 50);
    EXPECT_FALSE(contains(log.text(), " TPKT packet timeout."));
    testsupport::advance(clock, 3000);
    EXPECT_TRUE(contains(log.text(), " TPKT packet timeout.\n")) << log.text();
    l.roundTrip(c);

    EXPECT_TRUE(l.acceptor.IsConnected());
    EXPECT_EQ(4u, l.echo.messages.size());
    EXPECT_EQ(0, l.echo.disconnects);
}

template <class A>
void oneControllerAtATime()
{
    Listening<A> l;
    TcpClient first;
    l.take(first);

    // A second client is accepted and closed at once; the first keeps working.
    {
        testsupport::CaptureStream err(std::cerr);
        TcpClient second(l.port);
        ASSERT_TRUE(second.connected());
        EXPECT_TRUE(second.waitClosed());
        EXPECT_TRUE(contains(err.text(), "refuse connection from 127.0.0.1:")) << err.text();
    }
    l.roundTrip(first);
    EXPECT_EQ(1, l.echo.connects);

    // The first closes: exactly one OnDisconnect, on the loop pass after the close is seen.
    testsupport::CaptureStream err(std::cerr);
    first.close();
    ASSERT_TRUE(testsupport::runUntil([&] { return l.acceptor.GetState() == State::Deactivating; }, 5000));
    EXPECT_EQ(0, l.echo.disconnects);
    multiplexer.runOnce(0);
    EXPECT_EQ(1, l.echo.disconnects);
    EXPECT_TRUE(contains(err.text(), "control connection 127.0.0.1:")) << err.text();

    // A new client is then taken.
    TcpClient third;
    l.take(third);
    l.roundTrip(third);
    EXPECT_EQ(1, l.echo.disconnects);

    // A connection the daemon drops is seen as end of file by the client.
    l.acceptor.Disconnect();
    EXPECT_TRUE(third.waitClosed());
    testsupport::settle();
    EXPECT_EQ(2, l.echo.disconnects);
}

TEST(AcceptorNet, OneControllerAtATime) { oneControllerAtATime<AcceptorNet>(); }

TEST(AcceptorNetCheckConnection, OneControllerAtATime) { oneControllerAtATime<AcceptorNetCheckConnection>(); }

TEST(AcceptorNet, TwoPendingConnectionsFirstTakenSecondRefusedInOnePass)
{
    Listening<AcceptorNet> l;
    TcpClient a(l.port), b(l.port);
    ASSERT_TRUE(a.connected());
    ASSERT_TRUE(b.connected());
    testsupport::CaptureStream err(std::cerr);
    testsupport::CaptureStream out(std::cout);
    ASSERT_TRUE(testsupport::runUntil([&] { return l.echo.connects == 1; }, 5000));
    EXPECT_TRUE(contains(out.text(), "new connection from 127.0.0.1:")) << out.text();
    EXPECT_TRUE(b.waitClosed());
    EXPECT_TRUE(contains(err.text(), "refuse connection from 127.0.0.1:")) << err.text();
    l.roundTrip(a);
}

TEST(AcceptorNet, ConnectionAcceptedWhileTheLinkWindsDownIsTakenOver)
{
    Listening<AcceptorNetCheckConnection> l;
    TcpClient first;
    l.take(first);
    // The link ends (as from a timer) and a new peer knocks in the same pass.
    l.acceptor.Disconnect();
    TcpClient second(l.port);
    ASSERT_TRUE(testsupport::runUntil([&] { return l.echo.connects == 2; }, 5000));
    EXPECT_EQ(1, l.echo.disconnects);
    l.roundTrip(second);
    EXPECT_TRUE(first.waitClosed());
}

TEST(AcceptorNet, WriteToAClientThatNeverReadsTimesOutAndEndsTheConnection)
{
    Listening<AcceptorNetCheckConnection> l;
    TcpClient c(l.port, 4096);
    ASSERT_TRUE(testsupport::runUntil([&] { return l.echo.connects == 1; }, 5000));

    testsupport::CaptureStream err(std::cerr);
    Bytes big(Control::Service::max_message, 0x22);
    auto began = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration last{};
    for (int i = 0; i < 2000 && l.acceptor.IsConnected(); ++i) {
        began = std::chrono::steady_clock::now();
        l.acceptor.Send(reinterpret_cast<char const*>(big.data()), int(big.size()));
        last = std::chrono::steady_clock::now() - began;
    }
    ASSERT_EQ(State::Deactivating, l.acceptor.GetState());
    EXPECT_GE(last, std::chrono::milliseconds(990));
    std::string const text = err.text();
    EXPECT_TRUE(contains(text, "SockStream[server]: write timeout, sendbuf=")) << text;
    for (char const* figure : {", recvbuf=", ", free=", ", inq=", ", outq="})
        EXPECT_TRUE(contains(text, figure)) << figure;
    EXPECT_EQ(1u, l.acceptor.GetOverflowCounter());

    multiplexer.runOnce(0);
    EXPECT_EQ(1, l.echo.disconnects);
    EXPECT_TRUE(c.waitClosed(10000));
}

TEST(AcceptorNet, FailingBindIsRetriedEveryFiveSeconds)
{
    Mux::TestClock clock;
    std::uint16_t const port = testsupport::freePort();
    Fd occupant(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ASSERT_EQ(0, ::bind(occupant.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a));
    ASSERT_EQ(0, ::listen(occupant.lowlevel_fd(), 1));

    AcceptorNet acceptor(port);
    Echo echo(acceptor);
    testsupport::CaptureStream err(std::cerr);
    EXPECT_TRUE(acceptor.Activate());
    EXPECT_EQ(State::Connecting, acceptor.GetState());
    EXPECT_FALSE(acceptor.listening());
    std::string const waiting =
        std::string("can't bind to socket: \"") + std::strerror(EADDRINUSE) + "\"  waiting...\n";
    EXPECT_EQ(waiting, err.text());

    testsupport::advance(clock, 4999);
    EXPECT_EQ(waiting, err.text());
    testsupport::advance(clock, 1);
    EXPECT_EQ(waiting + waiting, err.text());
    EXPECT_FALSE(acceptor.listening());

    occupant.close();
    testsupport::advance(clock, 5000);
    EXPECT_EQ(waiting + waiting, err.text());
    EXPECT_TRUE(acceptor.listening());
    TcpClient c(port);
    ASSERT_TRUE(testsupport::runUntil([&] { return echo.connects == 1; }, 5000));

    // Deactivation closes the listener and leaves the connected stream alone: its
    // messages still arrive, but nothing is sent while the service is idle.
    acceptor.Deactivate();
    EXPECT_EQ(State::Idle, acceptor.GetState());
    EXPECT_FALSE(acceptor.listening());
    EXPECT_FALSE(TcpClient(port).connected());
    ASSERT_TRUE(c.send(frameABC));
    ASSERT_TRUE(testsupport::runUntil([&] { return echo.messages.size() == 1; }, 5000));
    EXPECT_TRUE(contains(err.text(), "Control::Service::Send() ignore Send request in Idle state.\n"));
    EXPECT_EQ(0, echo.disconnects);
}

// Limits the process to its current descriptors while it lives.
class NoMoreDescriptors {
public:
    NoMoreDescriptors()
    {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        int const next = ::dup(0);
        ::close(next);
        rlimit l = saved_;
        l.rlim_cur = rlim_t(next);
        ::setrlimit(RLIMIT_NOFILE, &l);
    }
    ~NoMoreDescriptors() { ::setrlimit(RLIMIT_NOFILE, &saved_); }

private:
    rlimit saved_;
};

TEST(AcceptorNet, ListenerThatCannotBeCreatedIsReported)
{
    AcceptorNetCheckConnection acceptor(testsupport::freePort());
    // Once round first, and a line through the error stream: the sanitizer's type checks
    // open a pipe the first time they meet a class, which the limit below would refuse.
    acceptor.Activate();
    acceptor.Deactivate();
    testsupport::CaptureStream err(std::cerr);
    std::cerr << std::endl;
    bool activated;
    {
        NoMoreDescriptors limit;
        activated = acceptor.Activate();
    }
    EXPECT_FALSE(activated);
    EXPECT_EQ(State::Idle, acceptor.GetState());
    EXPECT_EQ(std::string("\ncan't create socket:") + std::strerror(EMFILE) + "\n", err.text());
    EXPECT_EQ(0u, multiplexer.timer_count());

    EXPECT_TRUE(acceptor.Activate());
    EXPECT_TRUE(acceptor.listening());
}

// The connection check, on the test clock.
struct Checked : Listening<AcceptorNetCheckConnection> {
    Checked()
    {
        take(client);
        clientPort = l_port();
    }
    std::uint16_t l_port()
    {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        ::getsockname(client.fd(), reinterpret_cast<sockaddr*>(&a), &len);
        return ntohs(a.sin_port);
    }
    std::string peer() const { return "127.0.0.1:" + std::to_string(clientPort); }
    // A second client knocks and is turned away.
    void knock()
    {
        testsupport::CaptureStream err(std::cerr);
        TcpClient other(port);
        EXPECT_TRUE(other.waitClosed());
    }

    TcpClient client;
    std::uint16_t clientPort = 0;
};

TEST(AcceptorNetCheckConnection, CheckKeepsRunningAndLeavesAHealthyPeerAlone)
{
    Mux::TestClock clock;
    Checked k;
    testsupport::CaptureStream log(std::clog);
    testsupport::advance(clock, 5000);
    EXPECT_EQ("", log.text());
    EXPECT_TRUE(k.acceptor.IsConnected());
    k.roundTrip(k.client);

    // Without a controller it goes on and does nothing.
    k.client.close();
    ASSERT_TRUE(testsupport::runUntil([&] { return k.echo.disconnects == 1; }, 5000));
    testsupport::advance(clock, 5000);
    EXPECT_EQ("", log.text());
    EXPECT_EQ(1u, multiplexer.timer_count());
}

TEST(AcceptorNetCheckConnection, PeerOutOfTheEstablishedStateIsDropped)
{
    Mux::TestClock clock;
    Checked k;
    testsupport::CaptureStream log(std::clog);
    ::shutdown(k.client.fd(), SHUT_WR);
    // Let the FIN arrive; no loop turn runs before the check.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    testsupport::advance(clock, 1000);
    EXPECT_EQ("connection from " + k.peer() + " closed: tcp socket change state.\nCheckConnectionState Idle\n",
              log.text());
    EXPECT_EQ(State::Connecting, k.acceptor.GetState());
    EXPECT_EQ(1, k.echo.disconnects);
    EXPECT_TRUE(k.client.waitClosed());
}

TEST(AcceptorNetCheckConnection, PendingSocketErrorDropsThePeer)
{
    Mux::TestClock clock;
    Checked k;
    // Only the socket error speaks: the TCP state reads as established.
    k.acceptor.SetTcpInfoReader([](int, void* info, socklen_t* length) {
        std::memset(info, 0, *length);
        static_cast<unsigned char*>(info)[0] = 1;
        return 0;
    });
    testsupport::CaptureStream log(std::clog);
    k.client.close(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    testsupport::advance(clock, 1000);
    EXPECT_EQ("connection from " + k.peer() + " closed: " + std::strerror(ECONNRESET) +
                  "\nCheckConnectionState Idle\n",
              log.text());
    EXPECT_EQ(1, k.echo.disconnects);
}

// A controller that sends a command and goes, seen gone by the check before any read: its
// command is carried out first, then the connection ends once.
TEST(AcceptorNetCheckConnection, APeerTheCheckFindsGoneIsReadFirst)
{
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "closed");
        Mux::TestClock clock;
        Checked k;
        testsupport::CaptureStream log(std::clog), err(std::cerr);
        ASSERT_TRUE(k.client.send(frameABC));
        if (reset)
            k.client.close(true);
        else
            ::shutdown(k.client.fd(), SHUT_WR);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        testsupport::advance(clock, 1000);
        EXPECT_EQ(k.echo.messages, std::vector<Bytes>{abc});
        EXPECT_EQ(1, k.echo.disconnects);
    }
}

// The congestion path through a stand-in TCP_INFO: established, with the congestion state
// the test sets; it also notes the keep-alive settings of the probed socket.
struct Congestion {
    unsigned char caState = 0;
    int idle = 0, interval = 0, count = 0;

    AcceptorNetCheckConnection::TcpInfoReader reader()
    {
        return [this](int fd, void* info, socklen_t* length) {
            socklen_t l = sizeof idle;
            ::getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, &l);
            ::getsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, &l);
            ::getsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, &l);
            std::memset(info, 0, *length);
            static_cast<unsigned char*>(info)[0] = 1;
            static_cast<unsigned char*>(info)[1] = caState;
            return 0;
        };
    }
    bool keepAlive(int i, int v, int c) const { return idle == i && interval == v && count == c; }
};

TEST(AcceptorNetCheckConnection, RefusedKnockThenTwoCongestedChecksDropThePeer)
{
    Mux::TestClock clock;
    Checked k;
    Congestion tcp;
    k.acceptor.SetTcpInfoReader(tcp.reader());
    testsupport::CaptureStream log(std::clog);

    // Congestion alone, without a knock, is not looked at.
    tcp.caState = 4;
    testsupport::advance(clock, 3000);
    EXPECT_TRUE(k.acceptor.IsConnected());
    EXPECT_TRUE(tcp.keepAlive(7200, 75, 9));

    k.knock();
    // A second knock changes nothing.
    k.knock();
    EXPECT_EQ(AcceptorNetCheckConnection::ProbeState::CheckConnection, k.acceptor.probe_state());
    EXPECT_EQ("CheckConnectionState CheckConnection\n", log.text());

    testsupport::advance(clock, 1000);
    EXPECT_TRUE(tcp.keepAlive(1, 1, 3));
    EXPECT_TRUE(k.acceptor.IsConnected());
    testsupport::advance(clock, 1000);
    EXPECT_EQ("CheckConnectionState CheckConnection\n"
              "connection from " +
                  k.peer() + " closed: tcp socket change ca_state.\nCheckConnectionState Idle\n",
              log.text());
    EXPECT_EQ(1, k.echo.disconnects);
    EXPECT_EQ(AcceptorNetCheckConnection::ProbeState::Idle, k.acceptor.probe_state());
    EXPECT_TRUE(k.client.waitClosed());
}

TEST(AcceptorNetCheckConnection, OneCalmCheckReturnsTheProbeToIdle)
{
    Mux::TestClock clock;
    Checked k;
    Congestion tcp;
    k.acceptor.SetTcpInfoReader(tcp.reader());
    k.knock();
    testsupport::CaptureStream log(std::clog);
    tcp.caState = 1;
    testsupport::advance(clock, 1000);
    tcp.caState = 0;
    testsupport::advance(clock, 1000);
    EXPECT_EQ("CheckConnectionState Idle\n", log.text());
    EXPECT_EQ(AcceptorNetCheckConnection::ProbeState::Idle, k.acceptor.probe_state());
    tcp.caState = 1;
    testsupport::advance(clock, 3000);
    EXPECT_TRUE(tcp.keepAlive(7200, 75, 9));
    EXPECT_TRUE(k.acceptor.IsConnected());
    EXPECT_EQ(0, k.echo.disconnects);
}

}  // namespace
