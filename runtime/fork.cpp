#include "runtime/fork.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace Process {

namespace {

// Every caught signal back to its default action (async-signal-safe: the child of a fork).
void defaultCaughtSignals()
{
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction sa;
        if (::sigaction(sig, nullptr, &sa) != 0 || sa.sa_handler == SIG_DFL || sa.sa_handler == SIG_IGN)
            continue;
        sa.sa_handler = SIG_DFL;
        sa.sa_flags = 0;
        ::sigemptyset(&sa.sa_mask);
        ::sigaction(sig, &sa, nullptr);
    }
}

}  // namespace

pid_t Fork(ForkFor what)
{
    sigset_t all, saved;
    ::sigfillset(&all);
    ::sigprocmask(SIG_SETMASK, &all, &saved);
    pid_t const pid = ::fork();
    int const error = errno;
    if (pid == 0 && what == ForkFor::program) {
        defaultCaughtSignals();
        ::sigemptyset(&saved);
    }
    ::sigprocmask(SIG_SETMASK, &saved, nullptr);
    errno = error;
    return pid;
}

}  // namespace Process
