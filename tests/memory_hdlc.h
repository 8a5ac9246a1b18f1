#pragma once

#include "hardware/hdlc.h"

#include <cstdint>
#include <vector>

namespace testsupport {

// An HDLC channel in memory for the link protocols' tests: it records every frame it takes,
// refuses frames while told to, and hands frames and readiness to its observer as the real
// channel does. Frames in both directions are kept in one journal, in order, for a capture.
class MemoryHdlc : public GenericHDLC {
public:
    typedef std::vector<std::uint8_t> Bytes;
    struct Frame {
        bool outgoing;  // written by the link (true) or handed to it (false)
        Bytes bytes;
    };

    void bind(HDLC::Notify* notify) { notify_ = notify; }

    bool hdlc_transmit(Packet& packet) override;
    bool is_open() const override { return true; }
    bool is_ready() const override { return !refusing; }

    // A received frame, handed to the observer's on_hdlc_receive.
    void deliver(Bytes const& frame);
    // Stops refusing and tells the observer (on_hdlc_ready).
    void ready();

    // The frames written since the last take, oldest first; they stay in the journal.
    std::vector<Bytes> take();

    // While true, every non-empty frame is refused.
    bool refusing = false;
    std::vector<Frame> journal;

private:
    HDLC::Notify* notify_ = nullptr;
    std::size_t taken_ = 0;
};

}  // namespace testsupport
