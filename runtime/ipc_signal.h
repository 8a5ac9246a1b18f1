#pragma once

#include <signal.h>

// Signal-handler installation. Each function returns the system call's result.
namespace IPC {
namespace Signal {

// A set of signals.
class Set {
public:
    Set() { sigemptyset(&set_); }
    Set(int a, int b) : Set() { add(a), add(b); }
    Set(int a, int b, int c) : Set() { add(a), add(b), add(c); }

    void add(int sig) { sigaddset(&set_, sig); }
    void copy_to(sigset_t& out) const { out = set_; }
    sigset_t const& get() const { return set_; }
    // Whether sig is a valid signal number.
    static bool is_signal(int sig);

private:
    sigset_t set_;
};

// A one-argument handler is installed without SA_SIGINFO; a three-argument handler with
// SA_SIGINFO, so that its second and third arguments are filled in.
int handle(int sig, void (*handler)(int), Set const& mask, int flags);
int handle(int sig, void (*handler)(int, siginfo_t*, void*), Set const& mask, int flags);
int handle(int sig, void (*handler)(int), int flags);
int handle(int sig, void (*handler)(int, siginfo_t*, void*), int flags);

// Ignore the signal; back to the system's default.
int ignore(int sig);
int system(int sig);

// System calls interrupted by the signal restart (disable_int) or fail with EINTR (enable_int).
int disable_int(int sig);
int enable_int(int sig);

}  // namespace Signal
}  // namespace IPC
