// The daemon against a bare TPKT echo over the same loopback, in one run.
//
// Starts the Release server-sim (or the program given as the first argument, such as a
// profiler wrapping it) under a temporary root and tpkt_echo, one controller connection to
// each, and measures the same load on both in alternating slices: ping with one command
// outstanding (round trips per second, median and 99th percentile), ping with 64
// outstanding (every answer read is followed by the next ping), and slot cycles, each
// command waiting for its answer. The client runs on one core and the servers on another;
// the one-outstanding ping is measured again with all three on one core. Each figure is
// printed for both with the daemon/echo ratio (of a rate: the median of the rounds' ratios,
// with their range). Before the load: resident memory and open descriptors of server-sim
// after start, with 1024 slots, and after they are destroyed.

#include "bench/alternating_rounds.h"
#include "tests/controller_client.h"
#include "tests/daemon_launcher.h"
#include "tests/process_figures.h"
#include "tests/slot_commands.h"

#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::Bytes;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 20;
constexpr auto kSlice = std::chrono::milliseconds(100);
constexpr auto kWarmUp = std::chrono::milliseconds(100);
constexpr int kWindow = 64;
constexpr unsigned kSlots = 1024;

[[noreturn]] void fail(std::string const& what)
{
    std::cerr << "side_by_side: " << what << std::endl;
    std::exit(1);
}

// One controller connection: frames out, frames in, read in large pieces.
class Link {
public:
    bool connect(int port)
    {
        if (!client_.connect(std::uint16_t(port)))
            return false;
        timeval tv{10, 0};  // a peer that stops answering fails the run
        return ::setsockopt(fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
    }

    void send(Bytes const& bytes)
    {
        if (!client_.sendRaw(bytes))
            fail("send failed");
    }

    // The next whole frame, header included.
    Bytes const& frame()
    {
        for (;;) {
            std::size_t const have = end_ - begin_;
            if (have >= 4) {
                std::size_t const length = std::size_t(buf_[begin_ + 2]) << 8 | buf_[begin_ + 3];
                if (buf_[begin_] != 3 || length < 4)
                    fail("not a TPKT frame");
                if (have >= length) {
                    frame_.assign(buf_.begin() + std::ptrdiff_t(begin_), buf_.begin() + std::ptrdiff_t(begin_ + length));
                    begin_ += length;
                    return frame_;
                }
            }
            if (begin_ > 0) {
                std::copy(buf_.begin() + std::ptrdiff_t(begin_), buf_.begin() + std::ptrdiff_t(end_), buf_.begin());
                end_ -= begin_;
                begin_ = 0;
            }
            ssize_t const n = ::recv(fd(), buf_.data() + end_, buf_.size() - end_, 0);
            if (n <= 0)
                fail("no answer");
            end_ += std::size_t(n);
        }
    }

private:
    int fd() { return client_.tcp().fd(); }

    testsupport::ControllerClient client_{testsupport::TcpClient::Waiting::Socket};
    std::vector<std::uint8_t> buf_ = std::vector<std::uint8_t>(1 << 16);
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    Bytes frame_;
};

Bytes frameOf(ZGCP::Message const& m) { return testsupport::tpktFrame(testsupport::encodeZgcp(m)); }

// A command and the daemon's success answer to it.
struct Step {
    Bytes command;
    Bytes success;
};

Step step(ZGCP::Command const& command, int seq, std::optional<unsigned> slot = std::nullopt)
{
    ZGCP::Response ok;
    ok.select_success();
    return {frameOf(testsupport::zgcpCommand(command, seq, slot)),
            frameOf(testsupport::zgcpMessage(ZGCP::PDU(ZGCP::PDU::response::id, ok), seq, slot))};
}

std::string describe(Bytes const& frame)
{
    ZGCP::Message m;
    if (!testsupport::decodeZgcp(Bytes(frame.begin() + 4, frame.end()), m))
        return "undecodable";
    return testsupport::describeZgcp(m);
}

// One side of the comparison: the process and the connection to it.
struct Peer {
    std::string name;
    bool echoes;  // answers each frame with itself
    testsupport::DaemonLauncher launcher;
    Link link;

    Peer(std::string n, bool e, std::string const& binary) : name(std::move(n)), echoes(e), launcher(binary) {}

    // Sends the command and reads until its answer; signals on the way are skipped.
    void call(Step const& s)
    {
        link.send(s.command);
        answer(s);
    }
    void answer(Step const& s)
    {
        Bytes const& want = echoes ? s.command : s.success;
        for (;;) {
            Bytes const& got = link.frame();
            if (got == want)
                return;
            std::string const text = describe(got);
            if (text.find("signal=") == std::string::npos)
                fail(name + ": " + text + " for " + describe(s.command));
        }
    }
};

// What one slice measured.
struct Slice {
    double seconds = 0;
    double count = 0;
    std::vector<double> micros;  // each round trip, when they are timed
};

using Load = std::function<Slice(Peer&, Clock::duration)>;

Slice pingOne(Peer& p, Clock::duration length)
{
    static Step const ping = step(testsupport::pingCommand(), 1);
    Slice s;
    auto const start = Clock::now();
    for (auto t = start; t - start < length;) {
        p.call(ping);
        auto const now = Clock::now();
        s.micros.push_back(std::chrono::duration<double, std::micro>(now - t).count());
        t = now;
    }
    s.count = double(s.micros.size());
    s.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return s;
}

Slice pingWindow(Peer& p, Clock::duration length)
{
    static Step const ping = step(testsupport::pingCommand(), 1);
    Bytes burst;
    for (int i = 0; i < kWindow; ++i)
        burst.insert(burst.end(), ping.command.begin(), ping.command.end());
    Slice s;
    auto const start = Clock::now();
    p.link.send(burst);
    while (Clock::now() - start < length) {
        p.answer(ping);
        p.link.send(ping.command);
        ++s.count;
    }
    for (int i = 0; i < kWindow; ++i)
        p.answer(ping);
    s.count += kWindow;
    s.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return s;
}

Load cycle(std::vector<Step> steps)
{
    return [steps](Peer& p, Clock::duration length) {
        Slice s;
        auto const start = Clock::now();
        while (Clock::now() - start < length) {
            for (Step const& st : steps)
                p.call(st);
            ++s.count;
        }
        s.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return s;
    };
}

double percentile(std::vector<double>& v, double q)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, std::size_t(double(v.size()) * q))];
}

// The load on both in alternating slices: per peer, all slices together; and the ratios of
// each round's rates.
struct Figure {
    Slice total[2];
    bench::Ratios ratios;
    double rate(int i) const { return total[i].count / total[i].seconds; }
};

Figure measure(Peer* peers[2], Load const& load)
{
    for (int i = 0; i < 2; ++i)
        load(*peers[i], kWarmUp);
    Figure f;
    for (auto const& got : bench::alternate<Slice>(kRounds, [&](int i) { return load(*peers[i], kSlice); })) {
        for (int i = 0; i < 2; ++i) {
            f.total[i].seconds += got[i].seconds;
            f.total[i].count += got[i].count;
            f.total[i].micros.insert(f.total[i].micros.end(), got[i].micros.begin(), got[i].micros.end());
        }
        f.ratios.add((got[1].count / got[1].seconds) / (got[0].count / got[0].seconds));
    }
    return f;
}

// A figure of both sides and their ratio.
void row(char const* what, double echo, double daemon)
{
    std::printf("  %-38s %12.1f %12.1f %8.2f\n", what, echo, daemon, daemon / echo);
}

// A rate of both sides over all slices, the median ratio of the rounds and their range.
void rateRow(char const* what, Figure const& f, int steps = 1)
{
    std::printf("  %-38s %12.1f %12.1f %s\n", what, f.rate(0) * steps, f.rate(1), f.ratios.text(steps).c_str());
}

struct Usage {
    long rssKb = 0;
    int fds = 0;
};

Usage usageOf(pid_t pid)
{
    return {testsupport::statusKb(pid, "VmRSS"), int(testsupport::openDescriptors(pid))};
}

// Fills every slot number with a map slot (each on its own bus channel), then destroys
// them, all in one burst each.
void memoryFigure(Peer& daemon)
{
    Usage const start = usageOf(daemon.launcher.pid());
    std::vector<Step> creates, destroys;
    Bytes createBurst, destroyBurst;
    for (unsigned n = 0; n < kSlots; ++n) {
        testsupport::BusChannel const rx{n / 128, n % 128};
        creates.push_back(step(testsupport::createCommand(testsupport::mapParams(std::nullopt, rx)), int(n % 100), n));
        destroys.push_back(step(testsupport::destroyCommand(), int(n % 100), n));
        createBurst.insert(createBurst.end(), creates.back().command.begin(), creates.back().command.end());
        destroyBurst.insert(destroyBurst.end(), destroys.back().command.begin(), destroys.back().command.end());
    }
    daemon.link.send(createBurst);
    for (Step const& s : creates)
        daemon.answer(s);
    Usage const full = usageOf(daemon.launcher.pid());
    daemon.link.send(destroyBurst);
    for (Step const& s : destroys)
        daemon.answer(s);
    Usage const after = usageOf(daemon.launcher.pid());
    std::printf("server-sim resident memory and descriptors:\n");
    std::printf("  after start %ld kB, %d fds; with %u slots %ld kB, %d fds; destroyed %ld kB, %d fds\n",
                start.rssKb, start.fds, kSlots, full.rssKb, full.fds, after.rssKb, after.fds);
    std::printf("  destroyed/start: memory %.3f, descriptors %+d\n", double(after.rssKb) / double(start.rssKb),
                after.fds - start.fds);
}

// Where the processes run: the client on one core, both servers on another (they never work
// at the same time), so that every answer crosses cores as it would from a controller of
// its own; or all three on one core, where a round trip is the work of both sides and
// nothing else.
struct Placement {
    int client;
    int servers;
};

void pin(pid_t pid, int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    ::sched_setaffinity(pid, sizeof set, &set);
}

void place(Placement where, Peer* peers[2])
{
    for (int i = 0; i < 2; ++i)
        pin(peers[i]->launcher.pid(), where.servers);
    pin(0, where.client);
}

// The last two cores this process may use (one core twice when it may use only one).
Placement separateCores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    ::sched_getaffinity(0, sizeof set, &set);
    std::vector<int> cores;
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &set))
            cores.push_back(c);
    if (cores.empty())
        fail("no core to run on");
    return {cores[cores.size() > 1 ? cores.size() - 2 : 0], cores.back()};
}

void pingRows(Figure& f)
{
    rateRow("round trips/s", f);
    row("median round trip us", percentile(f.total[0].micros, 0.5), percentile(f.total[1].micros, 0.5));
    row("99th percentile us", percentile(f.total[0].micros, 0.99), percentile(f.total[1].micros, 0.99));
}

}  // namespace

int main(int argc, char** argv)
{
    Peer echo("echo", true, GW_TPKT_ECHO_BINARY);
    Peer daemon("daemon", false, argc > 1 ? argv[1] : GW_SERVER_SIM_BINARY);
    if (!echo.launcher.start({"--port=" + std::to_string(echo.launcher.port())})
        || !daemon.launcher.start({daemon.launcher.portOption()}))
        fail("cannot start the servers");
    if (!echo.link.connect(echo.launcher.port()) || !daemon.link.connect(daemon.launcher.port()))
        fail("cannot connect");
    Peer* peers[2] = {&echo, &daemon};
    for (Peer* p : peers)
        p->call(step(testsupport::pingCommand(), 1));
    Placement const apart = separateCores();
    place(apart, peers);

    std::printf("side by side over loopback, %ld cores: client on core %d, servers on core %d; "
                "%d rounds of %lld ms a side\n",
                ::sysconf(_SC_NPROCESSORS_ONLN), apart.client, apart.servers, kRounds,
                static_cast<long long>(kSlice.count()));
    memoryFigure(daemon);

    // Standing slots the cycles connect to: a map slot for the trunk, a trunk slot for the map.
    using testsupport::plainCommand;
    testsupport::BusChannel const standingBus{0, 10}, cycleBus{0, 20};
    for (Peer* p : peers) {
        p->call(step(testsupport::createCommand(testsupport::mapParams(standingBus, standingBus)), 2, 101));
        p->call(step(testsupport::createCommand(testsupport::trunkParams(2, 7)), 3, 102));
    }
    auto const trunk = testsupport::createCommand(testsupport::trunkParams(1, 5));
    auto const map = testsupport::createCommand(testsupport::mapParams(cycleBus, cycleBus));
    auto const disconnect = plainCommand(ZGCP::Command::disconnect::id);
    auto const destroy = plainCommand(ZGCP::Command::destroy::id);
    auto fullCycle = [&](ZGCP::Command const& create, unsigned standing) {
        return cycle({step(create, 4, 100), step(testsupport::connectCommand(100), 5, standing),
                      step(disconnect, 6, 100), step(destroy, 7, 100)});
    };

    std::printf("%-40s %12s %12s %8s  %s\n", "", "echo", "daemon", "ratio", "(rounds)");
    Figure one = measure(peers, pingOne);
    std::printf("ping, 1 outstanding\n");
    pingRows(one);
    Figure window = measure(peers, pingWindow);
    std::printf("ping, %d outstanding\n", kWindow);
    rateRow("round trips/s", window);

    struct {
        char const* name;
        int steps;
        Load load;
    } const cycles[] = {
        {"trunk create+destroy", 2, cycle({step(trunk, 4, 100), step(destroy, 7, 100)})},
        {"trunk create+connect+disconnect+destroy", 4, fullCycle(trunk, 101)},
        {"map create+connect+disconnect+destroy", 4, fullCycle(map, 102)},
    };
    for (auto const& c : cycles) {
        Figure f = measure(peers, c.load);
        std::printf("%s (each command answered before the next)\n", c.name);
        rateRow("cycles/s", f);
        // The echo answers the same frames: its round trips per second, in the same slices.
        rateRow("daemon cycles/s : echo round trips/s", f, c.steps);
    }

    place({apart.servers, apart.servers}, peers);
    Figure shared = measure(peers, pingOne);
    std::printf("ping, 1 outstanding, all on core %d (the work of both sides alone)\n", apart.servers);
    pingRows(shared);
    return echo.launcher.stop() == 0 && daemon.launcher.stop() == 0 ? 0 : 1;
}
