#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// Figures of a running process read from /proc, for the tests that watch a daemon (or their
// own process).
namespace testsupport {

// The fields of the stat line of the process in the folder ("/proc/<pid>") after its command
// name, from the state (field 3) on; empty once the process is gone.
std::istringstream statFields(std::string const& folder);

// The processor time (user and system, fields 14 and 15) it has used, in seconds.
double cpuSeconds(pid_t pid);

// The processor time it uses while the test sleeps for the period, in seconds.
double cpuSecondsOver(pid_t pid, std::chrono::milliseconds period);

// A figure of /proc/<pid>/status in kB ("VmRSS": the resident memory, "VmHWM": its peak);
// -1 when not there.
long statusKb(pid_t pid, std::string const& key);

// The descriptors it holds, by number, each with what it leads to ("socket:[4711]"); with
// pipes passed over when asked (the sanitizers of the test build open and close pipes of
// their own at any moment).
std::map<int, std::string> descriptorTargets(pid_t pid, bool pipes = true);

// How many.
long openDescriptors(pid_t pid, bool pipes = true);

// Its descriptor that has the file open; -1 when none.
int descriptorOn(pid_t pid, std::string const& file);

// The processes whose parent it is, those in the state given ("Z": zombies) when one is.
std::vector<pid_t> children(pid_t pid, char const* state = nullptr);

// How many.
int childCount(pid_t pid);

}  // namespace testsupport
