#pragma once

// The pid of a process whose command name (in "/proc/<pid>/stat", between the first "("
// and the last ")") equals name, or -1. The hint pid, when above 0, is tried first, so a
// caller that remembers the last result finds the same process without a scan.
int find_proc_by_name(char const* name, int pid);
