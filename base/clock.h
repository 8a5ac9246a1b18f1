#pragma once

#include <sys/select.h>
#include <sys/time.h>

#include <cstdint>
#include <string>

// The daemon's clock.
//
// Timers and time-outs read a wrapping 32-bit millisecond count and durations a wrapping
// 32-bit microsecond count; both run on CLOCK_MONOTONIC, so stepping the wall clock never
// delays or fires a timer. Two readings are compared only through their difference taken
// as a signed 32-bit number. Times that are printed or stored (log prefixes, syslog
// stamps) are wall-clock time.
//
// The clock runs live (every read asks the system) until mux_settimeofday freezes it at
// the time of that call. A TestClock, while it exists, replaces the monotonic clock with
// one that the test moves by hand.
namespace Mux {

// A second-and-microsecond pair.
struct timeval : ::timeval {
    timeval() : ::timeval{0, 0} {}
    timeval(int sec, int usec) : ::timeval{sec, usec} {}
    bool is_zero() const { return tv_sec == 0 && tv_usec == 0; }
};

// The frozen wall-clock time; zero while the clock is live.
extern timeval g_tv_time;

// Freezes the clock at the present time (again at every call). Returns gettimeofday's result.
int mux_settimeofday();
// The wall-clock time: the system's while live, the frozen one otherwise.
int mux_gettimeofday(timeval& tv);
int gettimeval(timeval& tv);

// Monotonic milliseconds, low 32 bits (wraps every 2^32 ms).
std::uint32_t milliseconds();
// Monotonic microseconds, low 32 bits (wraps every 2^32 us).
std::uint32_t microseconds();
// Wall-clock seconds since the epoch.
long seconds();

timeval make_from_usec(unsigned int us);
timeval make_from_msec(unsigned int ms);
void timevalset(timeval& tv, unsigned long long ms);
void timevaladd(timeval& a, timeval const& b);
void timevalsub(timeval& a, timeval const& b);
void timevaladd2(timeval const& a, timeval const& b, timeval& out);
void timevalsub2(timeval const& a, timeval const& b, timeval& out);
// Milliseconds from a to b; 0 when b is earlier than a.
unsigned long long timevaldiff(timeval const& a, timeval const& b);
int timevalcompare(timeval const& a, timeval const& b);
// Local time "%Y-%m-%d %H:%M:%S" followed by "." and six digits of microseconds.
std::string timevaltostring(timeval const& tv);

// A descriptor set with its highest descriptor (negative: empty).
struct Set {
    fd_set set;
    int highest = -1;

    Set() { FD_ZERO(&set); }
    void add(int fd);
    bool is_set(int fd) const { return fd >= 0 && fd < FD_SETSIZE && FD_ISSET(fd, &set); }
    fd_set* get() { return highest < 0 ? nullptr : &set; }
};

int max_fd(Set const& a, Set const& b);
int max_fd(Set const& a, Set const& b, Set const& c);
int select(Set& rd);
int select(Set& rd, Set& wr);
int select(Set& rd, Set& wr, Set& ex);
int select(Set& rd, timeval const& timeout);
int select(Set& rd, Set& wr, timeval const& timeout);
int select(Set& rd, Set& wr, Set& ex, timeval const& timeout);
int select_rd(Set& rd, timeval const& timeout);
int select_wr(Set& wr, timeval const& timeout);

// Replaces the monotonic clock while it lives (tests only; the daemon never makes one).
// Only one may exist at a time.
class TestClock {
public:
    // Starts at the given time in microseconds.
    explicit TestClock(std::uint64_t startUs = 1000000000ull);
    ~TestClock();
    TestClock(TestClock const&) = delete;
    TestClock& operator=(TestClock const&) = delete;

    void advance(std::uint32_t ms) { nowUs_ += std::uint64_t(ms) * 1000; }
    void advanceUs(std::uint64_t us) { nowUs_ += us; }
    // Sets the millisecond reading (low 32 bits of the millisecond count).
    void setMilliseconds(std::uint32_t ms) { nowUs_ = std::uint64_t(ms) * 1000; }
    std::uint64_t nowUs() const { return nowUs_; }

    // The installed test clock, or null.
    static TestClock* current();

private:
    std::uint64_t nowUs_;
};

}  // namespace Mux
