#pragma once

#include "board/sim/q921_peer.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace board::sim {

// Terminals on the user side of a basic-rate bus, scripted, facing the network side of its
// D channel: each asks for a TEI when it joins (its Ri is its number, from 1), takes the TEI
// assigned to its Ri, answers identity checks for its TEI or the group, forgets its TEI on
// an identity remove, and runs its data link (Q921Peer) once the network sends SABME to its
// TEI. Broadcasts are left to the reader of the line.
class BriTerminals {
public:
    using Frame = Q921Peer::Frame;

    static constexpr unsigned kMaxTerminals = 8;

    // n terminals (1..8) join in place of any before; their identity requests, in order.
    std::vector<Frame> join(unsigned n);
    // The terminals' answers to a frame of the network, in order.
    std::vector<Frame> answer(Frame const& frame);
    // The I-frame terminal k (from 1) sends with the octets; none without a TEI and a link.
    // sent(k) counts it once it went.
    std::optional<Frame> iframe(unsigned k, Frame const& info) const;
    void sent(unsigned k) { terminals_.at(k - 1).link.sent(); }

    unsigned count() const { return unsigned(terminals_.size()); }
    // The TEI of terminal k (from 1); -1 while it has none.
    int tei(unsigned k) const { return terminals_.at(k - 1).tei; }

private:
    struct Terminal {
        std::uint16_t ri = 0;
        int tei = -1;
        Q921Peer link;
    };

    std::vector<Frame> management(Frame const& frame);

    std::vector<Terminal> terminals_;
};

}  // namespace board::sim
