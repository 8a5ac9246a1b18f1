#include "base/measure.h"

#include "base/clock.h"

#include <ostream>

void Measure::begin() { start_ = Mux::microseconds(); }

void Measure::end() { sample(Mux::microseconds() - start_); }

void Measure::sample(std::uint32_t d)
{
    if (first_) {
        first_ = false;
        min_ = max_ = cur_ = d;
        counter_ = 1;
        return;
    }
    ++counter_;
    if (d < min_)
        min_ = d;
    if (d > max_)
        max_ = d;
    cur_ = d;
}

void Measure::put(std::ostream& os) const
{
    os << "min=" << std::dec << min_ << " max=" << std::dec << max_ << " avg=" << std::dec << cur_
       << " counter=" << std::dec << counter_;
}

std::ostream& operator<<(std::ostream& os, Measure const& m)
{
    m.put(os);
    return os;
}
