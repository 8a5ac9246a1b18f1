#pragma once

#include "base/dual_list.h"
#include "runtime/device_return.h"
#include "runtime/dpc.h"
#include "runtime/event.h"
#include "base/fd.h"
#include "base/measure.h"
#include "runtime/timer.h"

#include <poll.h>

#include <csignal>
#include <cstdint>
#include <iosfwd>
#include <list>
#include <string>
#include <vector>

// The one event loop of the process (the global `multiplexer`).
//
// A turn fires the due timers and runs the active deferred calls, adds the handlers
// attached since the last turn to the poll set, runs the deferred calls again, takes the
// poll time-out from the earliest timer and the timer-poll plugins, polls, pings the
// watchdog when due and, when any descriptor is ready, services every polled handler.
//
// A handler whose descriptor poll reports not open (POLLNVAL) is detached before it is
// serviced: it hears of it that once, and the loop never spins on it, whatever the handler
// does with it.
//
// Timers run on the monotonic millisecond clock. A timer that is already due makes the
// turn poll without waiting. While a Mux::TestClock is installed, the loop never waits for
// clock time: timers make the poll wait only when one is due (time-out 0), the watchdog
// does not cap the wait, and a test moves the clock and runs turns itself.
//
// A watchdog whose word cannot be written is closed with one line and opened again
// (runtime/device_return.h) with "START", its next "PING" at once; one line says it is
// back.
class Multiplexer : private DeviceReturn::Owner {
public:
    // One pass of asking the timer-poll plugins.
    class TimerPollNotify {
    public:
        virtual ~TimerPollNotify() = default;
        virtual void removeTimerPoolPlugin(TimerPoolPlugin* plugin) = 0;
    };

    // The longest wait to the earliest timer the loop accepts.
    static constexpr int max_wait = 7200000;
    // The longest wait while the watchdog is open, and the least time between two pings.
    static constexpr int watchdog_period = 1000;

    Multiplexer() = default;
    Multiplexer(Multiplexer const&) = delete;
    Multiplexer& operator=(Multiplexer const&) = delete;

    // Handlers: attached handlers are first polled on the next turn.
    void attach(EventHandler* h);
    void detach(EventHandler* h);
    bool event_exists(EventHandler* h) const { return h->muxList_ >= 0; }

    // Runs turns until terminate(). watchdog: drive "/dev/misc/gw-wd"; liveClock false
    // freezes the clock and refreshes it after every poll. A terminate request made before
    // the call (by a signal during start-up) ends it before the first turn; the request is
    // consumed when it returns.
    void run(bool watchdog, bool liveClock);
    // One turn whose poll waits at most maxWaitMs (negative: no cap). Returns poll's result
    // (the number of ready descriptors, 0 on time-out, -1 when interrupted by a signal).
    int runOnce(int maxWaitMs);
    // Safe in a signal handler: the loop stops before the next handler it would service.
    void terminate() { terminate_ = 1; }
    bool terminating() const { return terminate_ != 0; }

    // Timers (TimerEvent::schedule and TimerEvent::reset call these).
    void set(TimerEvent* e);
    void reset(TimerEvent* e);
    unsigned int timer_count() const { return timers_.count(); }
    // Milliseconds from now to the earliest timer: -1 when none, 0 when one is due.
    int next_timer_wait() const;

    // Deferred calls (Dpc::Activate and Dpc::Deactivate call these).
    void attach(Dpc* d);
    void dettach(Dpc* d);

    // Timer-poll plugins (TimerPoolPlugin::timerHook and timerUnhook call these).
    void hook(TimerPoolPlugin* p);
    void unhook(TimerPoolPlugin* p);

    // The steps of a turn: fire the due timers and run the first deferred-call pass
    // (returns next_timer_wait()); ask the plugins (INT_MAX: none wants a time-out); run
    // one deferred-call pass.
    int timers_schedule();
    int timerPoll_schedule();
    void execute_dpc();

    // The watchdog: open it and write "START" (false when that fails, with a line on the
    // error stream); write "PING"; write "STOP" and close it. run() uses all three.
    bool openWatchdog();
    void resetWD();
    void closeWatchdog();
    bool watchdogOpen() const { return watchdog_.is_valid(); }
    // The watchdog failed and is tried again now and then.
    bool watchdogAway() const { return watchdogReturn_.away(); }

    // The loop's section of the status dump.
    void dump(std::ostream& os) const;

    Measure const& dpcMeasure() const { return dpcMeasure_; }
    Measure const& eventMeasure() const { return eventMeasure_; }
    Measure const& timerMeasure() const { return timerMeasure_; }

private:
    enum { Pending = 0, ListCount = 3 };
    F_dual_list<EventHandler>& list(int i) { return handlers_[i]; }
    void moveTo(EventHandler* h, int to);
    // Takes the handler out of the loop, as if it had detached itself.
    void letGo(EventHandler* h);
    void fireDueTimers();
    void timeWarp(std::uint32_t now, std::uint32_t first);
    int pollTimeout(int maxWaitMs);
    void pingIfDue();
    // Writes the word to the watchdog; on failure the line "<failure><error text>".
    bool tellWatchdog(char const* word, char const* failure);
    // Opens the watchdog and writes "START"; false, errno set, when either fails.
    bool startWatchdog();
    bool Reopen() override;
    void Back() override;
    void service();

    F_sorted_list<TimerEvent> timers_;
    // The pending list, the poll set and the serviced list; the roles of the last two are
    // exchanged after servicing, so handlers never move back one by one.
    F_dual_list<EventHandler> handlers_[ListCount];
    int polled_ = 1;
    int serviced_ = 2;
    std::vector<pollfd> pollArray_;
    // Active deferred calls in ascending address order; the rest of the current pass.
    std::vector<Dpc*> active_;
    std::vector<Dpc*> runList_;
    std::size_t runPos_ = 0;
    volatile std::sig_atomic_t terminate_ = 0;
    Measure dpcMeasure_;
    Measure eventMeasure_;
    Measure timerMeasure_;
    std::list<TimerPoolPlugin*> plugins_;
    TimerPollNotify* pluginPass_ = nullptr;
    Fd watchdog_;
    DeviceReturn watchdogReturn_{*this};
    std::uint32_t lastPing_ = 0;
    bool liveClock_ = true;
    // Arming numbers: with a clock that does not move during a turn, a timer armed while
    // the due ones fire waits for the next turn instead of firing without end.
    std::uint32_t armSerial_ = 0;
};

// The loop of the process; it is never destroyed.
extern Multiplexer& multiplexer;

// The poll bits set in events, as "POLLIN|POLLERR|..." ("" for none).
std::string PollEventAsText(short events);
