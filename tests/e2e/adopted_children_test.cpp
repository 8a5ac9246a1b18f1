// What the daemon's child programs leave behind on the simulated board: the test process is a
// child subreaper (it follows a daemon that detaches), so it adopts every process a child
// program leaves running or unreaped, and no zombie of them may stay with it.

#include "tests/process_figures.h"
#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using testsupport::DaemonLauncher;
using testsupport::StubChild;

class AdoptedChildren : public testsupport::SimDaemonTest {
protected:
    // The daemon started again detached (-D) and followed to its new session.
    void detach()
    {
        board.reset();
        client.reset();
        ASSERT_EQ(daemon.stop(), 0);
        ASSERT_TRUE(daemon.start({"-D", daemon.portOption()}));
        int foregroundExit = -1;
        ASSERT_TRUE(daemon.follow(foregroundExit));
        ASSERT_EQ(foregroundExit, 0);
        ASSERT_TRUE(attach());
        board.emplace(daemon.root());
    }
};

// Each row runs a child program that leaves a process of its own behind: the relay's instance
// count its sleep, still running when the count has ended; pppd, hung up, its sleep killed but
// not waited for. Once the program and what it left have ended, the daemon is the only child
// of the test, in the foreground or detached.
TEST_F(AdoptedChildren, WhatAChildProgramLeavesBehindIsReaped)
{
    StubChild relay(daemon.root(), "/usr/local/sbin/t38");
    relay.configure("INSTANCES=4; COUNT=orphan");
    StubChild pppd(daemon.root(), "/usr/local/sbin/pppd");
    trunkSlot7();

    auto count = [&] {
        EXPECT_EQ(resources().get_t38_instances().getValue(), 4);
        return relay.pids().back();
    };
    auto hangUp = [&] {
        EXPECT_EQ(done(20, create(testsupport::modemCreate(testsupport::modemParams("123")))), "success");
        EXPECT_EQ(done(20, connect(7)), "success");
        EXPECT_TRUE(DaemonLauncher::waitFor([&] { return !pppd.pids().empty(); }));
        EXPECT_EQ(done(20, testsupport::destroyCommand()), "success");
        int const pid = pppd.pids().back();
        EXPECT_TRUE(DaemonLauncher::waitFor([&] { return pppd.recorded(pid, "signal HUP"); }));
        return pid;
    };
    struct Row {
        char const* name;
        bool detached;
        std::function<int()> run;  // the run of the program, by its pid
    } const rows[] = {
        {"relay count", false, count},
        {"pppd hung up", false, hangUp},
        {"relay count, detached", true, count},
    };
    for (Row const& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.detached)
            detach();
        int const pid = row.run();
        // The daemon has reaped the program: what it left is the test's.
        EXPECT_TRUE(DaemonLauncher::waitFor([&] { return ::kill(pid, 0) != 0; }));
        EXPECT_TRUE(DaemonLauncher::waitFor([&] { return testsupport::childCount(::getpid()) == 1; }))
            << testsupport::childCount(::getpid()) << " children";
        EXPECT_TRUE(pinged());
    }
}

}  // namespace
