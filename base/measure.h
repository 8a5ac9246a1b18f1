#pragma once

#include <cstdint>
#include <iosfwd>

// Duration statistics in microseconds: shortest, longest and latest duration and the
// number of samples, each sample taken between begin() and end() on the wrapping
// microsecond clock.
class Measure {
public:
    void begin();
    void end();
    // Records one duration directly.
    void sample(std::uint32_t us);

    // "min=", min, " max=", max, " avg=", the latest duration, " counter=", the count.
    void put(std::ostream& os) const;

    std::uint32_t min() const { return min_; }
    std::uint32_t max() const { return max_; }
    std::uint32_t cur() const { return cur_; }
    std::uint32_t counter() const { return counter_; }

private:
    std::uint32_t min_ = 0;
    std::uint32_t max_ = 0;
    std::uint32_t cur_ = 0;
    bool first_ = true;
    std::uint32_t start_ = 0;
    std::uint32_t counter_ = 0;
};

std::ostream& operator<<(std::ostream& os, Measure const& m);
