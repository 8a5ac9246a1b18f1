#pragma once

#include <sys/types.h>

namespace Process {

// What the new process of Fork goes on as.
enum class ForkFor {
    // A child program: it runs nothing of the daemon's and ends in an exec or an _exit.
    program,
    // The daemon itself, detached from its terminal (the parent ends at once).
    daemon,
};

// Every fork of the daemon goes through here. All signals are blocked across the fork, so
// that the new process handles none with the daemon's handlers before it is set up: a child
// program then gets the default disposition of every signal the daemon catches (ignored ones
// stay ignored, as an exec leaves them) and an empty signal mask, so a signal sent to it
// before its exec (the SIGTERM or SIGHUP of a slot destroyed at once) acts on it as on the
// program. The parent, and a detached daemon, get their signal mask back.
// Returns what fork(2) returns, with errno kept on failure.
pid_t Fork(ForkFor what);

}  // namespace Process
