#include "runtime/child_wait.h"

#include "runtime/multiplexer.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <iostream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::CaptureStream;
using testsupport::runUntil;

constexpr int kTimeout = 20000;

ChildWaitService& service() { return *ChildWaitService::childWaitService; }

// Activates reaping for one test and leaves SIGCHLD as it was found.
class ChildWaitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ChildWait::Activate();
        ASSERT_TRUE(service().IsActive());
    }
    void TearDown() override { service().Deactivate(); }
};

// Forks a child that waits until the parent closes the pipe's write end, then exits with
// code.
pid_t childExitingWhenClosed(int const pipe[2], int code)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipe[1]);
        char c;
        while (::read(pipe[0], &c, 1) > 0) {
        }
        ::_exit(code);
    }
    return pid;
}

pid_t childExiting(int code)
{
    pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(code);
    return pid;
}

// No child of this process is left, ended or running.
bool noChildLeft()
{
    int status;
    return ::waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

// Waits without running the loop.
bool sleepUntil(std::function<bool()> const& done)
{
    for (int i = 0; i < kTimeout; ++i) {
        if (done())
            return true;
        ::usleep(1000);
    }
    return done();
}

// Whether the process is gone (reaped).
bool reaped(pid_t pid) { return ::kill(pid, 0) < 0 && errno == ESRCH; }

struct Owner {
    struct Call {
        int who;
        int status;
    };
    std::vector<Call> calls;
    void first(int status) { calls.push_back({1, status}); }
    void second(int status) { calls.push_back({2, status}); }
    void third(int status) { calls.push_back({3, status}); }
};

TEST_F(ChildWaitTest, ThreeChildrenEndingTogetherGiveThreeRecordsLinesAndCalls)
{
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    pid_t pids[3];
    for (int i = 0; i < 3; ++i)
        pids[i] = childExitingWhenClosed(p, 10 + i);
    ::close(p[0]);

    Owner owner;
    ChildWait waits[3];
    waits[0].Bind(&owner, &Owner::first);
    waits[1].Bind(&owner, &Owner::second);
    waits[2].Bind(&owner, &Owner::third);
    for (int i = 0; i < 3; ++i)
        waits[i].Attach(pids[i]);

    CaptureStream log(std::clog);
    ::close(p[1]);  // all three end at once
    ASSERT_TRUE(runUntil([&] { return owner.calls.size() >= 3; }, kTimeout));
    testsupport::settle();

    ASSERT_EQ(owner.calls.size(), 3u);
    std::map<int, int> byWho;
    for (Owner::Call const& c : owner.calls)
        byWho[c.who] = c.status;
    ASSERT_EQ(byWho.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(WIFEXITED(byWho[i + 1]));
        EXPECT_EQ(WEXITSTATUS(byWho[i + 1]), 10 + i);
        EXPECT_FALSE(waits[i].attached());
        std::string const line = "terminate child process, pid=" + std::to_string(pids[i]) +
                                 " status=" + std::to_string(byWho[i + 1]) + "\n";
        EXPECT_EQ(log.count(line), 1u) << log.text();
    }
    EXPECT_EQ(log.count("terminate child process"), 3u);
    EXPECT_EQ(service().waiting(), 0u);
    EXPECT_TRUE(noChildLeft());
}

TEST_F(ChildWaitTest, AChildThatEndsBeforeAttachIsStillDelivered)
{
    Owner owner;
    ChildWait wait;
    wait.Bind(&owner, &Owner::first);
    pid_t pid = childExiting(7);
    // Reaped by the signal handler while the loop does not run.
    ASSERT_TRUE(sleepUntil([&] { return reaped(pid); }));
    CaptureStream log(std::clog);
    wait.Attach(pid);
    ASSERT_TRUE(runUntil([&] { return !owner.calls.empty(); }, kTimeout));
    ASSERT_EQ(owner.calls.size(), 1u);
    EXPECT_EQ(WEXITSTATUS(owner.calls[0].status), 7);
    EXPECT_TRUE(noChildLeft());
}

TEST_F(ChildWaitTest, AHandlerMayWaitForANewChildWithTheSameChildWait)
{
    struct Restarter {
        ChildWait wait;
        std::vector<int> codes;
        void onExit(int status)
        {
            codes.push_back(WEXITSTATUS(status));
            if (codes.size() == 1)
                wait.Attach(childExiting(2));
        }
    } r;
    r.wait.Bind(&r, &Restarter::onExit);
    r.wait.Attach(childExiting(1));
    ASSERT_TRUE(runUntil([&] { return r.codes.size() >= 2; }, kTimeout));
    EXPECT_EQ(r.codes, (std::vector<int>{1, 2}));
    EXPECT_FALSE(r.wait.attached());
    EXPECT_TRUE(noChildLeft());
}

TEST_F(ChildWaitTest, UnboundDetachedAndUnwatchedExitsOnlyLog)
{
    Owner owner;
    ChildWait unbound;  // the dummy handler takes the record
    ChildWait detached;
    detached.Bind(&owner, &Owner::first);
    pid_t a = childExiting(3);
    pid_t b = childExiting(4);
    pid_t c = childExiting(5);  // nobody waits for it
    unbound.Attach(a);
    detached.Attach(b);
    detached.Detach();
    detached.Detach();  // twice changes nothing

    CaptureStream log(std::clog);
    ASSERT_TRUE(runUntil([&] { return log.count("terminate child process") >= 3; }, kTimeout));
    for (pid_t p : {a, b, c})
        EXPECT_EQ(log.count("pid=" + std::to_string(p) + " "), 1u) << log.text();
    EXPECT_TRUE(owner.calls.empty());
    EXPECT_FALSE(unbound.attached());
    EXPECT_EQ(service().waiting(), 0u);
    EXPECT_TRUE(noChildLeft());
}

TEST_F(ChildWaitTest, OfTwoWaitersOnOnePidTheEarlierGetsTheExit)
{
    Owner owner;
    ChildWait earlier, later, other;
    earlier.Bind(&owner, &Owner::first);
    later.Bind(&owner, &Owner::second);
    other.Bind(&owner, &Owner::third);
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    pid_t pid = childExitingWhenClosed(p, 0);
    pid_t pid2 = childExitingWhenClosed(p, 0);
    ::close(p[0]);
    earlier.Attach(pid);
    later.Attach(pid);
    other.Attach(pid2);
    other.Attach(pid2);  // attached again: moved, never twice in the list
    EXPECT_EQ(service().waiting(), 3u);
    ::close(p[1]);
    ASSERT_TRUE(runUntil([&] { return owner.calls.size() >= 2; }, kTimeout));
    testsupport::settle();
    ASSERT_EQ(owner.calls.size(), 2u);
    EXPECT_TRUE(later.attached());
    EXPECT_FALSE(earlier.attached());
    EXPECT_FALSE(other.attached());
    {
        ChildWait destroyed;
        destroyed.Attach(12345678);
        EXPECT_EQ(service().waiting(), 2u);
    }
    EXPECT_EQ(service().waiting(), 1u);  // a waiter destroyed while attached leaves the list
    later.Detach();
    EXPECT_EQ(service().waiting(), 0u);
}

// More children ending at once than the socket pair and the ring can hold: the handler
// leaves the rest unreaped, and the loop reaps them once it has made room.
TEST_F(ChildWaitTest, NoExitIsLostWhenTheSocketAndTheRingAreFull)
{
    int const smallest = 1;
    ASSERT_EQ(::setsockopt(service().writeEnd(), SOL_SOCKET, SO_SNDBUF, &smallest, sizeof smallest), 0);
    constexpr int kChildren = 100;

    sigset_t chld, saved;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    ASSERT_EQ(::sigprocmask(SIG_BLOCK, &chld, &saved), 0);
    Owner owner;
    std::vector<std::unique_ptr<ChildWait>> waits;
    std::map<pid_t, int> codes;
    for (int i = 0; i < kChildren; ++i) {
        pid_t pid = childExiting(i);
        codes[pid] = i;
        waits.push_back(std::make_unique<ChildWait>());
        waits.back()->Bind(&owner, &Owner::first);
        waits.back()->Attach(pid);
    }
    for (auto const& c : codes) {  // every one has ended
        siginfo_t info;
        ASSERT_EQ(::waitid(P_PID, id_t(c.first), &info, WEXITED | WNOWAIT), 0);
    }
    errno = EDOM;
    ASSERT_EQ(::sigprocmask(SIG_SETMASK, &saved, nullptr), 0);  // the handler runs here
    EXPECT_EQ(errno, EDOM);

    siginfo_t info = {};
    ASSERT_EQ(::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT), 0);
    EXPECT_NE(info.si_pid, 0) << "the handler should have stopped reaping for want of room";

    CaptureStream log(std::clog);
    ASSERT_TRUE(runUntil([&] { return owner.calls.size() >= std::size_t(kChildren); }, kTimeout));
    testsupport::settle();
    EXPECT_EQ(owner.calls.size(), std::size_t(kChildren));
    EXPECT_EQ(log.count("terminate child process"), std::size_t(kChildren));
    for (auto const& c : codes)
        EXPECT_EQ(log.count("pid=" + std::to_string(c.first) + " status=" + std::to_string(c.second << 8) + "\n"), 1u);
    EXPECT_EQ(service().waiting(), 0u);
    EXPECT_TRUE(noChildLeft());
}

TEST_F(ChildWaitTest, TheHandlerRestartsCallsNeverBlocksAndGoesBeforeTheService)
{
    struct sigaction sa;
    ::sigaction(SIGCHLD, nullptr, &sa);
    EXPECT_EQ(sa.sa_sigaction, &ChildWaitService::SigChldHandlerWrapper);
    EXPECT_TRUE(sa.sa_flags & SA_RESTART);
    EXPECT_TRUE(::fcntl(service().writeEnd(), F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(::fcntl(service().writeEnd(), F_GETFD) & FD_CLOEXEC);

    service().Deactivate();
    ::sigaction(SIGCHLD, nullptr, &sa);
    EXPECT_EQ(sa.sa_handler, SIG_DFL);
    EXPECT_EQ(service().writeEnd(), -1);
    EXPECT_FALSE(service().IsActive());
}

}  // namespace
