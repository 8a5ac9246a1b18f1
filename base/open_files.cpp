#include "base/open_files.h"

namespace OpenFiles {

namespace {

// The limits before the raise; set only when a raise changed them.
bool raised = false;
rlimit startLimits{};

}  // namespace

bool RaiseLimit()
{
    rlimit limits{};
    if (::getrlimit(RLIMIT_NOFILE, &limits) != 0)
        return false;
    if (limits.rlim_cur == limits.rlim_max)
        return true;
    rlimit const before = limits;
    limits.rlim_cur = limits.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limits) != 0)
        return false;
    startLimits = before;
    raised = true;
    return true;
}

rlim_t Limit()
{
    rlimit limits{};
    return ::getrlimit(RLIMIT_NOFILE, &limits) == 0 ? limits.rlim_cur : 0;
}

void RestoreForChild()
{
    if (raised)
        ::setrlimit(RLIMIT_NOFILE, &startLimits);
}

}  // namespace OpenFiles
