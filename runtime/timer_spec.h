#pragma once

#include "runtime/timer.h"

// A constant timer description of a class T: the member function to call and the delay.
// SpecTimer<Spec> is a Timer bound to one such description, for example
//   static TimerSpec<Slot> const TUpdatespec;             // {&Slot::OnUpdateTimer, 3000}
//   TimerSpec<Slot>::SpecTimer<TUpdatespec> updateTimer;  // updateTimer.set(this)
template <class T>
struct TimerSpec {
    void (T::*action)();
    unsigned int delay;

    template <TimerSpec const& Spec>
    class SpecTimer : public Timer {
    public:
        void set(T* owner) { Timer::set(Spec.delay, Spec.action, owner); }
    };
};
