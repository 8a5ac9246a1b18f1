#include "runtime/timeval_timer.h"

namespace Mux {

int timeval_timer::init(timeval const& s, int p)
{
    start = s;
    period = p;
    return 0;
}

int timeval_timer::init_now(timeval const& now)
{
    start = now;
    return 0;
}

bool timeval_timer::is_expired(timeval const& now) const
{
    if (period < 1)
        return false;
    return static_cast<long long>(timevaldiff(start, now)) > static_cast<long long>(period);
}

int timeval_timer::inc()
{
    if (period <= 0)
        return 0;
    timeval step;
    timevalset(step, static_cast<unsigned long long>(period));
    timevaladd(start, step);
    return 0;
}

}  // namespace Mux
