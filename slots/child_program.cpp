#include "slots/child_program.h"

#include "board/path.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

// Writes a line on the standard output from the child (no stream buffers there).
void say(char const* text)
{
    if (text == nullptr)
        return;
    ssize_t ignored = ::write(1, text, std::strlen(text));
    ignored = ::write(1, "\n", 1);
    (void)ignored;
}

// In the child: every signal the daemon handles goes back to its default (ignored ones stay
// ignored, as across an exec).
void defaultHandlers()
{
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction action {};
        if (::sigaction(sig, nullptr, &action) != 0 || action.sa_handler == SIG_IGN || action.sa_handler == SIG_DFL)
            continue;
        action = {};
        action.sa_handler = SIG_DFL;
        ::sigaction(sig, &action, nullptr);
    }
}

}  // namespace

int StartChildProgram(ChildProgram const& child, Fd* execReport)
{
    std::string const path = board::path(child.program);
    std::vector<char*> argv;
    argv.reserve(child.args.size() + 1);
    for (std::string const& a : child.args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // A close-on-exec pipe: the exec closes its write end, a failed exec writes into it.
    int report[2] = {-1, -1};
    if (execReport != nullptr && ::pipe2(report, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;

    // Every signal waits across the fork, until the child has let go of the daemon's
    // handlers: one sent before the exec then ends the child as it would end the program.
    sigset_t all;
    sigset_t mask;
    ::sigfillset(&all);
    ::sigprocmask(SIG_SETMASK, &all, &mask);
    pid_t const pid = ::fork();
    if (pid != 0) {
        int const saved = errno;
        ::sigprocmask(SIG_SETMASK, &mask, nullptr);
        if (report[1] >= 0)
            ::close(report[1]);
        if (execReport != nullptr && pid < 0)
            ::close(report[0]);
        else if (execReport != nullptr)
            *execReport = Fd(report[0]);
        errno = saved;
        return pid;
    }
    // The child: only calls that are safe after a fork.
    if (child.input == 0)
        SetCloexec(0, false);
    else if (child.input > 0)
        ::dup2(child.input, 0);
    defaultHandlers();
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    timespec wait{time_t(child.delay), 0};
    ::nanosleep(&wait, nullptr);
    say(child.banner);
    ::execv(path.c_str(), argv.data());
    int const error = errno;
    say(child.failText);
    if (report[1] >= 0) {
        ssize_t ignored = ::write(report[1], &error, sizeof error);
        (void)ignored;
    }
    ::_exit(child.failCode);
}

int StartChildProgram(char const* program, std::vector<std::string> const& args, int input, int failCode)
{
    ChildProgram child;
    child.program = program;
    child.args = args;
    child.input = input;
    child.failCode = failCode;
    return StartChildProgram(child);
}

bool ExecFailed(Fd& execReport)
{
    int error = 0;
    bool const failed = execReport && ::read(execReport.lowlevel_fd(), &error, sizeof error) > 0;
    execReport.close();
    return failed;
}
