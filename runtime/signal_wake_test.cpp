#include "runtime/signal_wake.h"

#include "runtime/ipc_signal.h"
#include "runtime/multiplexer.h"
#include "tests/loop_pump.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

namespace {

volatile std::sig_atomic_t seen = 0;

void onUsr1(int, siginfo_t*, void*)
{
    seen = 1;
    SignalWake::wake();
}

// A signal that arrives before the loop waits must not leave it waiting: with nothing
// else to wait for, poll returns at once with the wake-up ready.
TEST(SignalWake, ASignalBeforeThePollWakesTheLoop)
{
    SignalWake wake;
    ASSERT_TRUE(wake.IsActive());
    IPC::Signal::handle(SIGUSR1, onUsr1, SA_RESTART);
    testsupport::settle();

    ::raise(SIGUSR1);
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(multiplexer.runOnce(60000), 1);
    // Drained: the next turn has nothing ready.
    EXPECT_EQ(multiplexer.runOnce(0), 0);
    IPC::Signal::system(SIGUSR1);
}

TEST(SignalWake, AFullPipeLosesNothingAndKeepsErrno)
{
    SignalWake wake;
    testsupport::settle();
    for (int i = 0; i < 100000; ++i)  // far more than the socket holds
        SignalWake::wake();
    errno = EDOM;
    SignalWake::wake();
    EXPECT_EQ(errno, EDOM);
    EXPECT_EQ(multiplexer.runOnce(60000), 1);
    EXPECT_EQ(multiplexer.runOnce(0), 0);
}

TEST(SignalWake, WithoutOneWakeDoesNothing)
{
    {
        SignalWake gone;
    }
    errno = EDOM;
    SignalWake::wake();
    EXPECT_EQ(errno, EDOM);
}

}  // namespace
