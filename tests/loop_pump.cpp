#include "tests/loop_pump.h"

#include "runtime/multiplexer.h"

#include <chrono>

namespace testsupport {

bool runUntil(std::function<bool()> const& done, int timeoutMs)
{
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done())
            return true;
        auto const now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        multiplexer.runOnce(left < 10 ? int(left) : 10);
    }
}

bool runWhileProgressing(std::function<bool()> const& done, std::function<std::size_t()> const& progress,
                         int stallMs)
{
    for (;;) {
        std::size_t const last = progress();
        if (!runUntil([&] { return done() || progress() != last; }, stallMs))
            return false;
        if (done())
            return true;
    }
}

void advance(Mux::TestClock& clock, std::uint32_t ms)
{
    std::uint32_t left = ms;
    // A timer that keeps re-arming itself for 0 ms would hold the clock here for ever.
    int dueTurns = 0;
    for (;;) {
        int const wait = multiplexer.next_timer_wait();
        if (wait < 0 || std::uint32_t(wait) > left)
            break;
        dueTurns = wait == 0 ? dueTurns + 1 : 0;
        if (dueTurns > 1000)
            break;
        clock.advance(std::uint32_t(wait));
        left -= std::uint32_t(wait);
        multiplexer.runOnce(0);
    }
    clock.advance(left);
    multiplexer.runOnce(0);
}

void settle(int maxTurns)
{
    for (int i = 0; i < maxTurns; ++i) {
        if (multiplexer.runOnce(0) == 0 && multiplexer.next_timer_wait() != 0)
            return;
    }
}

}  // namespace testsupport
