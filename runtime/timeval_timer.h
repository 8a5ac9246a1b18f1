#pragma once

#include "base/clock.h"

namespace Mux {

// A periodic deadline on time values: expired once more than one period has passed since
// the start; inc() moves the start on by one period.
struct timeval_timer {
    timeval start;
    int period = 0;

    int init(timeval const& s, int p);
    int init_now(timeval const& now);
    bool is_expired(timeval const& now) const;
    int inc();
};

}  // namespace Mux
