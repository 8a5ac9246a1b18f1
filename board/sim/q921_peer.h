#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace board::sim {

// The far side of one Q.921 data link, scripted: SABME is answered with UA, DISC with UA (DM
// when not established), an I-frame with RR acknowledging it when in sequence, a supervisory
// command with P set with RR F=1. Its own I-frames are commands of the other side. It
// neither retransmits nor checks N(R).
class Q921Peer {
public:
    using Frame = std::vector<std::uint8_t>;

    // The answer to a frame of the other side; none when it needs none.
    std::optional<Frame> answer(Frame const& frame);
    // The next I-frame carrying the octets; none before establishment. sent() counts it once
    // it went.
    std::optional<Frame> iframe(Frame const& info) const;
    void sent() { vs_ = (vs_ + 1) % 128; }
    // Released, its sequence numbers at 0.
    void reset();
    bool established() const { return established_; }

private:
    bool established_ = false;
    // The address octets of the other side's commands, from its SABME.
    std::array<std::uint8_t, 2> address_{};
    unsigned vs_ = 0;
    unsigned vr_ = 0;
};

}  // namespace board::sim
