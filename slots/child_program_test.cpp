#include "slots/child_program.h"

#include "board/path.h"
#include "runtime/ipc_signal.h"
#include "tests/stub_child.h"
#include "tests/temp_root.h"

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <csignal>

namespace {

void keepGoing(int) {}

// The daemon handles the signals it ends its children with; a child told to end before its
// program runs (here in the wait before the exec) ends by the signal and never runs it.
TEST(ChildProgram, ASignalBeforeTheExecEndsTheChildAsTheProgramWould)
{
    testsupport::TempRoot root;
    testsupport::StubChild stub(root.dir(), "/usr/local/sbin/program");
    stub.configure("RUN=0");
    for (int sig : {SIGHUP, SIGTERM}) {
        SCOPED_TRACE(sig);
        IPC::Signal::handle(sig, keepGoing, SA_RESTART);
        ChildProgram child;
        child.program = "/usr/local/sbin/program";
        child.args = {"program"};
        child.delay = 5;
        int const pid = StartChildProgram(child);
        ASSERT_GT(pid, 0);
        ::kill(pid, sig);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        EXPECT_TRUE(stub.pids().empty());
        IPC::Signal::system(sig);
    }
}

}  // namespace
