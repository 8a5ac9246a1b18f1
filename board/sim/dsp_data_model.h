#pragma once

#include "board/dsp_data.h"
#include "board/sim/device.h"
#include "board/sim/frame_line.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace board::sim {

// "/dev/dsp-data", the DSP data device: every open is one QSIG signalling channel. Each open
// takes the lowest free group of four switch channels from kFirstChannel on (outside the
// trunk channels, the MCC controller's pool and the shared bus): the signalling channel, then
// its B channels 0..2, which it lends out by index and takes back; they all go with the
// daemon's last close. One frame is one record on the socket pair, both ways, with a FrameLine
// as the signalling channel's far end.
class DspDataModel : public Device {
public:
    static constexpr int kFirstChannel = 768;

    DspDataModel();

    // The signalling channels of the opens, ascending.
    std::vector<int> channels() const;
    // The B channels lent on the open of the signalling channel: index to switch channel.
    std::map<std::uint32_t, int> lent(int channel) const;
    // The far end of the signalling channel; null when there is none.
    FrameLine* line(int channel) const;

    int opened(OpenFile& file) override;
    int request(OpenFile* file, RequestInfo const& info, void* arg) override;
    void received(OpenFile& file, void const* data, std::size_t length) override;
    // The signalling channels, ascending, each with the inode of the daemon's descriptor and
    // its lent B channels as index/channel: "768:ino=4711:b=0/769,2/771 772:ino=4715".
    std::string dump() const override;
    // The frame line commands (lineCommand) on the signalling channels.
    std::string command(std::vector<std::string> const& words) override;

private:
    struct Channel : OpenState {
        int channel = -1;
        std::map<std::uint32_t, int> lent;
        FrameLine line;
    };

    static Channel* channelOf(OpenFile const& file);
    OpenFile* find(int channel) const;
    int addB(Channel& c, dspdata::BChannel& record);
    int deleteB(Channel& c, std::uint32_t index);
};

}  // namespace board::sim
