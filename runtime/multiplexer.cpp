#include "runtime/multiplexer.h"

#include "base/ext.h"
#include "base/immortal.h"
#include "base/profile.h"
#include "base/table.h"
#include "board/board.h"
#include "board/watchdog.h"
#include "base/clock.h"
#include "base/errno.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {

// Built before main, never destroyed: objects of static lifetime (the reaping service,
// singletons holding events or deferred calls) may still detach from the loop while the
// process exits, whatever the order of their destruction.
Immortal<Multiplexer> immortal;

}  // namespace

Multiplexer& multiplexer = immortal.value;

constexpr int Multiplexer::max_wait;
constexpr int Multiplexer::watchdog_period;

namespace {

bool clockMovesDuringTurn() { return Mux::TestClock::current() == nullptr && Mux::g_tv_time.is_zero(); }

}  // namespace

// Handlers

void Multiplexer::moveTo(EventHandler* h, int to)
{
    if (h->muxList_ >= 0)
        handlers_[h->muxList_].remove(h);
    handlers_[to].push_back(h);
    h->muxList_ = static_cast<signed char>(to);
}

void Multiplexer::letGo(EventHandler* h)
{
    handlers_[h->muxList_].remove(h);
    h->muxList_ = -1;
    h->attached_ = false;
}

void Multiplexer::attach(EventHandler* h)
{
    if (event_exists(h)) {
        std::cerr << "duplicate multiplexer attach " << ext::quoted(h->event_name()) << " ignored."
                  << std::endl;
        return;
    }
    moveTo(h, Pending);
}

void Multiplexer::detach(EventHandler* h)
{
    if (!event_exists(h)) {
        std::cerr << "indvalid Multiplexer::detach " << h->event_name() << std::endl;
        return;
    }
    // A polled handler's entry in this turn's poll array is dropped, so that its closed
    // descriptor does not wake the poll.
    if (h->muxList_ == polled_ && h->pollIndex_ < pollArray_.size())
        pollArray_[h->pollIndex_].fd = -1;
    handlers_[h->muxList_].remove(h);
    h->muxList_ = -1;
}

// Timers

void Multiplexer::set(TimerEvent* e)
{
    reset(e);
    e->serial_ = armSerial_++;
    timers_.insert_to_tail_by_grown(e);
    e->linked_ = true;
}

void Multiplexer::reset(TimerEvent* e)
{
    if (!e->linked_)
        return;
    timers_.remove(e);
    e->linked_ = false;
}

int Multiplexer::next_timer_wait() const
{
    TimerEvent const* head = timers_.head();
    if (!head)
        return -1;
    std::int32_t wait = std::int32_t(head->due_ - Mux::milliseconds());
    return wait < 0 ? 0 : wait;
}

void Multiplexer::fireDueTimers()
{
    std::uint32_t const now = Mux::milliseconds();
    bool const moving = clockMovesDuringTurn();
    std::uint32_t const passStart = armSerial_;
    while (TimerEvent* e = timers_.head()) {
        if (std::int32_t(now - e->due_) < 0)
            break;
        // Armed during this pass while the clock stands still: next turn.
        if (!moving && std::int32_t(e->serial_ - passStart) >= 0)
            break;
        timers_.remove(e);
        e->linked_ = false;
        timerMeasure_.begin();
        e->fire();
        timerMeasure_.end();
    }
}

int Multiplexer::timers_schedule()
{
    fireDueTimers();
    execute_dpc();
    return next_timer_wait();
}

void Multiplexer::timeWarp(std::uint32_t now, std::uint32_t first)
{
    std::cerr << "******** RUNTIME ERROR CONDITION *************"
              << "Multiplexer::timers_schedule() invalid wait time detected!" << std::endl
              << "now = " << now << std::endl
              << "first = " << first << std::endl
              << "count = " << timers_.count() << std::endl;
    for (TimerEvent* e = timers_.head(); e; e = e->get_next())
        e->due_ = now + watchdog_period;
}

// Deferred calls

void Multiplexer::attach(Dpc* d)
{
    auto pos = std::lower_bound(active_.begin(), active_.end(), d, std::less<Dpc*>());
    if (pos == active_.end() || *pos != d)
        active_.insert(pos, d);
}

void Multiplexer::dettach(Dpc* d)
{
    active_.erase(std::remove(active_.begin(), active_.end(), d), active_.end());
    auto rest = runList_.begin() + static_cast<std::ptrdiff_t>(runPos_);
    runList_.erase(std::remove(rest, runList_.end(), d), runList_.end());
}

void Multiplexer::execute_dpc()
{
    runList_.assign(active_.begin(), active_.end());
    runPos_ = 0;
    while (runPos_ < runList_.size()) {
        Dpc* d = runList_[runPos_++];
        dpcMeasure_.begin();
        d->Invoke();
        dpcMeasure_.end();
    }
    runList_.clear();
    runPos_ = 0;
}

// Timer-poll plugins

void Multiplexer::hook(TimerPoolPlugin* p) { plugins_.push_back(p); }

void Multiplexer::unhook(TimerPoolPlugin* p)
{
    if (pluginPass_)
        pluginPass_->removeTimerPoolPlugin(p);
    else
        plugins_.remove(p);
}

int Multiplexer::timerPoll_schedule()
{
    // Takes the plugins out of the list and puts each back before asking it, so that a
    // plugin hooked during the pass waits for the next one and one unhooked is not asked.
    class TimerPollGuard : public TimerPollNotify {
    public:
        TimerPollGuard(std::list<TimerPoolPlugin*>& plugins, TimerPollNotify*& current)
            : plugins_(plugins), current_(current)
        {
            todo_.splice(todo_.end(), plugins_);
            current_ = this;
        }
        ~TimerPollGuard() override { current_ = nullptr; }
        void removeTimerPoolPlugin(TimerPoolPlugin* p) override
        {
            plugins_.remove(p);
            todo_.remove(p);
        }
        TimerPoolPlugin* next()
        {
            if (todo_.empty())
                return nullptr;
            plugins_.splice(plugins_.end(), todo_, todo_.begin());
            return plugins_.back();
        }

    private:
        std::list<TimerPoolPlugin*>& plugins_;
        TimerPollNotify*& current_;
        std::list<TimerPoolPlugin*> todo_;
    };

    TimerPollGuard pass(plugins_, pluginPass_);
    int result = INT_MAX;
    while (TimerPoolPlugin* p = pass.next()) {
        int v = p->timerTimeout();
        if (v > 0 && v < result)
            result = v;
    }
    return result;
}

// The turn

int Multiplexer::pollTimeout(int maxWaitMs)
{
    bool const testClock = Mux::TestClock::current() != nullptr;
    int t = -1;
    if (TimerEvent const* head = timers_.head()) {
        std::uint32_t const now = Mux::milliseconds();
        std::int32_t wait = std::int32_t(head->due_ - now);
        if (wait < 0)
            wait = 0;
        if (wait > max_wait) {
            timeWarp(now, head->due_);
            wait = watchdog_period;
        }
        t = testClock ? (wait == 0 ? 0 : -1) : wait;
    }
    int const b = timerPoll_schedule();
    if (b != INT_MAX && (t < 0 || b < t))
        t = b;

    // A turn that ends the loop does not wait.
    if (terminate_)
        return 0;
    if (t < 0 && pollArray_.empty() && timers_.empty() && maxWaitMs < 0) {
        std::cerr << "multiplexer: system hang detected!!!" << std::endl;
        std::abort();
    }
    if (watchdog_.is_valid() && !testClock && (t < 0 || t > watchdog_period))
        t = watchdog_period;
    if (maxWaitMs >= 0 && (t < 0 || t > maxWaitMs))
        t = maxWaitMs;
    // Only a test moves a test clock: waiting without limit for it would never end.
    if (testClock && t < 0 && pollArray_.empty())
        t = 0;
    return t;
}

void Multiplexer::pingIfDue()
{
    std::uint32_t const now = Mux::milliseconds();
    if (lastPing_ == 0 || now < lastPing_ || now - lastPing_ >= std::uint32_t(watchdog_period)) {
        lastPing_ = now;
        resetWD();
    }
}

void Multiplexer::service()
{
    F_dual_list<EventHandler>& polled = handlers_[polled_];
    for (EventHandler* h = polled.head(); h; h = h->get_next())
        h->revents_ = pollArray_[h->pollIndex_].revents;
    while (EventHandler* h = polled.head()) {
        if (terminate_)
            break;
        // A descriptor that is not open stays so and would wake every poll at once.
        if (h->revents_ & POLLNVAL)
            letGo(h);
        else
            moveTo(h, serviced_);
        eventMeasure_.begin();
        h->svc_event();
        eventMeasure_.end();
    }
    // Handlers left unserviced by a terminate request keep their place behind the others.
    while (EventHandler* h = polled.head())
        moveTo(h, serviced_);
    std::swap(polled_, serviced_);
}

int Multiplexer::runOnce(int maxWaitMs)
{
    timers_schedule();

    F_dual_list<EventHandler>& polled = handlers_[polled_];
    while (EventHandler* h = handlers_[Pending].head())
        moveTo(h, polled_);
    if (pollArray_.size() != polled.count())
        pollArray_.resize(polled.count());
    unsigned int i = 0;
    for (EventHandler* h = polled.head(); h; h = h->get_next(), ++i) {
        h->pollIndex_ = i;
        h->shedule_event(pollArray_[i]);
    }

    // Handlers attached here wait in the pending list for the next turn; the time-out is
    // taken afterwards, so that a timer armed here counts.
    execute_dpc();
    int const t = pollTimeout(maxWaitMs);

    int const n = ::poll(pollArray_.data(), pollArray_.size(), t);
    int const err = errno;
    if (!liveClock_)
        Mux::mux_settimeofday();
    pingIfDue();
    if (n == 0)
        return 0;
    if (n < 0) {
        if (err == EINTR)
            return -1;
        std::cerr << "multiplexer poll failed: " << std::strerror(err) << std::endl;
        std::abort();
    }
    service();
    return n;
}

void Multiplexer::run(bool watchdog, bool liveClock)
{
    lastPing_ = 0;
    // A request made before the loop started (a SIGTERM during start-up) is kept: the loop
    // then ends at once instead of losing it.
    if (watchdog)
        openWatchdog();
    liveClock_ = liveClock;
    if (!liveClock_)
        Mux::mux_settimeofday();
    while (!terminate_)
        runOnce(-1);
    std::clog << "Mux: terminating..." << std::endl;
    closeWatchdog();
    // The request is consumed: the loop can be run again.
    terminate_ = 0;
    liveClock_ = true;
}

// The watchdog

namespace {

bool writeWord(Fd& fd, char const* word)
{
    unsigned int const n = static_cast<unsigned int>(std::strlen(word));
    return write(fd, word, n) == static_cast<ssize_t>(n);
}

}  // namespace

bool Multiplexer::openWatchdog()
{
    watchdogReturn_.Cancel();
    if (startWatchdog())
        return true;
    Errno e;
    std::cerr << (watchdog_.is_valid() ? "Mux: fail to activate watchdog: " : "Mux: fail to open watchdog: ") << e
              << std::endl;
    watchdog_.close();
    return false;
}

bool Multiplexer::startWatchdog()
{
    lastPing_ = 0;
    watchdog_ = Fd(board::board().open(watchdog::kPath, O_WRONLY | O_CLOEXEC));
    return watchdog_.is_valid() && writeWord(watchdog_, "START");
}

bool Multiplexer::Reopen()
{
    if (startWatchdog())
        return true;
    watchdog_.close();
    return false;
}

void Multiplexer::Back() { std::clog << "Mux: watchdog opened again" << std::endl; }

bool Multiplexer::tellWatchdog(char const* word, char const* failure)
{
    if (writeWord(watchdog_, word))
        return true;
    Errno e;
    std::cerr << failure << e << std::endl;
    return false;
}

void Multiplexer::resetWD()
{
    if (!watchdog_.is_valid() || writeWord(watchdog_, "PING"))
        return;
    Errno e;
    watchdog_.close();
    if (watchdogReturn_.Ended())
        std::cerr << "Mux: ping watchdog failed: " << e << std::endl;
}

void Multiplexer::closeWatchdog()
{
    watchdogReturn_.Cancel();
    if (!watchdog_.is_valid())
        return;
    tellWatchdog("STOP", "Mux: stop watchdog failed: ");
    watchdog_.close();
}

// The status dump

void Multiplexer::dump(std::ostream& os) const
{
    os << "dpc transition measurement (min/max/cur/counter): " << dpcMeasure_ << std::endl;
    os << "event transition measurement (min/max/cur/counter): " << eventMeasure_ << std::endl;
    os << "timer transition measurement (min/max/cur/counter): " << timerMeasure_ << std::endl;
    Profile::dump(os);

    ext::Table table(40, 30, 10, 10, 5, 60);
    os << table << ext::delimeter;
    os << table << ext::beginrow << "name" << ext::nextrow << "events" << ext::nextrow << "count"
       << ext::nextrow << "handler" << ext::nextrow << "fd" << ext::nextrow << "measure"
       << ext::nextrow << ext::delimeter;
    // Every attached handler, whenever the dump is asked for: those serviced so far in this
    // turn, those still to be serviced, then those attached since the poll set was built.
    for (int list : {serviced_, polled_, int(Pending)}) {
        for (EventHandler const* h = handlers_[list].head(); h; h = h->get_next()) {
            if (!h->is_named())
                continue;
            Event const* e = dynamic_cast<Event const*>(h);
            if (!e)
                continue;
            os << table << ext::beginrow << e->event_name() << ext::nextrow
               << PollEventAsText(e->events()) << ext::nextrow << e->count() << ext::nextrow
               << (e->bound() ? "attached" : "unattached") << ext::nextrow << e->lowlevel_fd()
               << ext::nextrow << e->measure() << ext::nextrow;
        }
    }
    os << table << ext::delimeter;
    os << std::endl;
}

std::string PollEventAsText(short events)
{
    static struct {
        short bit;
        char const* label;
    } const labels[] = {
        {0x1, "|POLLIN"},       {0x2, "|POLLPRI"},     {0x4, "|POLLOUT"},    {0x8, "|POLLERR"},
        {0x10, "|POLLHUP"},     {0x20, "|POLLNVAL"},   {0x40, "|POLLRDNORM"}, {0x80, "|POLLRDBAND"},
        {0x100, "|POLLWRNORM"}, {0x200, "|POLLWRBAND"}, {0x400, "|POLLMSG"},
    };
    std::string text;
    for (auto const& l : labels) {
        if (events & l.bit)
            text += l.label;
    }
    return text.empty() ? text : text.substr(1);
}
