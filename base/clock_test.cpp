#include "base/clock.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

TEST(Clock, LiveMillisecondsFollowTheSystemClock)
{
    std::uint32_t a = Mux::milliseconds();
    struct timespec ts = {0, 20 * 1000 * 1000};
    nanosleep(&ts, nullptr);
    std::int32_t d = std::int32_t(Mux::milliseconds() - a);
    EXPECT_GE(d, 20);
    EXPECT_LT(d, 2000);
}

TEST(Clock, FrozenClockStaysUntilTheNextRefresh)
{
    ASSERT_EQ(Mux::mux_settimeofday(), 0);
    std::uint32_t ms = Mux::milliseconds();
    Mux::timeval a, b;
    Mux::gettimeval(a);
    struct timespec ts = {0, 5 * 1000 * 1000};
    nanosleep(&ts, nullptr);
    Mux::gettimeval(b);
    EXPECT_EQ(Mux::milliseconds(), ms);
    EXPECT_EQ(Mux::timevalcompare(a, b), 0);
    Mux::mux_settimeofday();
    EXPECT_NE(Mux::milliseconds(), ms);
    Mux::g_tv_time = Mux::timeval();  // live again
}

TEST(Clock, TestClockReplacesTheMonotonicClockAndWraps)
{
    {
        Mux::TestClock clock;
        clock.setMilliseconds(0xFFFFFFFFu - 4);
        std::uint32_t before = Mux::milliseconds();
        clock.advance(10);
        std::uint32_t after = Mux::milliseconds();
        EXPECT_LT(after, before);  // wrapped past 0
        EXPECT_EQ(std::int32_t(after - before), 10);
        EXPECT_EQ(Mux::TestClock::current(), &clock);
    }
    EXPECT_EQ(Mux::TestClock::current(), nullptr);
}

TEST(Clock, TimeValueArithmetic)
{
    using Mux::timeval;
    EXPECT_EQ(Mux::timevaldiff(timeval(6, 0), timeval(5, 0)), 0u);
    EXPECT_EQ(Mux::timevaldiff(timeval(5, 7), timeval(5, 7)), 0u);
    EXPECT_EQ(Mux::timevaldiff(timeval(5, 999999), timeval(6, 0)), 1u);
    EXPECT_EQ(Mux::timevaldiff(timeval(5, 0), timeval(6, 500000)), 1500u);

    timeval a(1, 600000);
    Mux::timevaladd(a, timeval(2, 700000));
    EXPECT_EQ(a.tv_sec, 4);
    EXPECT_EQ(a.tv_usec, 300000);
    Mux::timevalsub(a, timeval(0, 400000));
    EXPECT_EQ(a.tv_sec, 3);
    EXPECT_EQ(a.tv_usec, 900000);

    timeval u = Mux::make_from_usec(2500001);
    EXPECT_EQ(u.tv_sec, 2);
    EXPECT_EQ(u.tv_usec, 500001);
    timeval m = Mux::make_from_msec(1234);
    EXPECT_EQ(m.tv_sec, 1);
    EXPECT_EQ(m.tv_usec, 234000);
    EXPECT_TRUE(timeval().is_zero());
    EXPECT_EQ(Mux::timevalcompare(timeval(1, 2), timeval(1, 3)), -1);
    EXPECT_EQ(Mux::timevalcompare(timeval(2, 0), timeval(1, 3)), 1);
}

TEST(Clock, TimeTextEndsWithSixDigitsOfMicroseconds)
{
    std::string text = Mux::timevaltostring(Mux::timeval(1000000000, 5));
    ASSERT_GE(text.size(), 7u);
    EXPECT_EQ(text.substr(text.size() - 7), ".000005");
    EXPECT_EQ(text.size(), std::string("2001-09-09 01:46:40.000005").size());
}

}  // namespace
