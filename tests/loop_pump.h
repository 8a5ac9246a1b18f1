#pragma once

#include "base/clock.h"

#include <cstddef>
#include <cstdint>
#include <functional>

// Drives the real event loop (`multiplexer`) from tests.
namespace testsupport {

// Runs loop turns until done() is true or timeoutMs of real time have passed; returns
// done()'s last answer. Each turn waits at most a few milliseconds, so done() is asked
// often. done() is asked before the first turn too.
bool runUntil(std::function<bool()> const& done, int timeoutMs);

// Runs loop turns until done() is true, however long that takes while progress() keeps
// changing; false once it has stood still for stallMs of real time (a hang). For waits on
// much work, which a busy machine may stretch to any length.
bool runWhileProgressing(std::function<bool()> const& done, std::function<std::size_t()> const& progress,
                         int stallMs);

// Moves the installed test clock on by ms milliseconds, stopping at every timer that
// falls due on the way and running the turn that fires it (so periodic timers fire once
// per period), then runs one turn at the final time. No turn waits.
void advance(Mux::TestClock& clock, std::uint32_t ms);

// Runs turns that do not wait until the loop has nothing left to do at once: no timer
// due and no descriptor ready (at most maxTurns turns).
void settle(int maxTurns = 100);

}  // namespace testsupport
