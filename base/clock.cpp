#include "base/clock.h"

#include <ctime>

#include <cstdio>

namespace Mux {

timeval g_tv_time;

namespace {

TestClock* testClock = nullptr;
// The monotonic reading taken with g_tv_time when the clock was frozen.
std::uint64_t frozenMonotonicUs = 0;

std::uint64_t systemMonotonicUs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::uint64_t(ts.tv_sec) * 1000000u + std::uint64_t(ts.tv_nsec) / 1000u;
}

std::uint64_t monotonicUs()
{
    if (testClock)
        return testClock->nowUs();
    if (!g_tv_time.is_zero())
        return frozenMonotonicUs;
    return systemMonotonicUs();
}

}  // namespace

int mux_settimeofday()
{
    int r = ::gettimeofday(&g_tv_time, nullptr);
    frozenMonotonicUs = systemMonotonicUs();
    return r;
}

int mux_gettimeofday(timeval& tv)
{
    if (g_tv_time.is_zero())
        return ::gettimeofday(&tv, nullptr);
    tv = g_tv_time;
    return 0;
}

int gettimeval(timeval& tv)
{
    mux_gettimeofday(tv);
    return 0;
}

std::uint32_t milliseconds() { return std::uint32_t(monotonicUs() / 1000u); }

std::uint32_t microseconds() { return std::uint32_t(monotonicUs()); }

long seconds()
{
    timeval tv;
    mux_gettimeofday(tv);
    return long(tv.tv_sec);
}

timeval make_from_usec(unsigned int us) { return timeval(int(us / 1000000u), int(us % 1000000u)); }

timeval make_from_msec(unsigned int ms) { return timeval(int(ms / 1000u), int((ms % 1000u) * 1000u)); }

void timevalset(timeval& tv, unsigned long long ms)
{
    tv.tv_sec = decltype(tv.tv_sec)(ms / 1000u);
    tv.tv_usec = decltype(tv.tv_usec)((ms % 1000u) * 1000u);
}

void timevaladd(timeval& a, timeval const& b)
{
    long usec = long(a.tv_usec) + long(b.tv_usec);
    a.tv_sec += b.tv_sec + usec / 1000000;
    a.tv_usec = usec % 1000000;
}

void timevalsub(timeval& a, timeval const& b)
{
    long usec = long(a.tv_usec) - long(b.tv_usec) + 1000000;
    a.tv_sec = a.tv_sec - b.tv_sec - 1 + usec / 1000000;
    a.tv_usec = usec % 1000000;
}

void timevaladd2(timeval const& a, timeval const& b, timeval& out)
{
    out = a;
    timevaladd(out, b);
}

void timevalsub2(timeval const& a, timeval const& b, timeval& out)
{
    out = a;
    timevalsub(out, b);
}

int timevalcompare(timeval const& a, timeval const& b)
{
    if (a.tv_sec != b.tv_sec)
        return a.tv_sec < b.tv_sec ? -1 : 1;
    if (a.tv_usec != b.tv_usec)
        return a.tv_usec < b.tv_usec ? -1 : 1;
    return 0;
}

unsigned long long timevaldiff(timeval const& a, timeval const& b)
{
    if (timevalcompare(b, a) < 0)
        return 0;
    long long ms = (static_cast<long long>(b.tv_sec) - a.tv_sec) * 1000 +
                   (static_cast<long long>(b.tv_usec) - a.tv_usec) / 1000;
    return static_cast<unsigned long long>(ms);
}

std::string timevaltostring(timeval const& tv)
{
    char date[64] = "";
    time_t secs = tv.tv_sec;
    struct tm local;
    if (localtime_r(&secs, &local))
        std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    // Room for the whole date, the point and any microsecond value.
    char text[sizeof date + 24];
    std::snprintf(text, sizeof text, "%s.%06ld", date, long(tv.tv_usec));
    return text;
}

void Set::add(int fd)
{
    if (fd < 0 || fd >= FD_SETSIZE)
        return;
    FD_SET(fd, &set);
    if (fd > highest)
        highest = fd;
}

int max_fd(Set const& a, Set const& b) { return a.highest > b.highest ? a.highest : b.highest; }

int max_fd(Set const& a, Set const& b, Set const& c)
{
    int m = max_fd(a, b);
    return m > c.highest ? m : c.highest;
}

namespace {

int doSelect(Set* rd, Set* wr, Set* ex, timeval const* timeout)
{
    Set empty;
    int high = max_fd(rd ? *rd : empty, wr ? *wr : empty, ex ? *ex : empty);
    ::timeval tv;
    if (timeout)
        tv = *timeout;
    return ::select(high + 1, rd ? rd->get() : nullptr, wr ? wr->get() : nullptr,
                    ex ? ex->get() : nullptr, timeout ? &tv : nullptr);
}

}  // namespace

int select(Set& rd) { return doSelect(&rd, nullptr, nullptr, nullptr); }
int select(Set& rd, Set& wr) { return doSelect(&rd, &wr, nullptr, nullptr); }
int select(Set& rd, Set& wr, Set& ex) { return doSelect(&rd, &wr, &ex, nullptr); }
int select(Set& rd, timeval const& timeout) { return doSelect(&rd, nullptr, nullptr, &timeout); }
int select(Set& rd, Set& wr, timeval const& timeout) { return doSelect(&rd, &wr, nullptr, &timeout); }
int select(Set& rd, Set& wr, Set& ex, timeval const& timeout) { return doSelect(&rd, &wr, &ex, &timeout); }
int select_rd(Set& rd, timeval const& timeout) { return doSelect(&rd, nullptr, nullptr, &timeout); }
int select_wr(Set& wr, timeval const& timeout) { return doSelect(nullptr, &wr, nullptr, &timeout); }

TestClock::TestClock(std::uint64_t startUs) : nowUs_(startUs) { testClock = this; }

TestClock::~TestClock()
{
    if (testClock == this)
        testClock = nullptr;
}

TestClock* TestClock::current() { return testClock; }

}  // namespace Mux
