#include "runtime/ipc_signal.h"

#include <cstring>

namespace IPC {
namespace Signal {

namespace {

int install(int sig, struct sigaction& sa, Set const& mask, int flags)
{
    mask.copy_to(sa.sa_mask);
    sa.sa_flags |= flags;
    return ::sigaction(sig, &sa, nullptr);
}

// Changes whether the signal restarts interrupted system calls, keeping its handler.
int setRestart(int sig, bool restart)
{
    struct sigaction sa;
    if (::sigaction(sig, nullptr, &sa) != 0)
        return -1;
    if (restart)
        sa.sa_flags |= SA_RESTART;
    else
        sa.sa_flags &= ~SA_RESTART;
    return ::sigaction(sig, &sa, nullptr);
}

}  // namespace

bool Set::is_signal(int sig)
{
    sigset_t s;
    sigemptyset(&s);
    return sigismember(&s, sig) >= 0 && sig > 0;
}

int handle(int sig, void (*handler)(int), Set const& mask, int flags)
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = handler;
    return install(sig, sa, mask, flags & ~SA_SIGINFO);
}

int handle(int sig, void (*handler)(int, siginfo_t*, void*), Set const& mask, int flags)
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = handler;
    return install(sig, sa, mask, flags | SA_SIGINFO);
}

int handle(int sig, void (*handler)(int), int flags) { return handle(sig, handler, Set(), flags); }

int handle(int sig, void (*handler)(int, siginfo_t*, void*), int flags)
{
    return handle(sig, handler, Set(), flags);
}

int ignore(int sig) { return handle(sig, SIG_IGN, 0); }

int system(int sig) { return handle(sig, SIG_DFL, 0); }

int disable_int(int sig) { return setRestart(sig, true); }

int enable_int(int sig) { return setRestart(sig, false); }

}  // namespace Signal
}  // namespace IPC
