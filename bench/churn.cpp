// A churn of controllers against the Release server-sim, for minutes on end: not a benchmark
// of scripts/bench, a run to see what a long life of the daemon does to it.
//
//     churn [MINUTES [PROGRAM ARGS...]]
//
// Starts server-sim (or the program given, such as a profiler wrapping it: the daemon is then
// the server-sim in its process group) under a temporary root, with stub child programs in
// place of the T.38 relay and pppd, and connects controllers one after another for MINUTES
// (default 30). Each makes slots of every kind (trunk and map slots joined, an RTP channel
// with tone and voice functions, a T.38 relay, a DSP modem running pppd, ISDN, HDLC and SS7
// signalling slots), asks for the resources (which runs the relay's instance count, whose
// stub leaves a process behind), and destroys them; every fifth is dropped with a reset right
// after sending its creates, without waiting for an answer. Failures come through the board
// console: a refused switch connection, a failed tone device read, an MCC open refused, the
// modem device removed for a controller.
//
// Every minute one line: the daemon's resident memory, the controllers served in that minute
// and the daemon's processor time for each, its open descriptors, the zombies of this process
// (what the launcher adopted and did not reap) and the machine's load average. The rate and
// the processor time move with the machine's other load (a busy machine shares caches and
// cores with the daemon and the client), so they are shown, not judged.
//
// After the minutes a fresh daemon (same program, arguments and stubs, a root of its own)
// joins, and the two are driven with the same churn, one controller at a time, in alternating
// slices (bench/alternating_rounds.h): what the load does to one slice it does to the next.
// The verdict: no zombie at any minute nor after the comparison; resident memory at the end of
// the minutes within 3 % of its value at minute 10 (at half the run for runs under 20
// minutes); the long-running daemon's controllers a minute and processor time a controller
// within the bound below of the fresh one's (the median of the rounds' ratios).
//
// Each daemon runs in a network of its own: both hold the fixed ports (the authentication
// listener's 127.0.0.1:52000), and the machine's stay free for the tests. The daemons' output
// is emptied at every minute and every slice, so that it does not fill the disk.

#include "base/fd.h"
#include "bench/alternating_rounds.h"
#include "tests/board_client.h"
#include "tests/controller_client.h"
#include "tests/daemon_launcher.h"
#include "tests/process_figures.h"
#include "tests/slot_commands.h"
#include "tests/stub_child.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace testsupport;
using Clock = std::chrono::steady_clock;

// The comparison: rounds of a slice a side, long enough for hundreds of controllers each.
constexpr int kRounds = 20;
constexpr auto kSlice = std::chrono::seconds(3);
// The long-running daemon passes when, in the median round, it serves at least 80 % of the
// fresh one's controllers a minute and needs at most 1/0.8 (125 %) of its processor time for
// each. Slices seconds apart under the same load put two like daemons within a few percent of
// each other, and the median leaves out the rounds a burst of other load held one side back;
// what a long life does to a daemon (work that grows with what it has served: a list searched
// end to end, a heap that fragments, forks that copy more) keeps growing over a run, so the
// bound catches it while leaving room for that noise.
constexpr double kFloor = 0.8;

// A failure of the tool: main reports it, and what the tool started is stopped on the way.
struct Failed {
    std::string what;
};

[[noreturn]] void fail(std::string const& what) { throw Failed{what}; }

// Set by SIGINT, SIGTERM and SIGHUP: the churn ends after the controller it serves.
volatile std::sig_atomic_t interrupted = 0;

extern "C" void onStop(int) { interrupted = 1; }

// "churn --own-network PROGRAM ARGS...", what the launcher runs in place of the daemon: the
// program in a network of its own with its loopback up (which takes root), and with its
// standard output and error written at their ends, so that the files can be emptied under it.
int ownNetwork(char** program)
{
    ifreq lo{};
    std::strcpy(lo.ifr_name, "lo");
    Fd s(::unshare(CLONE_NEWNET) == 0 ? ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0) : -1);
    if (!s.is_valid() || ::ioctl(s.lowlevel_fd(), SIOCGIFFLAGS, &lo) != 0
        || (lo.ifr_flags |= IFF_UP, ::ioctl(s.lowlevel_fd(), SIOCSIFFLAGS, &lo) != 0)) {
        std::perror("churn: no network of its own for the daemon");
        return 127;
    }
    for (int fd : {1, 2})
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_APPEND);
    ::execv(program[0], program);
    std::perror(program[0]);
    return 127;
}

// The calling thread in another network for a while: sockets made meanwhile are in it.
class InNetwork {
public:
    explicit InNetwork(Fd const& network)
    {
        if (!home().is_valid() || ::setns(network.lowlevel_fd(), CLONE_NEWNET) != 0)
            fail("cannot enter the daemon's network");
    }
    ~InNetwork() { ::setns(home().lowlevel_fd(), CLONE_NEWNET); }
    InNetwork(InNetwork const&) = delete;
    InNetwork& operator=(InNetwork const&) = delete;

private:
    // The tool's own.
    static Fd const& home()
    {
        static Fd const network(::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC));
        return network;
    }
};

// The pids of this process's children that are zombies.
std::set<pid_t> zombies()
{
    std::vector<pid_t> const z = children(::getpid(), "Z");
    return {z.begin(), z.end()};
}

// Zombies that are still there a moment later: the launcher reaps every few milliseconds.
std::size_t lastingZombies()
{
    std::set<pid_t> const first = zombies();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::size_t n = 0;
    for (pid_t z : zombies())
        n += first.count(z);
    return n;
}

// The machine's load average over the last minute.
double loadAverage()
{
    double load = 0;
    std::ifstream("/proc/loadavg") >> load;
    return load;
}

// One controller's connection: commands each waiting for its answer (signals passed over).
class Controller {
public:
    // Connected and answered a ping; false when the daemon turned it away (it has not seen the
    // previous controller go yet).
    bool attach(int port)
    {
        client_.skipSignal(ZGCP::Signal::trunkStatus::id);
        client_.skipSignal(ZGCP::Signal::power::id);
        if (!client_.connect(std::uint16_t(port)))
            fail("cannot connect");
        return client_.send(zgcpCommand(pingCommand(), ++seq_)) && answer(1000).has_value();
    }

    // The answer: true for success; a refusal is as good (failures are injected).
    bool call(ZGCP::Command const& command, std::optional<unsigned> slot = std::nullopt)
    {
        if (!client_.send(zgcpCommand(command, ++seq_, slot)))
            fail("send failed");
        std::optional<bool> const ok = answer(ControllerClient::kTimeout);
        if (!ok)
            fail("no answer to command " + std::to_string(seq_));
        return *ok;
    }

    // The commands in one write, then a reset: the controller dies mid-work.
    void sendAndDrop(std::vector<std::pair<ZGCP::Command, unsigned>> const& commands)
    {
        Bytes burst;
        for (auto const& [command, slot] : commands) {
            Bytes const frame = tpktFrame(encodeZgcp(zgcpCommand(command, ++seq_, slot)));
            burst.insert(burst.end(), frame.begin(), frame.end());
        }
        client_.sendRaw(burst);
        client_.close(true);
    }

    void close() { client_.close(); }

private:
    // Whether the answer to the last command succeeded; none when none came in time.
    std::optional<bool> answer(int timeoutMs)
    {
        ZGCP::Message m;
        while (client_.receive(m, timeoutMs)) {
            ZGCP::PDU const& pdu = m.get_pdu();
            if (pdu.response_isSelected() && m.seq_isPresent() && m.get_seq().getValue() == seq_)
                return pdu.get_response().success_isSelected();
        }
        return std::nullopt;
    }

    ControllerClient client_{TcpClient::Waiting::Socket};
    int seq_ = 0;
};

// The slots of one controller, in the order they are made: a create, then the commands that
// join or configure the slot.
struct Slot {
    unsigned number;
    ZGCP::CreateParams params;
    std::vector<ZGCP::Command> then;
};

std::vector<Slot> slots()
{
    ZGCP::IoctlParams dtmf, vad;
    dtmf.select_dtmf_enable(true);
    vad.select_vad_enable(true);
    return {
        {7, trunkParams(1, 5), {}},
        {8, mapParams(BusChannel{1, 2}, BusChannel{0, 0}), {connectCommand(7)}},
        {9, trunkParams(1, 6), {}},
        {21, rtpParams(rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1", 9)),
         {connectCommand(9), ioctlCommand(dtmf), ioctlCommand(toneFilterIoctl(2100, 400, -30)), ioctlCommand(vad)}},
        {50, t38Params("127.0.0.1", 4000, 5000), {}},
        {10, trunkParams(1, 7), {}},
        {20, modemCreate(modemParams("123")), {connectCommand(10)}},
        {30, isdnParams(ZGCP::IsdnType::pri, 2), {}},
        {40, hdlcParams(3, 0x1234), {}},
        {31, ss7Params(4, 5, 100, 200, true), {}},
    };
}

// A failure injected through the board console for the controller numbered n, and how it is
// undone once that controller has gone.
struct Failure {
    int every;
    int at;
    char const* arm;
    char const* disarm;
};

Failure const failures[] = {
    {7, 3, "fail-request /dev/hal connect EIO 1", "clear-failures"},
    {11, 5, "fail-read /dev/dtmf EIO 1", "clear-failures"},
    {13, 8, "fail-open /dev/mcc/ctl EIO 1", "clear-failures"},
    {17, 2, "remove /dev/mctl", "restore /dev/mctl"},
};

// One daemon under the churn: server-sim (or the program wrapping it) in a network of its own
// under a root of its own with the stub child programs, its board console, and the controllers
// it has served (their count picks the failures injected).
class Daemon {
public:
    // The program and its arguments, server-sim last.
    explicit Daemon(std::vector<std::string> program)
    {
        relay_.configure("INSTANCES=4; COUNT=orphan");
        program.insert(program.begin(), "--own-network");
        program.push_back(launcher_.portOption());
        if (!launcher_.start(program))
            fail("cannot start the daemon");
        // Its board console; a program that ended first (no network of its own) fails at once.
        DaemonLauncher::waitFor([&] { return launcher_.exists("/var/run/board.sock") || launcher_.wait(0) >= 0; },
                                60000);
        if (launcher_.running())
            board_.emplace(launcher_.root(), 60000);
        if (!board_ || !board_->connected())
            fail("no board console: " + launcher_.err());
        pid_ = serverSim();
        network_ = Fd(::open(("/proc/" + std::to_string(pid_) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC));
        if (pid_ <= 0 || !network_.is_valid())
            fail("no server-sim process");
    }

    ~Daemon()
    {
        if (launcher_.running())
            launcher_.stop();
    }
    Daemon(Daemon const&) = delete;
    Daemon& operator=(Daemon const&) = delete;

    pid_t pid() const { return pid_; }
    long served() const { return served_; }

    // One controller, from its connection to its close or its drop.
    void serve()
    {
        long const n = served_++;
        for (Failure const& f : failures)
            if (n % f.every == f.at)
                board_->command(f.arm);
        std::optional<Controller> c;
        for (bool attached = false; !attached;) {
            c.emplace();
            InNetwork in(network_);
            attached = c->attach(launcher_.port());
        }
        if (n % 5 == 4) {
            std::vector<std::pair<ZGCP::Command, unsigned>> burst;
            for (Slot const& s : made_) {
                burst.emplace_back(createCommand(s.params), s.number);
                for (ZGCP::Command const& t : s.then)
                    burst.emplace_back(t, s.number);
            }
            c->sendAndDrop(burst);
        } else {
            for (Slot const& s : made_)
                if (c->call(createCommand(s.params), s.number))
                    for (ZGCP::Command const& t : s.then)
                        c->call(t, s.number);
            c->call(plainCommand(ZGCP::Command::query::id));
            for (auto s = made_.rbegin(); s != made_.rend(); ++s)
                c->call(destroyCommand(), s->number);
            c->close();
        }
        for (Failure const& f : failures)
            if (n % f.every == f.at)
                board_->command(f.disarm);
    }

    // Its standard output and error, and the stubs' records, emptied: nothing reads them.
    void trim() const
    {
        std::error_code none;
        for (char const* fd : {"/fd/1", "/fd/2"})
            std::filesystem::resize_file("/proc/" + std::to_string(pid_) + fd, 0, none);
        for (std::string const& stub : {relay_.path(), pppd_.path()})
            for (char const* suffix : {".log", ".fds"})
                std::filesystem::resize_file(stub + suffix, 0, none);
    }

    // SIGTERM: the exit code.
    int stop() { return launcher_.stop(); }

private:
    // The server-sim process in the launched group: the launched one, or the one a wrapper
    // started.
    pid_t serverSim() const
    {
        std::error_code gone;
        for (auto const& process : std::filesystem::directory_iterator("/proc", gone)) {
            std::istringstream fields = statFields(process.path().string());
            std::string state, comm;
            pid_t parent = 0, group = 0;
            std::ifstream(process.path() / "comm") >> comm;
            if ((fields >> state >> parent >> group) && group == launcher_.pid() && comm == "server-sim")
                return pid_t(std::atoi(process.path().filename().c_str()));
        }
        return -1;
    }

    DaemonLauncher launcher_{std::filesystem::read_symlink("/proc/self/exe")};
    StubChild relay_{launcher_.root(), "/usr/local/sbin/t38"};
    StubChild pppd_{launcher_.root(), "/usr/local/sbin/pppd"};
    std::optional<BoardClient> board_;
    pid_t pid_ = -1;
    Fd network_;
    std::vector<Slot> const made_ = slots();
    long served_ = 0;
};

struct Minute {
    long rssKb;
    long controllers;
    double cpuMs;  // the daemon's, per controller
    long descriptors;
    std::size_t zombies;
    double load;
};

// The minutes of the churn on the daemon, a line each; fewer when interrupted.
std::vector<Minute> churn(Daemon& daemon, int minutes)
{
    std::printf("%6s %10s %12s %12s %11s %8s %6s\n", "minute", "VmRSS kB", "controllers", "cpu ms each", "descriptors",
                "zombies", "load");
    std::vector<Minute> figures;
    auto const start = Clock::now();
    long thisMinute = 0;
    double cpu = cpuSeconds(daemon.pid());
    while (int(figures.size()) < minutes && !interrupted) {
        daemon.serve();
        ++thisMinute;
        if (Clock::now() - start < std::chrono::minutes(figures.size() + 1))
            continue;
        double const used = cpuSeconds(daemon.pid());
        Minute const m{statusKb(daemon.pid(), "VmRSS"), thisMinute, 1000 * (used - cpu) / double(thisMinute),
                       openDescriptors(daemon.pid()), lastingZombies(), loadAverage()};
        cpu = used;
        thisMinute = 0;
        figures.push_back(m);
        std::printf("%6zu %10ld %12ld %12.3f %11ld %8zu %6.2f\n", figures.size(), m.rssKb, m.controllers, m.cpuMs,
                    m.descriptors, m.zombies, m.load);
        std::fflush(stdout);
        daemon.trim();
    }
    return figures;
}

// What one daemon did in one slice of the comparison.
struct Slice {
    double seconds = 0;
    double controllers = 0;
    double cpuSeconds = 0;  // the daemon's

    double perMinute() const { return 60 * controllers / seconds; }
    double cpuMsEach() const { return 1000 * cpuSeconds / controllers; }
};

Slice slice(Daemon& daemon)
{
    Slice s;
    double const cpu = cpuSeconds(daemon.pid());
    auto const start = Clock::now();
    while (Clock::now() - start < kSlice && !interrupted) {
        daemon.serve();
        ++s.controllers;
    }
    s.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    s.cpuSeconds = cpuSeconds(daemon.pid()) - cpu;
    daemon.trim();
    return s;
}

// The fresh daemon (side 0) and the long-running one (side 1): every slice of each together,
// and the ratios of each round's figures.
struct Comparison {
    Slice total[2];
    bench::Ratios perMinute;
    bench::Ratios cpuMsEach;
};

Comparison compare(Daemon& fresh, Daemon& longRunning)
{
    Daemon* const sides[2] = {&fresh, &longRunning};
    // Not counted: a new daemon's first controllers grow the heap and pools later ones reuse.
    for (Daemon* d : sides)
        slice(*d);
    Comparison c;
    for (auto const& got : bench::alternate<Slice>(kRounds, [&](int i) { return slice(*sides[i]); })) {
        for (int i = 0; i < 2; ++i) {
            c.total[i].seconds += got[i].seconds;
            c.total[i].controllers += got[i].controllers;
            c.total[i].cpuSeconds += got[i].cpuSeconds;
        }
        c.perMinute.add(got[1].perMinute() / got[0].perMinute());
        c.cpuMsEach.add(got[1].cpuMsEach() / got[0].cpuMsEach());
    }
    return c;
}

void print(Comparison const& c)
{
    std::printf("side by side with a fresh daemon: %d rounds of %lld s a side, %ld cores, load average %.2f\n",
                kRounds, static_cast<long long>(kSlice.count()), ::sysconf(_SC_NPROCESSORS_ONLN), loadAverage());
    std::printf("  %-26s %12s %12s %8s  %s\n", "", "fresh", "long", "ratio", "(rounds)");
    std::printf("  %-26s %12.1f %12.1f %s\n", "controllers a minute", c.total[0].perMinute(), c.total[1].perMinute(),
                c.perMinute.text().c_str());
    std::printf("  %-26s %12.3f %12.3f %s\n", "processor ms a controller", c.total[0].cpuMsEach(),
                c.total[1].cpuMsEach(), c.cpuMsEach.text().c_str());
}

// The verdict on the minutes and the comparison, a line each criterion: whether all pass.
bool verdict(std::vector<Minute> const& figures, Comparison const& c)
{
    std::size_t const zombiesAfter = lastingZombies();
    bool noZombie = zombiesAfter == 0;
    for (Minute const& m : figures)
        noZombie = noZombie && m.zombies == 0;
    std::size_t const reference = figures.size() >= 20 ? 10 : std::max<std::size_t>(1, figures.size() / 2);
    Minute const& ref = figures[reference - 1];
    Minute const& last = figures.back();
    double const rssChange = 100.0 * double(last.rssKb - ref.rssKb) / double(ref.rssKb);
    bool const rssLevel = std::fabs(rssChange) <= 3.0;
    bool const rateLevel = c.perMinute.median() >= kFloor;
    bool const cpuLevel = c.cpuMsEach.median() <= 1 / kFloor;
    std::printf("zombies: %s\n", noZombie ? "none at any minute nor after the comparison: pass" : "FAIL");
    std::printf("resident memory: %ld kB at minute %zu, %ld kB at the end (%+.1f %%): %s\n", ref.rssKb, reference,
                last.rssKb, rssChange, rssLevel ? "pass" : "FAIL");
    std::printf("controllers a minute, long/fresh: %.2f in the median round (at least %.2f): %s\n",
                c.perMinute.median(), kFloor, rateLevel ? "pass" : "FAIL");
    std::printf("processor time a controller, long/fresh: %.2f in the median round (at most %.2f): %s\n",
                c.cpuMsEach.median(), 1 / kFloor, cpuLevel ? "pass" : "FAIL");
    return noZombie && rssLevel && rateLevel && cpuLevel;
}

// Interrupted: what was started is stopped on the way out of run().
int stopped()
{
    std::printf("interrupted\n");
    return 130;
}

// The exit code: 0 when every criterion passes and both daemons end with 0.
int run(int minutes, std::vector<std::string> const& program)
{
    Daemon daemon(program);
    std::cout << "churn: " << minutes << " minutes, server-sim pid " << daemon.pid() << ", "
              << ::sysconf(_SC_NPROCESSORS_ONLN) << " cores" << std::endl;
    std::vector<Minute> const figures = churn(daemon, minutes);
    if (interrupted)
        return stopped();
    Daemon fresh(program);
    Comparison const c = compare(fresh, daemon);
    if (interrupted)
        return stopped();
    std::printf("controllers served: %ld by the long-running daemon, %ld by the fresh one\n", daemon.served(),
                fresh.served());
    print(c);
    bool const passed = verdict(figures, c);
    int const ended[2] = {daemon.stop(), fresh.stop()};
    for (int i = 0; i < 2; ++i)
        if (ended[i] != 0)
            std::printf("the %s daemon ended with %d\n", i == 0 ? "long-running" : "fresh", ended[i]);
    return passed && ended[0] == 0 && ended[1] == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "--own-network") == 0)
        return ownNetwork(argv + 2);
    int minutes = 30;
    char const* const text = argc > 1 ? argv[1] : "30";
    auto const [end, error] = std::from_chars(text, text + std::strlen(text), minutes);
    if (error != std::errc() || *end != '\0' || minutes < 1) {
        std::cerr << "usage: churn [MINUTES [PROGRAM ARGS...]]" << std::endl;
        return 2;
    }
    std::vector<std::string> program(argv + std::min(argc, 2), argv + argc);
    program.push_back(GW_SERVER_SIM_BINARY);
    struct sigaction stop {};
    stop.sa_handler = onStop;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &stop, nullptr);
    try {
        return run(minutes, program);
    } catch (Failed const& f) {
        std::cerr << "churn: " << f.what << std::endl;
        return 1;
    }
}
