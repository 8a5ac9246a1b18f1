#pragma once

// What a test process or a fuzz run leaves when it ends, however it ends (a destructor, an
// interrupt, a crash, a signal no handler sees): the processes it started, found by an entry
// of their environment (which their own child programs inherit), and its folder. A janitor
// process ends the one and removes the other once the process and every copy of it have gone.

#include <sys/types.h>

#include <string>

namespace testsupport {

// Ends every process but the caller whose environment holds an entry that begins with the
// text ("GW_ROOT=/tmp/gw-e2e-x/"), which their own children inherit: SIGTERM (and SIGCONT, for
// one that is stopped), SIGKILL to what is still there kGentleMs later; returns once none is
// left (a process that has ended holds no environment), or kGentleMs after the SIGKILL. The
// process signalled is the one whose environment was read, never another that took its pid
// meanwhile. Calls found, when given, with the pid of each process found, each time it is.
// Allocates nothing and calls only what is safe in the copy of a process with threads (found
// aside).
constexpr int kGentleMs = 5000;
void endProcessesWith(char const* entry, void (*found)(pid_t, void*) = nullptr, void* context = nullptr);

// Starts the janitor of the folder: a process that, once every process holding the write end
// of its pipe has ended, however it ended, ends the processes whose environment holds an
// entry that begins with processes (when not empty) as endProcessesWith does, then removes the
// folder if the path is that folder still (it holds the folder open, so that it removes no
// other made at the path meanwhile). That end is close-on-exec: this process holds it, and
// what it forks and does not run another program in. The janitor is no child of this process
// unless it is a subreaper (its parent ends at once), runs in a session of its own, out of
// reach of a terminal's interrupt, and holds no descriptor of this process's but its end of
// the pipe and the folder. The write end, or -1 (errno set).
int startJanitor(std::string const& folder, std::string const& processes = {});

}  // namespace testsupport
