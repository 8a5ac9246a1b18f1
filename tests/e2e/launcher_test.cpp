// The launcher that the end-to-end tests start server-sim with: what it started ends, and its
// folder goes, however the test process ends; it reports no end it did not see as a clean one.

#include "runtime/child_wait.h"
#include "tests/fuzz_support.h"
#include "tests/loopback.h"
#include "tests/process_figures.h"
#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace {

using testsupport::DaemonLauncher;

// Names how the probe starts its daemon ("foreground", "followed", "unfollowed"), and
// "stubborn" after it when the daemon's relay is to survive SIGTERM.
constexpr char kProbe[] = "GW_LAUNCHER_PROBE";
// The fixed port of the authentication listener, which every server-sim holds.
constexpr int kAuthPort = 52000;

// The pid a board file names; 0 when it names none.
pid_t pidIn(DaemonLauncher const& launcher, std::string const& boardPath)
{
    std::string const text = launcher.readFile(boardPath);
    pid_t pid = 0;
    auto const [at, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
    return error == std::errc() && at == text.data() + text.size() ? pid : 0;
}

// A process the launcher of a test-like process (the probe) started: the probe runs the test
// binary on this fixture alone, with kProbe set, and ends as the test ends it. Its daemon,
// detached or not, runs the T.38 relay (a child program that runs until told to end); it says
// "probe <root> <port> <daemon's pid> <relay's pid>" and waits for the end of its input. What
// runs is left to the launcher's end: no TearDown.
class LauncherProbe : public testsupport::SimDaemonTest {
protected:
    void SetUp() override
    {
        if (std::getenv(kProbe) == nullptr)
            GTEST_SKIP() << "run by Launcher.LeavesNothingHoweverTheTestEnds";
        SimDaemonTest::SetUp();
    }
    void TearDown() override {}
};

TEST_F(LauncherProbe, StartsADaemonAndWaitsForTheEndOfItsInput)
{
    std::istringstream settings(std::getenv(kProbe));
    std::string mode, stubborn;
    settings >> mode >> stubborn;
    pid_t server = daemon.pid();
    if (mode != "foreground") {
        board.reset();
        client.reset();
        ASSERT_EQ(daemon.stop(), 0);
        ASSERT_TRUE(daemon.start({"-D", daemon.portOption()}));
        int foregroundExit = -1;
        if (mode == "followed") {
            ASSERT_TRUE(daemon.follow(foregroundExit));
            server = daemon.pid();
        } else {
            ASSERT_EQ(daemon.wait(), 0);
            ASSERT_TRUE(DaemonLauncher::waitFor([&] { return (server = pidIn(daemon, "/var/run/server.pid")) > 0; }));
        }
        ASSERT_TRUE(attach());
    }
    testsupport::StubChild relay(daemon.root(), "/usr/local/sbin/t38");
    relay.configure(stubborn.empty() ? "INSTANCES=4" : "INSTANCES=4; IGNORE=TERM");
    ASSERT_EQ(resources().get_t38_instances().getValue(), 4);
    ASSERT_EQ(done(50, create(testsupport::t38Params("10.0.0.1", 4000, 5000))), "success");
    int running = 0;
    ASSERT_TRUE(DaemonLauncher::waitFor([&] {
        std::vector<int> const runs = relay.pids();
        running = runs.size() == 2 ? runs[1] : 0;
        return running > 0 && relay.lines(running).size() >= 2;
    }));
    std::printf("probe %s %d %d %d\n", daemon.root().c_str(), daemon.port(), int(server), running);
    std::fflush(stdout);
    char byte;
    for (ssize_t n; (n = ::read(0, &byte, 1)) > 0 || (n < 0 && errno == EINTR);)
        ;
}

// The running processes (zombies left out) whose environment holds the entry.
std::vector<pid_t> holding(std::string const& entry)
{
    std::vector<pid_t> out;
    std::error_code gone;
    for (auto const& process : std::filesystem::directory_iterator("/proc", gone)) {
        pid_t pid = 0;
        std::string const name = process.path().filename().string();
        if (std::from_chars(name.data(), name.data() + name.size(), pid).ec != std::errc())
            continue;
        std::ifstream environ(process.path() / "environ", std::ios::binary);
        for (std::string e; std::getline(environ, e, '\0');)
            if (e == entry) {
                out.push_back(pid);
                break;
            }
    }
    return out;
}

// Whether the TCP port of the loopback is free (connections that linger aside).
bool portFree(int port)
{
    Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int const on = 1;
    ::setsockopt(s.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = testsupport::loopbackAddress(static_cast<unsigned short>(port));
    return ::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

// A network of the test's own (its loopback alone) while it lives, for the thread that makes
// it and the processes it starts: there the fixed authentication port is the probe's daemon's,
// whatever other tests run meanwhile.
class OwnNetwork {
public:
    OwnNetwork()
        : saved_(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)),
          made_(saved_.lowlevel_fd() >= 0 && testsupport::privateNetwork("Launcher"))
    {
    }
    ~OwnNetwork()
    {
        if (made_)
            ::setns(saved_.lowlevel_fd(), CLONE_NEWNET);
    }
    OwnNetwork(OwnNetwork const&) = delete;
    OwnNetwork& operator=(OwnNetwork const&) = delete;

    bool made() const { return made_; }

private:
    Fd saved_;
    bool made_;
};

// The probe, started in a group of its own (a terminal's foreground group), its input and
// output pipes held by the test; the report it gave, and what it wrote before.
struct Probe {
    pid_t pid = -1;
    Fd input;
    Fd output;
    std::string said;
    std::string root;
    int port = 0;
    pid_t server = 0;
    pid_t relay = 0;

    explicit Probe(std::string const& settings)
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        input = Fd(in[1]);
        output = Fd(out[0]);
        std::vector<std::string> environment{std::string(kProbe) + "=" + settings};
        for (char** e = environ; *e != nullptr; ++e)
            environment.emplace_back(*e);
        std::vector<char*> envp;
        for (std::string& e : environment)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        char const* const argv[] = {"e2e_tests", "--gtest_filter=LauncherProbe.*", nullptr};
        pid = ::fork();
        if (pid > 0)
            ::setpgid(pid, pid);
        if (pid == 0) {
            ::setpgid(0, 0);
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::execve("/proc/self/exe", const_cast<char* const*>(argv), envp.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        std::string line;
        while (readLine(line) && line.rfind("probe ", 0) != 0)
            said += line + "\n";
        if (line.rfind("probe ", 0) == 0)
            std::istringstream(line.substr(line.find(' ') + 1)) >> root >> port >> server >> relay;
    }

    // The next line it writes, within a bound that only a hang reaches.
    bool readLine(std::string& line)
    {
        line.clear();
        pollfd out{output.lowlevel_fd(), POLLIN, 0};
        char c = 0;
        while (::poll(&out, 1, 3 * DaemonLauncher::kTimeout) == 1 && ::read(out.fd, &c, 1) == 1 && c != '\n')
            line += c;
        return c == '\n';
    }

    // Its status once it has ended (what it wrote meanwhile passed over).
    int end()
    {
        for (std::string line; readLine(line);)
            ;
        int status = -1;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR)
            ;
        return status;
    }
};

// A test-like process starts server-sim through the launcher, in the foreground or detached
// (followed or not), the daemon runs its T.38 relay, and the process is ended: by Ctrl-C (to
// its group), SIGTERM, SIGKILL, or it returns. Then nothing it started runs (no process with
// its root in the environment, nothing of it left to the test, which is their subreaper here),
// its folder is gone and the ports are free. A relay that outlived its daemon (killed) and
// survives SIGTERM is killed.
TEST(Launcher, LeavesNothingHoweverTheTestEnds)
{
    OwnNetwork network;
    if (!network.made())
        std::fprintf(stderr, "no network of its own here: the ports are not checked\n");
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    struct Row {
        char const* how;
        char const* mode;
        int signal;  // 0: it returns
        // The daemon is killed first, leaving its relay, which survives SIGTERM.
        bool relayLeft;
    } const rows[] = {
        {"foreground, Ctrl-C", "foreground", SIGINT, false},
        {"foreground, returns", "foreground", 0, false},
        {"detached and followed, Ctrl-C", "followed", SIGINT, false},
        {"detached and followed, SIGTERM", "followed", SIGTERM, false},
        {"detached and followed, returns, its relay left", "followed", 0, true},
        {"detached and never followed, SIGKILL, its relay left", "unfollowed", SIGKILL, true},
        {"detached and never followed, returns", "unfollowed", 0, false},
    };
    for (Row const& row : rows) {
        SCOPED_TRACE(row.how);
        Probe probe(std::string(row.mode) + (row.relayLeft ? " stubborn" : ""));
        ASSERT_GT(probe.relay, 0) << "the probe did not start:\n" << probe.said;
        std::string const entry = "GW_ROOT=" + probe.root;
        // The folder of the probe's launchers, which holds the root.
        std::string const folder = probe.root.substr(0, probe.root.find('/', sizeof "/tmp"));
        ASSERT_EQ(folder.rfind("/tmp/gw-e2e-", 0), 0u) << folder;
        std::vector<pid_t> const started = holding(entry);
        for (pid_t pid : {probe.server, probe.relay})
            EXPECT_NE(std::find(started.begin(), started.end(), pid), started.end()) << pid;
        EXPECT_TRUE(!network.made() || (!portFree(probe.port) && !portFree(kAuthPort)));

        if (row.relayLeft)
            ::kill(probe.server, SIGKILL);
        if (row.signal == SIGINT)
            ::kill(-probe.pid, SIGINT);
        else if (row.signal != 0)
            ::kill(probe.pid, row.signal);
        else
            probe.input = Fd();
        int const status = probe.end();
        if (row.signal != 0)
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal) << status;
        else
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

        auto const childless = [] {
            pid_t ended;
            while ((ended = ::waitpid(-1, nullptr, WNOHANG | __WALL)) > 0)
                ;
            return ended < 0 && errno == ECHILD;
        };
        EXPECT_TRUE(DaemonLauncher::waitFor(childless, 60000))
            << testsupport::childCount(::getpid()) << " processes left";
        EXPECT_TRUE(holding(entry).empty());
        EXPECT_FALSE(std::filesystem::exists(folder)) << folder;
        EXPECT_TRUE(!network.made() || (portFree(probe.port) && portFree(kAuthPort)));
    }
}

// The launcher reports how its process ended only when it saw it: a status that another waiter
// of the test took (here the in-process child reaping, which waits for any child at every
// SIGCHLD) reads as unknown, never as a clean end. The leader's end races the two (the
// launcher sees it now and then); a detached daemon that ends before it is followed is seen
// by the child reaping alone.
TEST(Launcher, ReadsNoEndItDidNotSeeAsClean)
{
    struct ChildReaping {
        ChildReaping() { ChildWait::Activate(); }
        ~ChildReaping() { ChildWaitService::childWaitService->Deactivate(); }
    } const reaping;
    struct Row {
        char const* how;
        char const* binary;
        std::vector<std::string> args;  // none: detached, killed before it is followed
        int end;                        // what the launcher reads if it sees the end
    } const rows[] = {
        {"exits 3", "/bin/sh", {"-c", "exit 3"}, 3},
        {"crashes", "/bin/sh", {"-c", "kill -SEGV $$"}, 128 + SIGSEGV},
        {"detached, ended before it is followed", GW_SERVER_SIM_BINARY, {}, DaemonLauncher::kUnknownStatus},
    };
    static_assert(DaemonLauncher::kUnknownStatus != 0, "an unknown end is no clean one");
    for (Row const& row : rows) {
        SCOPED_TRACE(row.how);
        DaemonLauncher launcher(row.binary);
        if (!row.args.empty()) {
            int const end = launcher.run(row.args);
            EXPECT_TRUE(end == row.end || end == DaemonLauncher::kUnknownStatus) << end;
            continue;
        }
        ASSERT_TRUE(launcher.start({"-D", launcher.portOption()}));
        pid_t server = 0;
        ASSERT_TRUE(DaemonLauncher::waitFor([&] { return (server = pidIn(launcher, "/var/run/server.pid")) > 0; }));
        ASSERT_EQ(::kill(server, SIGKILL), 0);
        EXPECT_TRUE(DaemonLauncher::waitFor([&] { return ::kill(server, 0) != 0; })) << "not reaped";
        int foregroundExit = -1;
        ASSERT_TRUE(launcher.follow(foregroundExit));
        EXPECT_EQ(launcher.wait(), row.end);
    }
}

}  // namespace
