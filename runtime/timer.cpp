#include "runtime/timer.h"

#include "base/clock.h"
#include "runtime/multiplexer.h"

#include <iostream>

constexpr unsigned int Timer::max_delay;

TimerEvent::~TimerEvent() { reset(); }

void TimerEvent::schedule(unsigned int ms)
{
    due_ = Mux::milliseconds() + ms;
    multiplexer.set(this);
}

void TimerEvent::reset() { multiplexer.reset(this); }

unsigned int Timer::checked_delay(unsigned int ms)
{
    if (ms <= max_delay)
        return ms;
    std::cerr << "Timer::set: delay " << ms << " ms cut to " << max_delay << " ms" << std::endl;
    return max_delay;
}

void TimerPoolPlugin::timerHook()
{
    if (hooked_)
        return;
    multiplexer.hook(this);
    hooked_ = true;
}

void TimerPoolPlugin::timerUnhook()
{
    if (!hooked_)
        return;
    multiplexer.unhook(this);
    hooked_ = false;
}
