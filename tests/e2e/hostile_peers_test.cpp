// Hostile peers on the daemon's listeners, on the simulated board: a process out of
// descriptors, a console client that floods without reading, and every peer or descriptor
// that ends in every way. Every wait is for a condition; the only bounds are the CPU share
// and the memory they are about (a busy machine only lowers the CPU share).

#include "tests/loopback.h"
#include "tests/peer_end.h"
#include "tests/process_figures.h"
#include "tests/sim_daemon_test_support.h"

#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using testsupport::DaemonLauncher;
using testsupport::End;
using testsupport::openDescriptors;
using testsupport::statusKb;

// A connection to the board console, opened without waiting for the daemon to accept it;
// invalid when the listening queue was full.
struct ConsoleSocket {
    explicit ConsoleSocket(std::string const& path)
    {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~ConsoleSocket()
    {
        if (fd >= 0)
            ::close(fd);
    }
    ConsoleSocket(ConsoleSocket const&) = delete;
    ConsoleSocket& operator=(ConsoleSocket const&) = delete;

    // Bytes sent and not yet read by the daemon.
    int unread() const
    {
        int n = -1;
        ::ioctl(fd, TIOCOUTQ, &n);
        return n;
    }

    // Bytes the daemon sent that were not read here.
    int arrived() const
    {
        int n = -1;
        ::ioctl(fd, FIONREAD, &n);
        return n;
    }

    int fd = -1;
};

// The daemon with a controller and a board console client connected (SimDaemonTest).
class HostilePeers : public testsupport::SimDaemonTest {
protected:
    std::string console() const { return daemon.path("/var/run/board.sock"); }
};

// Out of descriptors, both listeners pause instead of spinning; the connected controller is
// served throughout, and a new one is served once descriptors are free again.
TEST_F(HostilePeers, OutOfDescriptorsListenersPauseAndNoControllerIsLost)
{
    // The console client has been served before the limit: the sanitizer's first look at the
    // types of a client needs descriptors (see runtime/CMakeLists.txt).
    ASSERT_EQ(board->command("clear-failures"), "ok");
    rlimit limit{};
    ASSERT_EQ(0, ::prlimit(daemon.pid(), RLIMIT_NOFILE, nullptr, &limit));
    limit.rlim_cur = rlim_t(openDescriptors(daemon.pid()) + 3);
    ASSERT_EQ(0, ::prlimit(daemon.pid(), RLIMIT_NOFILE, &limit, nullptr));

    std::vector<std::unique_ptr<ConsoleSocket>> consoles;
    for (int i = 0; i < 8; ++i)
        consoles.push_back(std::make_unique<ConsoleSocket>(console()));
    std::string const consolePaused = "BoardSocket::onAccept: cannot accept: Too many open files";
    ASSERT_TRUE(daemon.waitForErr(consolePaused)) << daemon.err();
    // A second controller knocks: the controller listener cannot even refuse it.
    testsupport::TcpClient knocker(testsupport::TcpClient::Waiting::Socket);
    ASSERT_TRUE(knocker.connect(std::uint16_t(daemon.port())));
    std::string const controllerPaused = "AcceptorNet::OnSocketEvent: cannot accept: Too many open files";
    ASSERT_TRUE(daemon.waitForErr(controllerPaused)) << daemon.err();

    EXPECT_TRUE(pinged());
    auto const start = std::chrono::steady_clock::now();
    double const used = testsupport::cpuSecondsOver(daemon.pid(), std::chrono::seconds(1));
    double const wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(used, 0.25 * wall) << "CPU seconds over " << wall << " s";
    EXPECT_TRUE(pinged());

    // Descriptors free again: the knocker is refused, as any second controller is, and the
    // next controller is served once the first has gone.
    consoles.clear();
    EXPECT_TRUE(knocker.waitClosed(DaemonLauncher::kTimeout));
    EXPECT_TRUE(pinged());
    client.reset();
    ASSERT_TRUE(daemon.waitForErr("control connection 127.0.0.1:"));
    EXPECT_TRUE(attach());
}

// A console client writes 10,000 commands with long replies and never reads: the daemon
// stops reading it with commands left unread, its memory grows by less than 64 MiB, and the
// controller is answered throughout. (That one loop turn takes one read and a batch of
// lines of a console client, so that the controller's turn comes soon, is the board
// socket's unit test.)
TEST_F(HostilePeers, AConsoleFloodCostsBoundedMemoryAndNeverStarvesTheController)
{
    long const resident = statusKb(daemon.pid(), "VmRSS");
    ConsoleSocket flood(console());
    ASSERT_GE(flood.fd, 0);
    std::string lines;
    for (int i = 0; i < 10000; ++i)
        lines += "journal\n";
    std::size_t sent = 0;
    ASSERT_TRUE(DaemonLauncher::waitFor([&] {
        ssize_t const n = ::send(flood.fd, lines.data() + sent, lines.size() - sent, MSG_NOSIGNAL);
        sent += n > 0 ? std::size_t(n) : 0;
        return sent == lines.size();
    }));

    // Until the daemon has stopped reading the console client (for 300 ms neither what it
    // left unread nor what it sent changes), the controller's pings are answered.
    std::vector<std::pair<int, int>> samples;
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        EXPECT_TRUE(pinged());
        samples.push_back({flood.unread(), flood.arrived()});
        std::size_t const n = samples.size();
        if (n >= 4 && samples[n - 1].first > 0 && samples[n - 1] == samples[n - 2] && samples[n - 2] == samples[n - 3] &&
            samples[n - 3] == samples[n - 4])
            break;
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the daemon went on reading the console client";
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // The peak resident memory since the flood began, over what was resident before it.
    EXPECT_LT(statusKb(daemon.pid(), "VmHWM") - resident, 64 * 1024L);
    EXPECT_TRUE(pinged());
}

// The peers whose connections end in the table below, the daemon's own descriptors, the
// authentication client's connection and listener, an agent link still connecting, and the
// HDLC channels of a raw HDLC link slot and of a PSTN (SS7) slot joined to trunk slot 7.
enum class Service { agent, player, recorder, console, controller, own, auth, authListener, connecting, hdlcLink, pstn };

struct Row {
    Service service;
    End end;
    char const* handler;  // of the daemon's own descriptor
};

// A daemon for one row: an agent link to a listener here when the row ends one (one whose
// queue is full when the link is to stay connecting), and a trunk time slot the media slots
// connect to.
class EndingPeers : public HostilePeers, public testing::WithParamInterface<Row> {
protected:
    void SetUp() override
    {
        Service const s = GetParam().service;
        if (s == Service::agent || s == Service::connecting) {
            std::string const host = s == Service::agent ? agent.emplace().address() : silent.address();
            daemon.writeFile("/usr/local/etc/server.conf", "[snmpagent]\nhost=" + host + "\nname=qelt\n");
        }
        HostilePeers::SetUp();
        if (s == Service::auth || s == Service::authListener)
            takeAuthPort();
        trunkSlot7();
    }

    // The daemon's status dump, with the table of what its loop polls ("" when none came).
    std::string statusDump() { return daemon.dumpStatus() ? daemon.readFile("/var/log/server-status") : ""; }
    // The descriptors the named handler polls, in the order the loop took them up; the first.
    std::vector<int> polled(char const* handler) { return testsupport::polledDescriptors(statusDump(), handler); }
    int polledFirst(char const* handler) { return testsupport::polledDescriptor(statusDump(), handler); }
    // Of those, the one connected to this end of a TCP connection (-1: none).
    int polledPeerOf(char const* handler, Fd const& socket)
    {
        sockaddr_in ours{}, theirs{};
        socklen_t length = sizeof ours;
        ::getsockname(socket.lowlevel_fd(), reinterpret_cast<sockaddr*>(&ours), &length);
        for (int fd : polled(handler)) {
            Fd const own = testsupport::descriptorOf(daemon.pid(), fd);
            length = sizeof theirs;
            if (own && ::getpeername(own.lowlevel_fd(), reinterpret_cast<sockaddr*>(&theirs), &length) == 0 &&
                theirs.sin_port == ours.sin_port)
                return fd;
        }
        return -1;
    }

    // What a row's end shows: the start of the line the daemon writes at the end, the signals
    // the controller then gets, and (for sendThenClose) whether the bytes sent were taken.
    struct Ending {
        std::string report;
        std::vector<std::string> signals;
        std::function<bool()> taken;
        // A request that needs what ended, and its answer then.
        std::optional<std::pair<ZGCP::Command, std::string>> later;
    };

    // Makes the connection and returns this side of it (of the daemon's own descriptor, a
    // duplicate; none for a listener or a connect), with what its end shows; own is the
    // descriptor the daemon polls for it.
    Fd open(Service s, End how, char const* handler, Ending& e, int& own)
    {
        using namespace testsupport;
        bool const reset = how == End::reset;
        bool const behind = how == End::closedBehind;
        std::string const connected = "connected to " + peers.address();
        std::string const closed = "connection to " + peers.address() + " closed.";
        if (s == Service::agent) {
            std::string const prefix = "snmpagent.qelt " + agent->address() + ": ";
            e.report = prefix + "connection lost, reset snmpagent instance";
            std::size_t const decodes = daemon.said(prefix + "receive : decode error!");
            e.taken = [=] { return daemon.said(prefix + "receive : decode error!") > decodes; };
            EXPECT_TRUE(logged(prefix + "connected.\n"));
            Fd socket = agent->accept(DaemonLauncher::kTimeout);
            own = polledPeerOf("StrmProtocol::on_event", socket);
            return socket;
        }
        if (s == Service::player) {
            EXPECT_EQ(on(30, createCommand(networkPlayerParams("127.0.0.1", peers.port(), 1))), "success");
            std::string const stream = on(30, connectCommand(7));
            EXPECT_EQ(answer(next(), 30), "success");
            Fd socket = peers.accept(DaemonLauncher::kTimeout);
            EXPECT_EQ(next(), "slot=30 ioctl startPlaying : NULL");
            EXPECT_EQ(readFor(socket, 4, DaemonLauncher::kTimeout).size(), 4u);
            e.report = reset ? "]: play failed" : closed;
            e.signals = {"slot=30 transmitter inactive", "slot=30 abort 0"};
            std::string const channel = stream.substr(stream.rfind(' ') + 1);
            e.taken = [this, channel] {
                return board->command("device /dev/mcc/ctl written " + channel).find("0300000500") != std::string::npos;
            };
            return socket;
        }
        if (s == Service::recorder) {
            EXPECT_EQ(on(40, createCommand(recorderParams("127.0.0.1", peers.port()))), "success");
            next();
            std::size_t const connections = daemon.said(connected);
            EXPECT_EQ(on(7, connectCommand(40)), "success");
            Fd socket = peers.accept(DaemonLauncher::kTimeout);
            EXPECT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said(connected) > connections; }));
            e.report = reset ? "]: record aborted" : closed;
            e.signals = {std::string("slot=40 ioctl stopRecording : ") + (reset ? "connectionAborted" : "userRequest")};
            return socket;
        }
        if (s == Service::console) {
            ConsoleSocket c(console());
            Fd socket(::dup(c.fd));
            // Accepted once it replies; a reply left unread makes the close a reset.
            EXPECT_EQ(::send(socket.lowlevel_fd(), "journal 0 0\n", 12, MSG_NOSIGNAL), 12);
            EXPECT_TRUE(DaemonLauncher::waitFor([&] { return c.arrived() > 0; }));
            if (!reset)
                readFor(socket, std::size_t(c.arrived()), DaemonLauncher::kTimeout);
            e.report = std::string("BoardSocket::Client: ended: ") +
                       (reset ? "Connection reset" : behind ? "descriptor not open" : "closed by the peer");
            // The newest client.
            std::vector<int> const clients = polled("BoardSocket::Client");
            own = clients.empty() ? -1 : clients.back();
            return socket;
        }
        if (s == Service::controller) {
            // No agent link connects any more: the line is the controller's.
            e.report = "control connection 127.0.0.1:";
            std::size_t const decodes = daemon.said("receive fail: decode error!");
            e.taken = [=] { return daemon.said("receive fail: decode error!") > decodes; };
            Fd socket(::dup(client->tcp().fd()));
            own = polledFirst("StrmProtocol::on_event");
            if (!behind)
                client.reset();
            return socket;
        }
        if (s == Service::auth) {
            TcpClient c(TcpClient::Waiting::Socket);
            EXPECT_TRUE(c.connect(52000));
            EXPECT_TRUE(logged("incoming auth connection from "));
            e.report = "auth client 127.0.0.1:";
            own = polledFirst("AuthClient::OnSocketEvent");
            return Fd(::dup(c.fd()));
        }
        if (s == Service::authListener) {
            e.report = "auth server socket error.";
            own = polledFirst("ModemFactory::OnSocketEvent");
            return Fd();
        }
        if (s == Service::hdlcLink || s == Service::pstn) {
            // The link figures every 3 s are not what the row looks at.
            client->skipSignal(ZGCP::Signal::ioctl::id);
            bool const raw = s == Service::hdlcLink;
            EXPECT_EQ(done(50, createCommand(raw ? hdlcParams(1, 9) : ss7Params(1, 0, 1, 2, false))), "success");
            EXPECT_EQ(done(7, connectCommand(50)), "success");
            e.report = std::string("hdlc [1/") + (raw ? "0" : "5") + "]: read error: invalid descriptor";
            e.signals = {"slot=50 deactivated"};
            std::string const unsupported = "error=" + std::to_string(ZGCP::ErrorCause::unsupported);
            e.later.emplace(raw ? hdlcPackagesCommand({{0x0d}}) : userDataCommand({0x08, 0x01}), unsupported);
            own = polledFirst("HDLC::OnEvent");
            return Fd();
        }
        if (s == Service::connecting) {
            e.report = "fail to connect to " + silent.address();
            own = polledFirst("ConnectorNet::OnSocketEvent");
            return Fd();
        }
        e.report = std::string(handler) + ": ";
        own = polledFirst(handler);
        return descriptorOf(daemon.pid(), own);
    }

    // Puts the service back: a new controller; the media slot destroyed; the agent's
    // listener closed, so that its link's later attempts are refused; the daemon's own
    // descriptor polled again (a listener's 5000 ms after its end).
    void after(Service s, char const* handler)
    {
        if (s == Service::controller) {
            client.reset();
            EXPECT_TRUE(attach());
        } else if (s == Service::player || s == Service::recorder) {
            EXPECT_EQ(on(s == Service::player ? 30 : 40, testsupport::plainCommand(ZGCP::Command::destroy::id)),
                      "success");
        } else if (s == Service::hdlcLink || s == Service::pstn) {
            EXPECT_EQ(done(50, testsupport::plainCommand(ZGCP::Command::destroy::id)), "success");
        } else if (s == Service::agent) {
            agent.reset();
        } else if (s == Service::own) {
            EXPECT_TRUE(DaemonLauncher::waitFor([&] { return polledFirst(handler) >= 0; }));
        }
    }

    // The daemon's descriptors, the least of a few looks: an agent link's attempt holds two
    // for a moment.
    long settledDescriptors() const
    {
        long least = openDescriptors(daemon.pid());
        for (int i = 0; i < 4; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(20)))
            least = std::min(least, openDescriptors(daemon.pid()));
        return least;
    }

    std::optional<testsupport::LoopbackListener> agent;
    testsupport::LoopbackListener peers;
    // A listener whose one place in the queue is taken: a link to it stays connecting.
    testsupport::LoopbackListener silent{0};
    Fd const parked = silent.connect();
};

// Every descriptor the daemon polls that is not a board device, ended in every way that can
// happen to it (closed behind its handler included): one line tells it, once; the owner
// hears of it (the controller's signals); what the peer sent before its end was taken; the
// daemon is idle a second later and answers a ping; it holds no more descriptors than before
// once the service is back (an agent link's next attempt comes 10 s later, an authentication
// listener that ended is gone for good).
TEST_P(EndingPeers, IsTakenOnceAndLeavesTheDaemonIdle)
{
    Row const& row = GetParam();
    bool const behind = row.end == End::closedBehind;
    if ((row.service == Service::own || row.service == Service::agent) && !testsupport::descriptorOf(daemon.pid(), 0))
        GTEST_SKIP() << "no duplicate of another process's descriptor (pidfd_getfd)";
    long const descriptors = settledDescriptors();
    Ending e;
    int own = -1;
    Fd socket = open(row.service, row.end, row.handler, e, own);
    ASSERT_TRUE(behind ? own >= 0 : bool(socket));
    std::size_t const before = daemon.said(e.report);
    if (behind)
        ASSERT_EQ(board->command("close-fd " + std::to_string(own)), "ok");
    else
        testsupport::end(socket, row.end);
    ASSERT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said(e.report) > before; })) << e.report;
    for (std::string const& signal : e.signals)
        EXPECT_EQ(next(), signal);
    if (row.end == End::sendThenClose && e.taken) {
        EXPECT_TRUE(DaemonLauncher::waitFor(e.taken)) << "what the peer sent before its end was not taken";
    }
    if (e.later) {
        EXPECT_EQ(on(50, e.later->first), e.later->second);
    }

    EXPECT_LT(testsupport::cpuSecondsOver(daemon.pid(), std::chrono::seconds(1)), 0.1);
    EXPECT_EQ(daemon.said(e.report), before + 1) << e.report;
    socket.close();
    after(row.service, row.handler);
    EXPECT_TRUE(pinged());
    long now = 0;
    bool const fewer = row.service == Service::agent || row.service == Service::authListener;
    EXPECT_TRUE(DaemonLauncher::waitFor([&] {
        now = settledDescriptors();
        return fewer ? now < descriptors : now == descriptors;
    })) << now << " descriptors, " << descriptors << " before";
}

std::vector<Row> rows()
{
    std::vector<Row> rows;
    for (Service s : {Service::agent, Service::player, Service::recorder, Service::console, Service::controller})
        for (End e : {End::close, End::reset, End::halfClose, End::sendThenClose})
            rows.push_back({s, e, ""});
    for (char const* h : {"AcceptorNet::OnSocketEvent", "BoardSocket::onAccept", "ChildWaitService::OnChildEvent",
                          "SignalWake::OnWake"})
        for (End e : {End::shutRead, End::hangUp})
            rows.push_back({Service::own, e, h});
    // The handlers that heard nothing of a descriptor closed behind them.
    for (Service s : {Service::agent, Service::console, Service::controller, Service::auth, Service::authListener,
                      Service::connecting, Service::hdlcLink, Service::pstn})
        rows.push_back({s, End::closedBehind, ""});
    return rows;
}

// The rows of the authentication client's connection and listener hold the lock of its fixed
// port (tests/e2e/CMakeLists.txt): their names begin with "auth".
std::string name(Row const& row)
{
    static char const* const services[] = {"agent", "player",       "recorder",   "console",  "controller", "own",
                                           "auth",  "authListener", "connecting", "hdlcLink", "pstn"};
    static char const* const ends[] = {"close", "reset", "halfClose", "sendThenClose", "shutRead", "hangUp",
                                       "closedBehind"};
    std::string const handler = row.handler;
    return (handler.empty() ? services[int(row.service)] : handler.substr(0, handler.find(':'))) + "_" +
           ends[int(row.end)];
}

void PrintTo(Row const& row, std::ostream* os) { *os << name(row); }

INSTANTIATE_TEST_SUITE_P(EveryEnd, EndingPeers, testing::ValuesIn(rows()),
                         [](testing::TestParamInfo<Row> const& info) { return name(info.param); });

}  // namespace
