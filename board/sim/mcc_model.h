#pragma once

#include "board/mcc.h"
#include "board/sim/device.h"
#include "board/sim/frame_line.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace board::sim {

// "/dev/mcc/ctl", the MCC HDLC controller: each open is one controller channel. An open
// allocates a channel of a type while the type's capacity lasts, then gets a switch channel
// of its own from a pool outside the trunk channels (0..127) and the shared bus
// (8192..10239). One frame is one record on the socket pair, both ways: each channel's far
// end is a FrameLine, which keeps what the daemon writes and may answer as a Q.921 peer;
// frames are pushed to the daemon; a channel is freed with the daemon's last close, or when
// its line is hung up.
class MccModel : public LineDevice {
public:
    using Frame = FrameLine::Frame;

    // The first switch channel of the pool; channels are handed out lowest free first.
    static constexpr int kFirstTimeslot = 512;
    // Capacities until set: data, BRI, transparent, SS7.
    static constexpr std::array<unsigned, mcc::kChannelTypes> kDefaultCapacity{16, 8, 32, 8};

    MccModel();

    void setCapacity(std::uint32_t type, unsigned count) { capacity_[type] = count; }
    unsigned capacity(std::uint32_t type) const { return capacity_[type]; }
    // Channels of the type allocated now.
    unsigned used(std::uint32_t type) const;
    // The switch channels allocated now, ascending.
    std::vector<int> timeslots() const { return lineChannels(); }

    // Queues one frame for the daemon on the channel at the switch channel; false when there
    // is no such channel or its queue is full.
    bool push(int timeslot, Frame const& frame);
    // The frames the daemon wrote on the channel since the last take, oldest first.
    std::vector<Frame> takeWritten(int timeslot);
    // Ends the channel's line: the daemon reads the frames still queued, then the end of
    // file, and sees a hang-up. False when there is no such channel.
    bool hangUp(int timeslot);

    int request(OpenFile* file, RequestInfo const& info, void* arg) override;
    // "data=1/16 bri=0/8 transparent=0/32 ss7=0/8" and the channels, ascending, as
    // "512:data:ino=N" (N: the inode of the daemon's descriptor).
    std::string dump() const override;
    // "capacity TYPE N", and the frame line commands (lineCommand); see board/README.md.
    std::string command(std::vector<std::string> const& words) override;

private:
    // The line's channel is the switch channel.
    struct Channel : LineState {
        mcc::Allocate record{};
    };

    static Channel* channelOf(OpenFile const& file);
    int allocate(OpenFile& file, mcc::Allocate const& record);
    int counts(mcc::Counts& record) const;
    int freeTimeslot() const;

    std::array<unsigned, mcc::kChannelTypes> capacity_ = kDefaultCapacity;
};

}  // namespace board::sim
