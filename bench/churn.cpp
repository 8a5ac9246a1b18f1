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
// and the daemon's processor time for each (which the machine's other load does not change),
// its open descriptors and the zombies of this process (what the launcher adopted and did not
// reap). At the end a verdict on three criteria: no zombie at any minute; resident memory at
// the end within 3 % of its value at minute 10 (at half the run for runs under 20 minutes);
// controllers served in the last minute within 20 % of the first minute's.

#include "tests/board_client.h"
#include "tests/controller_client.h"
#include "tests/daemon_launcher.h"
#include "tests/process_figures.h"
#include "tests/slot_commands.h"
#include "tests/stub_child.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

[[noreturn]] void fail(std::string const& what)
{
    std::cerr << "churn: " << what << std::endl;
    std::exit(1);
}

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

// The server-sim process: the launched one, or the one in its group when a wrapper was launched.
pid_t daemonProcess(DaemonLauncher const& launcher, bool wrapped)
{
    if (!wrapped)
        return launcher.pid();
    std::error_code gone;
    for (auto const& process : std::filesystem::directory_iterator("/proc", gone)) {
        std::istringstream fields = statFields(process.path().string());
        std::string state;
        pid_t parent = 0, group = 0;
        std::string comm;
        std::ifstream(process.path() / "comm") >> comm;
        if ((fields >> state >> parent >> group) && group == launcher.pid() && comm == "server-sim")
            return pid_t(std::atoi(process.path().filename().c_str()));
    }
    return -1;
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

struct Minute {
    long rssKb;
    long controllers;
    double cpuMs;  // the daemon's, per controller
    long descriptors;
    std::size_t zombies;
};

}  // namespace

int main(int argc, char** argv)
{
    int const minutes = argc > 1 ? std::atoi(argv[1]) : 30;
    if (minutes < 1)
        fail("usage: churn [MINUTES [PROGRAM ARGS...]]");
    bool const wrapped = argc > 2;
    DaemonLauncher launcher(wrapped ? argv[2] : GW_SERVER_SIM_BINARY);
    StubChild relay(launcher.root(), "/usr/local/sbin/t38");
    relay.configure("INSTANCES=4; COUNT=orphan");
    StubChild pppd(launcher.root(), "/usr/local/sbin/pppd");
    std::vector<std::string> args(argv + std::min(argc, 3), argv + argc);
    if (wrapped)
        args.push_back(GW_SERVER_SIM_BINARY);
    args.push_back(launcher.portOption());
    if (!launcher.start(args))
        fail("cannot start the daemon");
    BoardClient board(launcher.root(), 60000);
    if (!board.connected())
        fail("no board console: " + launcher.err());
    pid_t const daemon = daemonProcess(launcher, wrapped);
    if (daemon <= 0)
        fail("no server-sim process");

    std::cout << "churn: " << minutes << " minutes, server-sim pid " << daemon << ", " << std::thread::hardware_concurrency()
              << " cores" << std::endl;
    std::printf("%6s %10s %12s %12s %11s %8s\n", "minute", "VmRSS kB", "controllers", "cpu ms each", "descriptors",
                "zombies");
    std::vector<Minute> figures;
    std::vector<Slot> const made = slots();
    auto const start = Clock::now();
    long served = 0, thisMinute = 0;
    double cpu = cpuSeconds(daemon);
    for (int n = 0; int(figures.size()) < minutes; ++n) {
        for (Failure const& f : failures)
            if (n % f.every == f.at)
                board.command(f.arm);

        std::optional<Controller> c;
        do
            c.emplace();
        while (!c->attach(launcher.port()));
        if (n % 5 == 4) {
            std::vector<std::pair<ZGCP::Command, unsigned>> burst;
            for (Slot const& s : made) {
                burst.emplace_back(createCommand(s.params), s.number);
                for (ZGCP::Command const& t : s.then)
                    burst.emplace_back(t, s.number);
            }
            c->sendAndDrop(burst);
        } else {
            for (Slot const& s : made)
                if (c->call(createCommand(s.params), s.number))
                    for (ZGCP::Command const& t : s.then)
                        c->call(t, s.number);
            c->call(plainCommand(ZGCP::Command::query::id));
            for (auto s = made.rbegin(); s != made.rend(); ++s)
                c->call(destroyCommand(), s->number);
            c->close();
        }
        ++served;
        ++thisMinute;

        for (Failure const& f : failures)
            if (n % f.every == f.at)
                board.command(f.disarm);

        if (Clock::now() - start >= std::chrono::minutes(figures.size() + 1)) {
            double const used = cpuSeconds(daemon);
            Minute const m{statusKb(daemon, "VmRSS"), thisMinute, 1000 * (used - cpu) / double(thisMinute),
                           openDescriptors(daemon), lastingZombies()};
            cpu = used;
            figures.push_back(m);
            std::printf("%6zu %10ld %12ld %12.3f %11ld %8zu\n", figures.size(), m.rssKb, m.controllers, m.cpuMs,
                        m.descriptors, m.zombies);
            std::fflush(stdout);
            thisMinute = 0;
            // The stubs' records are not needed: kept from growing over the run.
            std::error_code none;
            for (std::string const& stub : {relay.path(), pppd.path()})
                for (char const* suffix : {".log", ".fds"})
                    std::filesystem::resize_file(stub + suffix, 0, none);
        }
    }

    std::size_t const reference = std::size_t(minutes >= 20 ? 10 : std::max(1, minutes / 2));
    Minute const& first = figures.front();
    Minute const& ref = figures[reference - 1];
    Minute const& last = figures.back();
    bool noZombie = true;
    for (Minute const& m : figures)
        noZombie = noZombie && m.zombies == 0;
    double const rssChange = 100.0 * double(last.rssKb - ref.rssKb) / double(ref.rssKb);
    double const rateChange = 100.0 * double(last.controllers - first.controllers) / double(first.controllers);
    bool const rssLevel = std::fabs(rssChange) <= 3.0;
    bool const rateLevel = std::fabs(rateChange) <= 20.0;
    std::printf("controllers served: %ld\n", served);
    std::printf("daemon processor time a controller: %.3f ms the first minute, %.3f ms the last\n", first.cpuMs,
                last.cpuMs);
    std::printf("zombies: %s\n", noZombie ? "none at any minute: pass" : "FAIL");
    std::printf("resident memory: %ld kB at minute %zu, %ld kB at the end (%+.1f %%): %s\n", ref.rssKb, reference,
                last.rssKb, rssChange, rssLevel ? "pass" : "FAIL");
    std::printf("controllers a minute: %ld the first, %ld the last (%+.1f %%): %s\n", first.controllers,
                last.controllers, rateChange, rateLevel ? "pass" : "FAIL");
    int const stopped = launcher.stop();
    if (stopped != 0)
        std::printf("the daemon ended with %d\n", stopped);
    return noZombie && rssLevel && rateLevel && stopped == 0 ? 0 : 1;
}
