#include "runtime/dpc.h"

#include "base/clock.h"
#include "runtime/multiplexer.h"
#include "tests/loop_pump.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

namespace {

std::string trace;

struct Call {
    explicit Call(char n) : name(n) { dpc.Bind(this, &Call::run); }
    void run()
    {
        trace += name;
        if (then)
            then(*this);
    }
    char name;
    Dpc dpc;
    std::function<void(Call&)> then;
};

class DpcTest : public ::testing::Test {
protected:
    void SetUp() override { trace.clear(); }
    // Keeps every turn short and free of real waiting.
    Mux::TestClock clock;
};

TEST_F(DpcTest, AnActiveCallRunsTwicePerTurn)
{
    Call a('a');
    a.dpc.Activate();
    a.dpc.Activate();  // no change
    multiplexer.runOnce(0);
    EXPECT_EQ(trace, "aa");
    a.dpc.Deactivate();
    multiplexer.runOnce(0);
    EXPECT_EQ(trace, "aa");
}

TEST_F(DpcTest, CallsRunInAddressOrder)
{
    Call calls[3] = {Call('x'), Call('y'), Call('z')};
    calls[2].dpc.Activate();
    calls[0].dpc.Activate();
    calls[1].dpc.Activate();
    multiplexer.execute_dpc();
    EXPECT_EQ(trace, "xyz");
}

TEST_F(DpcTest, ActivationDuringAPassTakesEffectFromTheNextPass)
{
    Call calls[2] = {Call('a'), Call('b')};
    calls[1].then = [&](Call&) { calls[0].dpc.Activate(); };
    calls[1].dpc.Activate();
    multiplexer.execute_dpc();
    EXPECT_EQ(trace, "b");
    multiplexer.execute_dpc();
    EXPECT_EQ(trace, "bab");
}

TEST_F(DpcTest, DeactivationDuringAPassTakesEffectAtOnce)
{
    Call calls[2] = {Call('a'), Call('b')};
    calls[0].then = [&](Call&) { calls[1].dpc.Deactivate(); };
    calls[0].dpc.Activate();
    calls[1].dpc.Activate();
    multiplexer.execute_dpc();
    EXPECT_EQ(trace, "a");
}

TEST_F(DpcTest, ACallActivatedByATimerRunsInTheSameTurn)
{
    Call a('a');
    struct Starter {
        Call* call;
        void fire() { call->dpc.Activate(); }
    } s{&a};
    Timer t;
    t.set(0, &Starter::fire, &s);
    multiplexer.runOnce(0);
    EXPECT_EQ(trace, "aa");
}

TEST_F(DpcTest, RebindingKeepsTheCallActiveAndDestructionDeactivates)
{
    {
        Call a('a');
        a.dpc.Activate();
        a.dpc.Bind(+[] { trace += 'f'; });
        EXPECT_TRUE(a.dpc.IsActive());
        multiplexer.execute_dpc();
    }
    multiplexer.execute_dpc();
    EXPECT_EQ(trace, "f");
}

struct Plugin : TimerPoolPlugin {
    int timeout = -1;
    int asked = 0;
    std::function<void()> during;
    int timerTimeout() override
    {
        ++asked;
        if (during)
            during();
        return timeout;
    }
};

TEST_F(DpcTest, PluginsAreAskedOncePerTurnInHookOrder)
{
    Plugin p1, p2, p3;
    p1.timeout = 0;
    p2.timeout = 30;
    p3.timeout = 20;
    p1.timerHook();
    p2.timerHook();
    p2.timerHook();
    EXPECT_EQ(multiplexer.timerPoll_schedule(), 30);
    p3.timerHook();
    EXPECT_EQ(multiplexer.timerPoll_schedule(), 20);
    EXPECT_EQ(p2.asked, 2);
    p1.during = [&] { p2.timerUnhook(); };
    EXPECT_EQ(multiplexer.timerPoll_schedule(), 20);
    EXPECT_EQ(p2.asked, 2);
    EXPECT_FALSE(p2.hooked());
    Plugin late;
    late.timeout = 5;
    p3.during = [&] { late.timerHook(); };
    EXPECT_EQ(multiplexer.timerPoll_schedule(), 20);  // late waits for the next pass
    p3.during = nullptr;
    EXPECT_EQ(multiplexer.timerPoll_schedule(), 5);
    EXPECT_EQ(multiplexer.runOnce(-1), 0);  // a plugin's time-out is no hang
    p1.timerUnhook();
    p3.timerUnhook();
    late.timerUnhook();
    EXPECT_EQ(multiplexer.timerPoll_schedule(), INT_MAX);
}

}  // namespace
