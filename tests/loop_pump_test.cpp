#include "tests/loop_pump.h"

#include "runtime/multiplexer.h"
#include "runtime/timer.h"

#include <fcntl.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <chrono>

namespace {

struct Counter {
    Timer timer;
    unsigned int period = 0;
    int fired = 0;
    void tick()
    {
        ++fired;
        if (period)
            timer.set(period, &Counter::tick, this);
    }
};

TEST(LoopPump, RunUntilDrivesRealTurnsUntilTheConditionHolds)
{
    Counter c;
    c.timer.set(20, &Counter::tick, &c);
    EXPECT_TRUE(testsupport::runUntil([&] { return c.fired == 1; }, 10000));
}

TEST(LoopPump, RunUntilGivesUpAfterItsTimeOut)
{
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    Fd r(p[0]), w(p[1]);
    Event idle;
    idle.Schedule(r, POLLIN);
    EXPECT_FALSE(testsupport::runUntil([] { return false; }, 30));
}

// Progress keeps the wait going past its stall bound; a stall ends it.
TEST(LoopPump, RunWhileProgressingGivesUpOnlyWhenNothingMoves)
{
    std::size_t asked = 0;
    auto const start = std::chrono::steady_clock::now();
    EXPECT_TRUE(testsupport::runWhileProgressing(
        [&] { return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(100); },
        [&] { return ++asked; }, 20));
    EXPECT_FALSE(testsupport::runWhileProgressing([] { return false; }, [] { return std::size_t(0); }, 20));
}

TEST(LoopPump, AdvanceStopsAtEveryDueTimer)
{
    Mux::TestClock clock;
    Counter c;
    c.period = 100;
    c.timer.set(100, &Counter::tick, &c);
    testsupport::advance(clock, 99);
    EXPECT_EQ(c.fired, 0);
    testsupport::advance(clock, 1001);
    EXPECT_EQ(c.fired, 11);
    c.timer.reset();
    testsupport::advance(clock, 500);  // nothing pending: one turn, no hang
    EXPECT_EQ(c.fired, 11);
}

TEST(LoopPump, SettleRunsUntilNothingIsDue)
{
    Mux::TestClock clock;
    Counter a, b;
    a.timer.set(0, &Counter::tick, &a);
    b.timer.set(0, &Counter::tick, &b);
    testsupport::settle();
    EXPECT_EQ(a.fired + b.fired, 2);
}

}  // namespace
