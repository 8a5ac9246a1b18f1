#pragma once

#include <cstdint>

namespace Hardware {

// What a slot that listens to the tone detectors of its switch channel implements.
class TonecReceiver {
public:
    // One detector event: its code and timestamp, as the event record gives them.
    struct Params {
        std::uint32_t code;
        std::uint32_t timestamp;
    };

    virtual ~TonecReceiver() = default;
    virtual void tonec_event(Params const& params) = 0;
    // The switch channel whose detectors this receiver listens to.
    virtual std::uint32_t tonec_timeslot() const = 0;
    // The tone generator finished what it was given.
    virtual void tone_gen_complete() {}
};

}  // namespace Hardware
