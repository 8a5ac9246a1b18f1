#include "slots/child_program.h"

#include "runtime/ipc_signal.h"
#include "tests/daemon_launcher.h"

#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <csignal>

namespace {

volatile std::sig_atomic_t caught = 0;
void onSignal(int sig) { caught = sig; }  // as the daemon's handlers do

// A signal the daemon handles (its handlers only set a flag), sent to a child program before
// the program runs, ends the child as it would end the program: a slot destroyed at once must
// not leave its program running.
TEST(ChildProgram, ASignalBeforeTheExecEndsTheChild)
{
    for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGUSR2}) {
        IPC::Signal::handle(sig, onSignal, 0);
        ChildProgram child;
        child.program = "/nonexistent/program";
        child.args = {"program"};
        child.failCode = 3;
        child.delay = 600;  // the window before the exec, long enough for the signal to land in it
        int const pid = StartChildProgram(child);
        ASSERT_GT(pid, 0);
        ::kill(pid, sig);
        int status = 0;
        bool const ended = testsupport::DaemonLauncher::waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; });
        if (!ended) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "signal " << sig << ", status " << status;
        IPC::Signal::system(sig);
    }
}

}  // namespace
