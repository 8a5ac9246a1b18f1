#include "runtime/timer.h"

#include "base/clock.h"
#include "runtime/multiplexer.h"
#include "runtime/timer_spec.h"
#include "runtime/timeval_timer.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"

#include <fcntl.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <string>

namespace {

using testsupport::advance;
using testsupport::CaptureStream;

struct Log {
    std::string order;
    Timer* seen = nullptr;
    int fired = 0;
    void a() { order += "a"; }
    void b() { order += "b"; }
    void c() { order += "c"; }
    void which(Timer* t)
    {
        seen = t;
        ++fired;
    }
};

class TimerTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(multiplexer.timer_count(), 0u); }
    Mux::TestClock clock;
};

TEST_F(TimerTest, TimersFireInDueOrderAndEqualDueTimesInArmingOrder)
{
    Log log;
    Timer first50, t20, second50;
    first50.set(50, &Log::a, &log);
    t20.set(20, &Log::b, &log);
    second50.set(50, &Log::c, &log);
    advance(clock, 19);
    EXPECT_EQ(log.order, "");
    advance(clock, 1);
    EXPECT_EQ(log.order, "b");
    advance(clock, 30);
    EXPECT_EQ(log.order, "bac");
    EXPECT_FALSE(first50.is_running());
}

TEST_F(TimerTest, ArmingTwiceLeavesOnePendingEntryDueByTheSecondDelay)
{
    Log log;
    Timer t;
    t.set(100, &Log::a, &log);
    t.set(30, &Log::a, &log);
    EXPECT_EQ(multiplexer.timer_count(), 1u);
    advance(clock, 30);
    EXPECT_EQ(log.order, "a");
    advance(clock, 100);
    EXPECT_EQ(log.order, "a");
}

TEST_F(TimerTest, ResetAndDestructionCancel)
{
    Log log;
    Timer kept;
    kept.set(10, &Log::b, &log);
    {
        Timer t;
        t.set(10, &Log::a, &log);
        EXPECT_EQ(multiplexer.timer_count(), 2u);
        t.reset();
        EXPECT_EQ(multiplexer.timer_count(), 1u);
        t.reset();  // idle: nothing
        t.set(10, &Log::a, &log);
    }
    EXPECT_EQ(multiplexer.timer_count(), 1u);
    advance(clock, 10);
    EXPECT_EQ(log.order, "b");
}

TEST_F(TimerTest, ATimerArmedJustBeforeTheMillisecondWrapFiresOnTime)
{
    clock.setMilliseconds(0xFFFFFFFFu - 4);  // 5 ms before the reading wraps past 0
    Log log;
    Timer t;
    t.set(10, &Log::a, &log);
    advance(clock, 9);
    EXPECT_EQ(log.order, "");
    EXPECT_LT(Mux::milliseconds(), 10u);  // wrapped
    advance(clock, 1);
    EXPECT_EQ(log.order, "a");
}

struct Periodic {
    Timer timer;
    int count = 0;
    bool runningInCallback = true;
    void tick()
    {
        runningInCallback = timer.is_running();
        timer.set(100, &Periodic::tick, this);
        ++count;
    }
};

TEST_F(TimerTest, ACallbackMayReArmItsOwnTimer)
{
    Periodic p;
    p.timer.set(100, &Periodic::tick, &p);
    advance(clock, 1000);
    EXPECT_EQ(p.count, 10);
    EXPECT_FALSE(p.runningInCallback);
    EXPECT_TRUE(p.timer.is_running());
    p.timer.reset();
}

struct SelfDestroying {
    explicit SelfDestroying(std::unique_ptr<SelfDestroying>& h) : holder(h) {}
    std::unique_ptr<SelfDestroying>& holder;
    Timer t1, t2;
    Timer* seen = nullptr;
    void fired(Timer* t)
    {
        seen = t;
        holder.reset();  // destroys this object and both its timers
    }
};

TEST_F(TimerTest, TheCallbackGetsItsTimerAndMayDestroyItsOwner)
{
    std::unique_ptr<SelfDestroying> obj;
    obj = std::make_unique<SelfDestroying>(obj);
    Log log;
    Timer other;
    obj->t1.set(20, &SelfDestroying::fired, obj.get());
    obj->t2.set(10, &Log::which, &log);
    other.set(10, &Log::which, &log);
    advance(clock, 10);
    EXPECT_EQ(log.fired, 2);
    EXPECT_EQ(log.seen, &other);
    advance(clock, 10);
    EXPECT_EQ(obj, nullptr);
    EXPECT_EQ(multiplexer.timer_count(), 0u);
}

TEST_F(TimerTest, TimerEvent2ReportsTheTimerThatFired)
{
    Log log;
    Timer a, b;
    a.set(5, &Log::which, &log);
    b.set(6, &Log::which, &log);
    advance(clock, 5);
    EXPECT_EQ(log.seen, &a);
    advance(clock, 1);
    EXPECT_EQ(log.seen, &b);
}

struct ArmFromEvent {
    Timer timer;
    bool fired = false;
    void onEvent(int, short revents)
    {
        if (revents & POLLIN)
            timer.set(0, &ArmFromEvent::onTimer, this);
    }
    void onTimer() { fired = true; }
};

TEST_F(TimerTest, ADelayOfZeroArmedFromAnEventFiresAtTheStartOfTheNextTurn)
{
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    Fd r(p[0]), w(p[1]);
    ArmFromEvent x;
    Event e;
    e.Bind("e", &ArmFromEvent::onEvent, &x);
    e.Schedule(r, POLLIN);
    ASSERT_EQ(write(w, "x", 1), 1);
    multiplexer.runOnce(0);
    EXPECT_TRUE(x.timer.is_running());
    EXPECT_FALSE(x.fired);
    e.Release();
    multiplexer.runOnce(0);
    EXPECT_TRUE(x.fired);
}

struct ZeroLoop {
    Timer timer;
    int count = 0;
    void tick()
    {
        ++count;
        timer.set(0, &ZeroLoop::tick, this);
    }
};

TEST_F(TimerTest, WithTheClockStandingStillAZeroDelayReArmWaitsForTheNextTurn)
{
    ZeroLoop z;
    z.timer.set(0, &ZeroLoop::tick, &z);
    multiplexer.runOnce(0);
    EXPECT_EQ(z.count, 1);
    multiplexer.runOnce(0);
    EXPECT_EQ(z.count, 2);
    z.timer.reset();
}

TEST_F(TimerTest, ALongDelayIsCutWithoutMovingOtherTimers)
{
    Log log;
    Timer shortOne, longOne;
    shortOne.set(1000, &Log::a, &log);
    {
        CaptureStream err(std::cerr);
        longOne.set(8000000, &Log::b, &log);
        EXPECT_EQ(err.text(), "Timer::set: delay 8000000 ms cut to 7200000 ms\n");
    }
    CaptureStream err(std::cerr);
    multiplexer.runOnce(0);
    advance(clock, 1000);
    EXPECT_EQ(log.order, "a");
    advance(clock, 7200000 - 1001);
    EXPECT_EQ(log.order, "a");
    advance(clock, 1);
    EXPECT_EQ(log.order, "ab");
    EXPECT_EQ(err.text(), "");  // never out of range
}

TEST_F(TimerTest, AClockThatWentBackTwoHoursMovesEveryTimerToOneSecond)
{
    Log log;
    Timer a, b;
    a.set(5000, &Log::a, &log);
    b.set(6000, &Log::b, &log);
    std::uint32_t const now = Mux::milliseconds();
    clock.setMilliseconds(now - 7300000);
    CaptureStream err(std::cerr);
    multiplexer.runOnce(0);
    EXPECT_EQ(err.text(),
              "******** RUNTIME ERROR CONDITION *************Multiplexer::timers_schedule() invalid "
              "wait time detected!\nnow = " + std::to_string(now - 7300000) + "\nfirst = " +
                  std::to_string(now + 5000) + "\ncount = 2\n");
    advance(clock, 999);
    EXPECT_EQ(log.order, "");
    advance(clock, 1);
    EXPECT_EQ(log.order, "ab");
}

struct Slot {
    static TimerSpec<Slot> const TUpdatespec;
    TimerSpec<Slot>::SpecTimer<TUpdatespec> update;
    int refreshes = 0;
    void OnUpdateTimer()
    {
        update.set(this);
        ++refreshes;
    }
};
TimerSpec<Slot> const Slot::TUpdatespec = {&Slot::OnUpdateTimer, 3000};

TEST_F(TimerTest, SpecTimersTakeDelayAndCallbackFromTheirDescription)
{
    Slot s;
    s.update.set(&s);
    advance(clock, 9000);
    EXPECT_EQ(s.refreshes, 3);
    s.update.reset();
}

struct Base {
    int fired = 0;
    void onTimer() { ++fired; }
};
struct Derived : Base {
    Timer timer;
    void start() { timer.set(5, &Base::onTimer, this); }
};

TEST_F(TimerTest, ADerivedObjectArmsATimerOnAMemberOfItsBase)
{
    Derived d;
    d.start();
    advance(clock, 5);
    EXPECT_EQ(d.fired, 1);
}

int plainCalls = 0;
void plainCallback() { ++plainCalls; }

TEST_F(TimerTest, PlainFunctionTimers)
{
    plainCalls = 0;
    Timer t;
    t.set(7, &plainCallback);
    advance(clock, 7);
    EXPECT_EQ(plainCalls, 1);
}

TEST(TimerRealClock, ATimerArmedByTheSecondDeferredPassIsHonouredByThePollTimeOut)
{
    // The deferred call arms a due timer on its second run in a turn; the turn must then
    // poll without waiting (an idle descriptor is polled, and the turn's cap is long).
    struct Arming {
        Dpc dpc;
        Timer timer;
        int runs = 0;
        bool fired = false;
        void run()
        {
            if (++runs == 2)
                timer.set(0, &Arming::onTimer, this);
        }
        void onTimer() { fired = true; }
    } x;
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    Fd r(p[0]), w(p[1]);
    Event idle;
    idle.Schedule(r, POLLIN);
    x.dpc.Bind(&x, &Arming::run);
    x.dpc.Activate();
    auto const start = std::chrono::steady_clock::now();
    multiplexer.runOnce(20000);
    auto const took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(10));
    x.dpc.Deactivate();
    multiplexer.runOnce(0);
    EXPECT_TRUE(x.fired);
}

TEST(TimevalTimer, ExpiresAfterMoreThanOnePeriodAndCountsFromTheLastDeadline)
{
    Mux::timeval_timer t;
    t.init(Mux::timeval(10, 0), 1000);
    EXPECT_FALSE(t.is_expired(Mux::timeval(11, 0)));
    EXPECT_TRUE(t.is_expired(Mux::timeval(11, 1000)));
    t.inc();
    EXPECT_EQ(t.start.tv_sec, 11);
    EXPECT_EQ(t.start.tv_usec, 0);
    EXPECT_FALSE(t.is_expired(Mux::timeval(12, 0)));
    EXPECT_TRUE(t.is_expired(Mux::timeval(12, 1000)));
    t.init_now(Mux::timeval(20, 0));
    EXPECT_EQ(t.period, 1000);
    Mux::timeval_timer never;
    never.init(Mux::timeval(0, 0), 0);
    EXPECT_FALSE(never.is_expired(Mux::timeval(1000000, 0)));
}

}  // namespace
