#include "runtime/ipc_signal.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

volatile std::sig_atomic_t infoSigno = 0;
volatile std::sig_atomic_t plainSeen = 0;

void withInfo(int, siginfo_t* info, void*) { infoSigno = info ? info->si_signo : -1; }
void plain(int sig) { plainSeen = sig; }

int flagsOf(int sig)
{
    struct sigaction sa;
    sigaction(sig, nullptr, &sa);
    return sa.sa_flags;
}

TEST(IpcSignal, ThreeArgumentHandlersGetTheirInformation)
{
    ASSERT_EQ(IPC::Signal::handle(SIGUSR1, withInfo, SA_RESTART), 0);
    EXPECT_TRUE(flagsOf(SIGUSR1) & SA_SIGINFO);
    EXPECT_TRUE(flagsOf(SIGUSR1) & SA_RESTART);
    raise(SIGUSR1);
    EXPECT_EQ(infoSigno, SIGUSR1);
    IPC::Signal::system(SIGUSR1);
}

TEST(IpcSignal, OneArgumentHandlersAndTheirMask)
{
    ASSERT_EQ(IPC::Signal::handle(SIGUSR2, plain, IPC::Signal::Set(SIGINT, SIGTERM), SA_SIGINFO), 0);
    struct sigaction sa;
    sigaction(SIGUSR2, nullptr, &sa);
    EXPECT_FALSE(sa.sa_flags & SA_SIGINFO);
    EXPECT_EQ(sigismember(&sa.sa_mask, SIGINT), 1);
    EXPECT_EQ(sigismember(&sa.sa_mask, SIGTERM), 1);
    raise(SIGUSR2);
    EXPECT_EQ(plainSeen, SIGUSR2);

    EXPECT_EQ(IPC::Signal::disable_int(SIGUSR2), 0);
    EXPECT_TRUE(flagsOf(SIGUSR2) & SA_RESTART);
    EXPECT_EQ(IPC::Signal::enable_int(SIGUSR2), 0);
    EXPECT_FALSE(flagsOf(SIGUSR2) & SA_RESTART);

    IPC::Signal::ignore(SIGUSR2);
    sigaction(SIGUSR2, nullptr, &sa);
    EXPECT_EQ(sa.sa_handler, SIG_IGN);
    IPC::Signal::system(SIGUSR2);
    sigaction(SIGUSR2, nullptr, &sa);
    EXPECT_EQ(sa.sa_handler, SIG_DFL);
}

TEST(IpcSignal, SetsAndSignalNumbers)
{
    IPC::Signal::Set s(SIGHUP, SIGCHLD, SIGPIPE);
    sigset_t out;
    s.copy_to(out);
    EXPECT_EQ(sigismember(&out, SIGCHLD), 1);
    EXPECT_EQ(sigismember(&out, SIGUSR1), 0);
    EXPECT_TRUE(IPC::Signal::Set::is_signal(SIGTERM));
    EXPECT_FALSE(IPC::Signal::Set::is_signal(0));
    EXPECT_FALSE(IPC::Signal::Set::is_signal(100000));
}

}  // namespace
