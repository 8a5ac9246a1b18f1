#pragma once

// The same load on two sides in alternating slices, round after round, so that what else the
// machine runs meanwhile weighs on both alike. A figure is the ratio of side 1 to side 0
// within each round; the rounds' median of it is the figure to compare, with the lowest and
// highest beside it (a wide range means the machine was busy).

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

// Each round's slices of both sides: slice(i) runs one slice of the load on side i (0 or 1).
// The side that goes first changes from round to round.
template <class Slice, class Load>
std::vector<std::array<Slice, 2>> alternate(int rounds, Load const& slice)
{
    std::vector<std::array<Slice, 2>> out(std::size_t(std::max(rounds, 0)));
    for (std::size_t round = 0; round < out.size(); ++round)
        for (std::size_t k = 0; k < 2; ++k) {
            int const side = int((round + k) % 2);
            out[round][std::size_t(side)] = slice(side);
        }
    return out;
}

// One figure's ratios over the rounds.
class Ratios {
public:
    void add(double ratio) { sorted_.insert(std::upper_bound(sorted_.begin(), sorted_.end(), ratio), ratio); }

    // The rounds' median: a round in which a busy machine held one side back moves it little.
    double median() const { return sorted_[sorted_.size() / 2]; }
    double lowest() const { return sorted_.front(); }
    double highest() const { return sorted_.back(); }

    // The median, then the lowest and highest in brackets, each divided by the scale.
    std::string text(double scale = 1) const
    {
        char out[64];
        std::snprintf(out, sizeof out, "%8.2f  (%.2f..%.2f)", median() / scale, lowest() / scale, highest() / scale);
        return out;
    }

private:
    std::vector<double> sorted_;
};

}  // namespace bench
