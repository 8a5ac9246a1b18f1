#pragma once

#include "runtime/timer.h"

#include <cstdint>

// Requests that the driver refused while the daemon let go of something (a destroy, a lost
// channel): they are owed until they are made. The owner keeps what is owed and pays it
// (PayOwed); this tries the payment 1 s after the first refusal, then after twice the last
// wait each time up to about a minute, as a device that does not come back is tried, until
// the owner has nothing left to pay.
class OwedRequests {
public:
    class Owner {
    public:
        virtual ~Owner() = default;
        // Makes, quietly, what is owed and the driver now takes; true when nothing is left.
        virtual bool PayOwed() = 0;
    };

    static constexpr std::uint32_t first_wait_ms = 1000;
    static constexpr std::uint32_t last_wait_ms = 64000;

    explicit OwedRequests(Owner& owner) : owner_(owner) {}
    OwedRequests(OwedRequests const&) = delete;
    OwedRequests& operator=(OwedRequests const&) = delete;

    // Something more is owed: the tries begin, or go on at their pace.
    void Owe();
    // Nothing is owed any more (the owner paid it all itself, or the driver let go of it).
    void Clear();
    bool owing() const { return timer_.is_running(); }
    // The wait before the next try (0 while nothing is owed).
    std::uint32_t wait() const { return wait_; }

private:
    void OnTimer();

    Owner& owner_;
    Timer timer_;
    std::uint32_t wait_ = 0;
};
