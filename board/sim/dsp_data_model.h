#pragma once

#include "board/dsp_data.h"
#include "board/sim/frame_line.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace board::sim {

// "/dev/dsp-data", the DSP data device: every open is one QSIG signalling channel. Each open
// takes the lowest free group of four switch channels from kFirstChannel on (outside the
// trunk channels, the MCC controller's and the RTP driver's pools and the shared bus; an open
// beyond kGroups fails with ENOSPC): the signalling channel, then
// its B channels 0..2, which it lends out by index and takes back; they all go with the
// daemon's last close. One frame is one record on the socket pair, both ways, with a FrameLine
// as the signalling channel's far end.
class DspDataModel : public LineDevice {
public:
    static constexpr int kFirstChannel = 768;
    // Groups of four channels, so the pool ends below the RTP driver's channels.
    static constexpr int kGroups = 64;

    DspDataModel();

    // The signalling channels of the opens, ascending.
    std::vector<int> channels() const { return lineChannels(); }
    // The B channels lent on the open of the signalling channel: index to switch channel.
    std::map<std::uint32_t, int> lent(int channel) const;

    int opened(OpenFile& file) override;
    int request(OpenFile* file, RequestInfo const& info, void* arg) override;
    // The signalling channels, ascending, each with the inode of the daemon's descriptor and
    // its lent B channels as index/channel: "768:ino=4711:b=0/769,2/771 772:ino=4715".
    std::string dump() const override;
    // The frame line commands (lineCommand) on the signalling channels.
    std::string command(std::vector<std::string> const& words) override;

private:
    // The line's channel is the signalling channel.
    struct Channel : LineState {
        std::map<std::uint32_t, int> lent;
    };

    static Channel* channelOf(OpenFile const& file);
    int addB(Channel& c, dspdata::BChannel& record);
    int deleteB(Channel& c, std::uint32_t index);
};

}  // namespace board::sim
