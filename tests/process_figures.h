#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

// Figures of a running process read from /proc, for the tests that watch a daemon (or their
// own process).
namespace testsupport {

// The processor time (user and system) the process has used, in seconds.
double cpuSeconds(pid_t pid);
// The processor time it uses while the test sleeps for the period, in seconds.
double cpuSecondsOver(pid_t pid, std::chrono::milliseconds period);
// A figure of /proc/<pid>/status in kB ("VmRSS": the resident memory, "VmHWM": its peak);
// -1 when not there.
long statusKb(pid_t pid, std::string const& key);
// The descriptors the process holds; with pipes passed over when asked (the sanitizers of the
// test build open and close pipes of their own at any moment).
long openDescriptors(pid_t pid, bool pipes = true);
// The processes whose parent it is.
int childCount(pid_t pid);

}  // namespace testsupport
