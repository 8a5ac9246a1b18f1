#pragma once

#include "runtime/event.h"
#include "base/fd.h"

#include <csignal>

// Wakes the event loop from a signal handler.
//
// A signal handler only sets a flag; the loop acts on it in its deferred calls. A signal
// that arrives after the loop last looked at its flags but before it enters poll would
// otherwise wait for the next event or timer. While a SignalWake lives, wake() writes one
// byte to a non-blocking socket pair whose read end the loop polls, so poll returns at once
// and the loop runs another turn. The loop drains it; a full socket already holds a pending
// wake-up, so a failed write loses nothing. Should the read end ever end (a read of 0, an
// error, a hang-up), one line says so and a new pair takes the old one's place.
class SignalWake {
public:
    // Opens the pair (both ends close-on-exec) and polls its read end; on failure a line
    // on the error stream, and wake() does nothing.
    SignalWake();
    ~SignalWake();
    SignalWake(SignalWake const&) = delete;
    SignalWake& operator=(SignalWake const&) = delete;

    bool IsActive() const { return event_.IsActive(); }

    // Safe in a signal handler: keeps errno, never blocks. Does nothing while no SignalWake
    // lives.
    static void wake();

private:
    void open();
    void close();
    void OnWake(int fd, short revents);

    Event event_;
    Fd write_;
    // The write end for the handlers; -1 when none.
    static volatile std::sig_atomic_t writeFd_;
};
