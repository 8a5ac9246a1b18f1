#include "control/strm_protocol.h"

#include "base/packet.h"
#include "runtime/multiplexer.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"
#include "tests/pool_drain.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

typedef std::vector<std::uint8_t> Bytes;

// [stream]; collects what comes up and the statuses that end it.
class Stack : public ProtocolsFamily {
public:
    explicit Stack(Fd const& fd)
    {
        strm = static_cast<StrmProtocol*>(add_protocol_tail(new StrmProtocol(fd)));
        strm->service_name("test");
    }
    void on_message(Packet& p) override
    {
        received.insert(received.end(), p.data(), p.data() + p.length());
        if (onReceived)
            onReceived();
    }
    void on_deactivated(Protocol*, Protocol_status s) override { statuses.push_back(s); }

    void send(Bytes const& bytes)
    {
        Packet p;
        prepare_head(p);
        std::memcpy(p.put(unsigned(bytes.size())), bytes.data(), bytes.size());
        message(p);
    }
    std::string lastStatus() const { return statuses.empty() ? "" : statuses.back().get()->message(); }

    StrmProtocol* strm;
    Bytes received;
    // Runs after each read passed up.
    std::function<void()> onReceived;
    std::vector<Protocol_status> statuses;
};

// A connected pair of stream sockets: ours non-blocking (as the acceptor hands it over),
// the peer's blocking.
struct Pair {
    Pair()
    {
        int sv[2];
        EXPECT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, sv));
        ours = Fd(sv[0]);
        peer = Fd(sv[1]);
        EXPECT_TRUE(ours.NonBlock());
    }
    void setSendBuffer(int bytes) { ::setsockopt(ours.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes); }
    Fd ours;
    Fd peer;
};

// The lowest descriptor number this process has free: with the limit there, every new
// descriptor fails.
int lowestFreeDescriptor()
{
    int const probe = ::fcntl(0, F_DUPFD_CLOEXEC, 0);
    ::close(probe);
    return probe;
}

bool startsWith(std::string const& s, std::string const& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

TEST(StrmProtocol, PassesUpWhatArrivesAndEndsOnceWhenThePeerCloses)
{
    Pair pair;
    Stack s(pair.ours);
    pair.ours.close();
    EXPECT_TRUE(s.activate());
    EXPECT_TRUE(s.strm->opened());

    ASSERT_EQ(3, ::write(pair.peer.lowlevel_fd(), "abc", 3));
    EXPECT_TRUE(testsupport::runUntil([&] { return s.received.size() == 3; }, 5000));
    EXPECT_EQ((Bytes{'a', 'b', 'c'}), s.received);
    EXPECT_EQ(1u, s.strm->get_read_measure().counter());

    // The peer's orderly close (a full close of a unix socket would be a hang-up).
    ::shutdown(pair.peer.lowlevel_fd(), SHUT_WR);
    EXPECT_TRUE(testsupport::runUntil([&] { return !s.statuses.empty(); }, 5000));
    testsupport::settle();
    ASSERT_EQ(1u, s.statuses.size());
    EXPECT_FALSE(s.statuses[0]->success());
    EXPECT_TRUE(startsWith(s.lastStatus(), "read error: ")) << s.lastStatus();
    EXPECT_FALSE(s.strm->opened());
}

TEST(StrmProtocol, SpuriousWakeUpChangesNothing)
{
    Pair pair;
    Stack s(pair.ours);
    s.activate();
    s.strm->on_event(pair.ours.lowlevel_fd(), POLLIN);
    s.strm->on_event(pair.ours.lowlevel_fd(), 0);
    EXPECT_TRUE(s.statuses.empty());
    EXPECT_TRUE(s.strm->opened());
    EXPECT_TRUE(s.received.empty());
}

// However the end shows (an error before a hang-up), it is reported once, after what the
// peer sent before it has been passed up.
TEST(StrmProtocol, AnEndComesAfterWhatThePeerSentIsPassedUp)
{
    struct Row {
        char const* end;
        std::function<void(Stack&, Pair&)> see;
        std::string status;  // its beginning
    } const rows[] = {
        {"error", [](Stack& s, Pair& p) { s.strm->on_event(p.ours.lowlevel_fd(), POLLERR | POLLHUP | POLLIN); },
         "pollerr: "},
        {"hang-up", [](Stack& s, Pair& p) { s.strm->on_event(p.ours.lowlevel_fd(), POLLHUP | POLLIN); }, "pollhup: "},
        {"failed write",
         [](Stack& s, Pair& p) {
             p.peer.close();
             s.send(Bytes{1});
         },
         std::string("write error: ") + std::strerror(EPIPE)},
    };
    for (Row const& row : rows) {
        SCOPED_TRACE(row.end);
        Pair pair;
        Stack s(pair.ours);
        s.activate();
        ASSERT_EQ(3, ::write(pair.peer.lowlevel_fd(), "abc", 3));
        testsupport::CaptureStream err(std::cerr);
        row.see(s, pair);
        EXPECT_EQ(s.received, (Bytes{'a', 'b', 'c'}));
        ASSERT_EQ(1u, s.statuses.size());
        EXPECT_TRUE(startsWith(s.lastStatus(), row.status)) << s.lastStatus();
        EXPECT_FALSE(s.strm->opened());
    }
}

// A write that fails while a read's bytes are handled ends the stream after the rest that
// waits, once, with one line; the answers to the rest are dropped.
TEST(StrmProtocol, AWriteFailingDuringAReadEndsTheStreamAfterTheRest)
{
    Pair pair;
    Stack s(pair.ours);
    s.activate();
    s.onReceived = [&] { s.send(Bytes{9}); };
    // More than one read takes.
    Bytes const sent(70000, 'x');
    ASSERT_EQ(ssize_t(sent.size()), ::write(pair.peer.lowlevel_fd(), sent.data(), sent.size()));
    ::shutdown(pair.peer.lowlevel_fd(), SHUT_RD);
    testsupport::CaptureStream err(std::cerr);
    s.strm->on_event(pair.ours.lowlevel_fd(), POLLIN);
    EXPECT_EQ(s.received.size(), sent.size());
    ASSERT_EQ(1u, s.statuses.size());
    EXPECT_TRUE(startsWith(s.lastStatus(), "write error: ")) << s.lastStatus();
    EXPECT_EQ(1u, s.strm->GetOverflowCounter());
    EXPECT_EQ(err.text().find("write error", err.text().find("write error") + 1), std::string::npos) << err.text();
}

TEST(StrmProtocol, ActivationNeedsADescriptorAndDeactivationReleasesIt)
{
    Stack none{Fd()};
    EXPECT_FALSE(none.activate());
    ASSERT_EQ(1u, none.statuses.size());
    EXPECT_EQ("fd not attached", none.lastStatus());

    Pair pair;
    Stack s(pair.ours);
    s.activate();
    s.deactivate();
    ASSERT_EQ(1u, s.statuses.size());
    EXPECT_TRUE(s.statuses[0]->success());
    EXPECT_EQ("success", s.lastStatus());
    EXPECT_FALSE(s.strm->opened());
    // Our side is gone: the peer sees the end.
    pair.ours.close();
    char c;
    EXPECT_EQ(0, ::read(pair.peer.lowlevel_fd(), &c, 1));

    // Without a descriptor to spare for the loop's copy, the stream ends at once.
    Pair full;
    Stack unwatched(full.ours);
    full.ours.close();
    rlimit saved{};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &saved));
    rlimit exhausted = saved;
    exhausted.rlim_cur = rlim_t(lowestFreeDescriptor());
    ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &exhausted));
    bool const activated = unwatched.activate();
    ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &saved));
    ASSERT_FALSE(activated);
    EXPECT_EQ("cannot watch descriptor: Too many open files", unwatched.lastStatus());
    EXPECT_FALSE(unwatched.strm->opened());
    EXPECT_EQ(0, ::read(full.peer.lowlevel_fd(), &c, 1));
}

void onAlarm(int) {}

// The writer meets a full socket many times, and its waits are interrupted by signals:
// every byte still arrives once, in order. The test clock stands still, so that a busy
// machine, which may stretch the whole write past the one-second limit, only has each wait
// held to it.
TEST(StrmProtocol, WriteFinishesThroughFullSocketsAndInterruptedWaits)
{
    Mux::TestClock clock;
    Pair pair;
    pair.setSendBuffer(4096);
    Stack s(pair.ours);
    s.activate();
    Bytes out(60000);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = std::uint8_t(i * 7 + i / 251);

    struct sigaction sa {};
    sa.sa_handler = onAlarm;
    struct sigaction saved {};
    ASSERT_EQ(0, ::sigaction(SIGALRM, &sa, &saved));
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);

    Bytes in;
    std::thread reader([&] {
        // Only the writing thread takes the alarms.
        pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
        char buf[512];
        while (in.size() < out.size()) {
            std::this_thread::sleep_for(std::chrono::microseconds(300));
            ssize_t n = ::read(pair.peer.lowlevel_fd(), buf, sizeof buf);
            if (n <= 0)
                break;
            in.insert(in.end(), buf, buf + n);
        }
    });
    itimerval every{{0, 2000}, {0, 2000}};
    ::setitimer(ITIMER_REAL, &every, nullptr);
    s.send(out);
    itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    reader.join();
    ::sigaction(SIGALRM, &saved, nullptr);

    EXPECT_TRUE(s.statuses.empty()) << s.lastStatus();
    EXPECT_EQ(0u, s.strm->GetOverflowCounter());
    EXPECT_TRUE(out == in);
    EXPECT_EQ(1u, s.strm->get_write_measure().counter());
}

TEST(StrmProtocol, WriteGivesUpOneSecondAfterItBeganWhenThePeerDoesNotRead)
{
    Pair pair;
    pair.setSendBuffer(4096);
    Stack s(pair.ours);
    s.activate();
    testsupport::CaptureStream err(std::cerr);
    auto const start = std::chrono::steady_clock::now();
    s.send(Bytes(65000, 0x11));
    auto const took = std::chrono::steady_clock::now() - start;

    EXPECT_GE(took, std::chrono::milliseconds(990));
    ASSERT_EQ(1u, s.statuses.size());
    EXPECT_EQ("write timeout", s.lastStatus());
    EXPECT_EQ(1u, s.strm->GetOverflowCounter());
    EXPECT_FALSE(s.strm->opened());
    std::string const line = err.text();
    EXPECT_TRUE(startsWith(line, "SockStream[test]: write timeout, sendbuf=")) << line;
    for (char const* figure : {", recvbuf=", ", free=", ", inq=", ", outq="})
        EXPECT_NE(std::string::npos, line.find(figure)) << figure;
    EXPECT_EQ(std::string::npos, line.find(", error="));
}

TEST(StrmProtocol, WriteToAClosedPeerIsAWriteError)
{
    Pair pair;
    Stack s(pair.ours);
    s.activate();
    pair.peer.close();
    testsupport::CaptureStream err(std::cerr);
    s.send(Bytes{1, 2, 3});

    ASSERT_EQ(1u, s.statuses.size());
    EXPECT_EQ(std::string("write error: ") + std::strerror(EPIPE), s.lastStatus());
    EXPECT_EQ(1u, s.strm->GetOverflowCounter());
    std::string const line = err.text();
    EXPECT_TRUE(startsWith(line, "SockStream[test]: write error, sendbuf=")) << line;
    EXPECT_NE(std::string::npos, line.find(std::string(", error=") + std::strerror(EPIPE) + "\n")) << line;
    // Nothing more is written once the stream has ended.
    s.send(Bytes{4});
    EXPECT_EQ(1u, s.strm->GetOverflowCounter());
}

TEST(StrmProtocol, EmptyPoolDropsTheReadWithALineAndTheStreamGoesOn)
{
    Pair pair;
    Stack s(pair.ours);
    s.activate();
    {
        testsupport::PoolDrain drain;
        ASSERT_EQ(1, ::write(pair.peer.lowlevel_fd(), "x", 1));
        testsupport::CaptureStream err(std::cerr);
        EXPECT_TRUE(testsupport::runUntil([&] { return !err.text().empty(); }, 5000));
        EXPECT_EQ("SockStream[test]: no packet buffer: 1 bytes dropped\n", err.text());
    }
    ASSERT_EQ(1, ::write(pair.peer.lowlevel_fd(), "y", 1));
    EXPECT_TRUE(testsupport::runUntil([&] { return !s.received.empty(); }, 5000));
    EXPECT_EQ((Bytes{'y'}), s.received);
    EXPECT_TRUE(s.statuses.empty());
}

}  // namespace
