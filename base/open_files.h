#pragma once

#include <sys/resource.h>

// The process's limit of open descriptors (the soft RLIMIT_NOFILE). The daemon raises it to
// the hard limit at start-up, since every slot holds descriptors; its child programs get
// back the limit the daemon started with.
namespace OpenFiles {

// Raises the soft limit to the hard one, once the limit the process started with is noted.
// False (errno set) when the limits cannot be read or set.
bool RaiseLimit();
// The soft limit of the moment; RLIM_INFINITY when there is none, 0 when it cannot be read.
rlim_t Limit();
// In a child after fork, before exec: the soft limit the process started with again (only a
// system call, safe after a fork).
void RestoreForChild();

}  // namespace OpenFiles
