#pragma once

#include "base/dual_list.h"

#include <cstdint>
#include <memory>
#include <type_traits>

class Multiplexer;
class Timer;

// A pending expiry in the loop's time-sorted timer list. It is owned by its Timer while
// pending; firing unbinds it from the Timer first, calls back, then deletes it.
class TimerEvent : public F_dual_list_item<TimerEvent> {
public:
    TimerEvent() = default;
    TimerEvent(TimerEvent const&) = delete;
    TimerEvent& operator=(TimerEvent const&) = delete;
    // Takes the entry off the timer list.
    virtual ~TimerEvent();

    virtual void fire() = 0;

    // Due in ms milliseconds (modulo 2^32 on the millisecond clock); (re)inserted in the list.
    void schedule(unsigned int ms);
    void reset();
    // This entry's due time less the other's, as a signed difference (negative: earlier).
    int compare(TimerEvent const* other) const { return int(due_ - other->due_); }
    std::uint32_t due() const { return due_; }

private:
    friend class Multiplexer;
    std::uint32_t due_ = 0;
    // Whether the entry is in the timer list, and the loop's arming number when inserted.
    bool linked_ = false;
    std::uint32_t serial_ = 0;
};

// The owner of at most one pending one-shot expiry. Arming replaces a pending expiry;
// reset, firing and destruction leave the Timer idle. A callback may re-arm, reset or
// destroy the Timer that fired (or its owner).
class Timer {
public:
    // The longest delay the loop accepts; longer delays are cut to it.
    static constexpr unsigned int max_delay = 7200000;

    Timer() = default;
    Timer(Timer const&) = delete;
    Timer& operator=(Timer const&) = delete;
    ~Timer() = default;

    // Arms the timer to call object->action() (or object->action(this)) in ms milliseconds.
    // The class is taken from the member function, so an object of a derived class may
    // arm a timer on a member of its base.
    template <class T>
    void set(unsigned int ms, void (T::*action)(), typename std::common_type<T>::type* object);
    template <class T>
    void set(unsigned int ms, void (T::*action)(Timer*), typename std::common_type<T>::type* object);
    // Arms the timer to call a plain function.
    void set(unsigned int ms, void (*fn)());

    void reset() { pending_.reset(); }
    bool is_running() const { return pending_ != nullptr; }
    // Gives up the pending entry without deleting it (the entry kinds call it when firing).
    TimerEvent* Unbind() { return pending_.release(); }

    // The delay that arming with ms uses: ms cut to max_delay, with a line on the error stream.
    static unsigned int checked_delay(unsigned int ms);

private:
    // The new entry is built (and scheduled) before the old one goes.
    void arm(TimerEvent* e) { pending_.reset(e); }

    std::unique_ptr<TimerEvent> pending_;
};

// object->action() when due.
template <class T>
class ObjTimerEvent1 : public TimerEvent {
public:
    ObjTimerEvent1(Timer* owner, void (T::*action)(), T* object, unsigned int ms)
        : owner_(owner), action_(action), object_(object)
    {
        schedule(ms);
    }
    void fire() override
    {
        std::unique_ptr<TimerEvent> self(owner_->Unbind());
        (object_->*action_)();
    }

private:
    Timer* owner_;
    void (T::*action_)();
    T* object_;
};

// object->action(owner) when due.
template <class T>
class ObjTimerEvent2 : public TimerEvent {
public:
    ObjTimerEvent2(Timer* owner, void (T::*action)(Timer*), T* object, unsigned int ms)
        : owner_(owner), action_(action), object_(object)
    {
        schedule(ms);
    }
    void fire() override
    {
        Timer* owner = owner_;
        std::unique_ptr<TimerEvent> self(owner->Unbind());
        (object_->*action_)(owner);
    }

private:
    Timer* owner_;
    void (T::*action_)(Timer*);
    T* object_;
};

// fn() when due.
class SimpleTimerEvent1 : public TimerEvent {
public:
    SimpleTimerEvent1(Timer* owner, void (*fn)(), unsigned int ms) : owner_(owner), fn_(fn)
    {
        schedule(ms);
    }
    void fire() override
    {
        std::unique_ptr<TimerEvent> self(owner_->Unbind());
        fn_();
    }

private:
    Timer* owner_;
    void (*fn_)();
};

template <class T>
void Timer::set(unsigned int ms, void (T::*action)(), typename std::common_type<T>::type* object)
{
    arm(new ObjTimerEvent1<T>(this, action, object, checked_delay(ms)));
}

template <class T>
void Timer::set(unsigned int ms, void (T::*action)(Timer*), typename std::common_type<T>::type* object)
{
    arm(new ObjTimerEvent2<T>(this, action, object, checked_delay(ms)));
}

inline void Timer::set(unsigned int ms, void (*fn)())
{
    arm(new SimpleTimerEvent1(this, fn, checked_delay(ms)));
}

// A component that wants the loop to wake up by itself: while hooked, it is asked for its
// time-out (milliseconds; 0 or less: none) once per turn.
class TimerPoolPlugin {
public:
    TimerPoolPlugin() = default;
    TimerPoolPlugin(TimerPoolPlugin const&) = delete;
    TimerPoolPlugin& operator=(TimerPoolPlugin const&) = delete;
    virtual ~TimerPoolPlugin() { timerUnhook(); }

    virtual int timerTimeout() = 0;

    void timerHook();
    void timerUnhook();
    bool hooked() const { return hooked_; }

private:
    bool hooked_ = false;
};
