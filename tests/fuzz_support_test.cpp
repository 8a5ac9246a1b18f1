#include "tests/fuzz_support.h"

#include "tests/loop_pump.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

bool exists(std::string const& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// How the process that makes a board root goes on, and ends.
struct Row {
    char const* how;
    int signal;
    // An interrupt ends it as the fuzzing engine's handler does: _Exit, no exit handlers.
    bool engineHandler;
    // It forks a process that lives until the test lets it go.
    bool heir;
    // It runs a process in a namespace of processes of its own (which ends with it), and that
    // one makes a board root too, as a worker of -jobs does.
    bool ownProcesses;
};

// The process, and what it said right after making its root: the root; whether it was alone
// (no child process of its own, and a socket's peer that it closed shows the hang-up: no
// other process holds its descriptors); the root made in its namespace of processes, if any
// ("-" when it may not make one).
struct Owner {
    pid_t pid = -1;
    std::string root;
    std::string alone;
    std::string inner;
};

void engineInterrupt(int) { std::_Exit(0); }

[[noreturn]] void waitToEnd()
{
    for (;;)
        ::pause();
}

// The caller keeps the write end of hold, which the heir waits for.
Owner startOwner(Row const& row, int const hold[2])
{
    int report[2];
    if (::pipe(report) != 0)
        return {};
    Owner owner;
    owner.pid = ::fork();
    if (owner.pid == 0) {
        ::close(report[0]);
        // A group of its own, which the signal goes to, as a terminal's does to its foreground
        // group (but the heir, whose group the owner alone leaves).
        ::setpgid(0, 0);
        if (row.engineHandler)
            ::signal(SIGINT, engineInterrupt);
        int pair[2];
        ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair);
        std::string line = testsupport::boardRoot("fuzz_support_test", {"/var/run"});
        ::close(pair[1]);
        pollfd end{pair[0], POLLIN, 0};
        bool const hungUp = ::poll(&end, 1, 0) == 1 && (end.revents & POLLHUP) != 0;
        siginfo_t info{};
        bool const childless = ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 && errno == ECHILD;
        line += hungUp && childless ? " alone" : " held";
        if (row.heir && ::close(hold[1]) == 0 && ::fork() == 0) {
            char byte;
            while (::read(hold[0], &byte, 1) < 0 && errno == EINTR)
                ;
            ::_exit(0);
        }
        if (row.ownProcesses && ::unshare(CLONE_NEWPID) != 0)
            line += " -";
        else if (row.ownProcesses && ::fork() == 0) {
            // The namespace's first process, which ends with the owner, and the others with it.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::fork() != 0)
                waitToEnd();
            line += " " + testsupport::boardRoot("fuzz_support_test");
        } else if (row.ownProcesses)
            waitToEnd();
        line += "\n";
        if (::write(report[1], line.data(), line.size()) != ssize_t(line.size()))
            ::_exit(1);
        waitToEnd();
    }
    ::close(report[1]);
    std::string line;
    char c = 0;
    while (owner.pid > 0 && c != '\n' && ::read(report[0], &c, 1) == 1)
        line += c;
    ::close(report[0]);
    std::istringstream(line) >> owner.root >> owner.alone >> owner.inner;
    return owner;
}

// The roots are gone once the process that made them has ended, however it ended, and every
// process it forked has ended too.
TEST(BoardRoot, IsGoneHoweverItsProcessesEnd)
{
    Row const rows[] = {
        {"an interrupt, which the engine's handler ends with _Exit", SIGINT, true, false, false},
        {"a signal that no handler sees (a crash the engine cannot report)", SIGKILL, false, false, false},
        {"killed while a process it forked lives on", SIGKILL, false, true, false},
        {"killed, with a namespace of processes of its own", SIGKILL, false, false, true},
    };
    for (Row const& row : rows) {
        SCOPED_TRACE(row.how);
        int hold[2] = {-1, -1};
        ASSERT_TRUE(!row.heir || ::pipe2(hold, O_CLOEXEC) == 0);
        Owner const owner = startOwner(row, hold);
        if (row.heir)
            ::close(hold[0]);
        ASSERT_GT(owner.pid, 0);
        EXPECT_EQ(owner.root.rfind("/tmp/gw-fuzz-", 0), 0u) << owner.root;
        EXPECT_TRUE(exists(owner.root + "/var/run")) << owner.root;
        EXPECT_EQ(owner.alone, "alone");
        if (row.ownProcesses && owner.inner == "-") {
            std::fprintf(stderr, "no namespace of processes may be made here: %s is not checked\n", row.how);
        } else if (row.ownProcesses) {
            EXPECT_TRUE(exists(owner.inner)) << owner.inner;
        }
        ::kill(row.heir ? owner.pid : -owner.pid, row.signal);
        int status = 0;
        ASSERT_EQ(::waitpid(owner.pid, &status, 0), owner.pid);
        EXPECT_EQ(WIFSIGNALED(status), !row.engineHandler);
        if (row.heir) {
            EXPECT_TRUE(exists(owner.root)) << "removed while a process it forked lives";
            ::close(hold[1]);
        }
        for (std::string const& root : {owner.root, owner.inner})
            EXPECT_TRUE(root.size() < 2 || testsupport::runUntil([&] { return !exists(root); }, 60000))
                << root << " is left";
    }
}

}  // namespace
