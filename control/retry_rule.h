#pragma once

#include <cstdint>

namespace Control {

// When a connector tries again: after an activation the first seven failed attempts are
// retried 1000 ms apart, later ones after the long wait of the way the attempt failed.
// A lost connection is tried again 10000 ms later and does not refill the quick tries.
class RetryRule {
public:
    static constexpr std::int32_t quick_tries = 7;
    static constexpr unsigned int quick_wait_ms = 1000;
    static constexpr unsigned int reconnect_wait_ms = 10000;

    void Refill() { left_ = quick_tries; }
    // The wait before the next attempt; uses up a quick try while one is left.
    unsigned int Next(unsigned int longWaitMs)
    {
        if (left_ <= 0)
            return longWaitMs;
        --left_;
        return quick_wait_ms;
    }
    std::int32_t left() const { return left_; }

private:
    std::int32_t left_ = 0;
};

}  // namespace Control
