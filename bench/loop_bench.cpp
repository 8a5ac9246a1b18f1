// The cost of the event loop's work: one idle turn, arming and cancelling a timer, and
// firing due timers.
#include "base/clock.h"
#include "runtime/multiplexer.h"
#include "runtime/timer.h"

#include <sys/eventfd.h>
#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

struct Sink {
    void fire() {}
};

// Enough descriptors for the largest case.
void raiseDescriptorLimit()
{
    rlimit l;
    if (getrlimit(RLIMIT_NOFILE, &l) == 0 && l.rlim_cur < l.rlim_max) {
        l.rlim_cur = l.rlim_max;
        setrlimit(RLIMIT_NOFILE, &l);
    }
}

// One turn (timers, two deferred-call passes, poll array, poll without waiting) with n
// idle descriptors registered.
void BM_IdleTurn(benchmark::State& state)
{
    raiseDescriptorLimit();
    Fd source(::eventfd(0, EFD_CLOEXEC));
    std::vector<std::unique_ptr<Event>> events;
    for (int i = 0; i < state.range(0); ++i) {
        events.push_back(std::make_unique<Event>());
        events.back()->Schedule(source, POLLIN);
        if (!events.back()->IsActive()) {
            state.SkipWithError("out of descriptors");
            return;
        }
    }
    multiplexer.runOnce(0);
    for (auto _ : state)
        benchmark::DoNotOptimize(multiplexer.runOnce(0));
}
BENCHMARK(BM_IdleTurn)->Arg(1)->Arg(64)->Arg(1024);

// Arming a timer, then cancelling it, with n timers pending. The new timer is due after
// every pending one (the usual case: one comparison), or before all of them (the insertion
// walks the whole list).
void armAndCancel(benchmark::State& state, unsigned int delay)
{
    Mux::TestClock clock;
    Sink sink;
    std::vector<Timer> pending(static_cast<std::size_t>(state.range(0)));
    for (std::size_t i = 0; i < pending.size(); ++i)
        pending[i].set(1000 + unsigned(i), &Sink::fire, &sink);
    Timer t;
    for (auto _ : state) {
        t.set(delay, &Sink::fire, &sink);
        t.reset();
    }
}

void BM_ArmAndCancelLatest(benchmark::State& state) { armAndCancel(state, 2000000); }
BENCHMARK(BM_ArmAndCancelLatest)->Arg(10)->Arg(1000)->Arg(10000);

void BM_ArmAndCancelEarliest(benchmark::State& state) { armAndCancel(state, 1); }
BENCHMARK(BM_ArmAndCancelEarliest)->Arg(10)->Arg(1000)->Arg(10000);

// Firing 10000 due timers in one turn (arming them is not counted). They are armed in the
// order they fall due, 100 a millisecond, so that each goes to the end of the timer list at
// once: armed out of order, each would walk the list, and the set-up of every iteration would
// cost a thousand times the turn measured.
void BM_Fire10000DueTimers(benchmark::State& state)
{
    Mux::TestClock clock;
    Sink sink;
    std::vector<Timer> timers(10000);
    for (auto _ : state) {
        state.PauseTiming();
        for (std::size_t i = 0; i < timers.size(); ++i)
            timers[i].set(unsigned(i / 100), &Sink::fire, &sink);
        clock.advance(100);
        state.ResumeTiming();
        multiplexer.runOnce(0);
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_Fire10000DueTimers)->Unit(benchmark::kMicrosecond);

}  // namespace
