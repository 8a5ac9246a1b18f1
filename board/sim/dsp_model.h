#pragma once

#include "board/dsp.h"
#include "board/sim/device.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace board::sim {

// "/dev/dsp": per timeslot, the functions switched on with the id of the enable of each,
// the last configuration of each kind (tone filters by frequency), how often all tone
// filters were switched off; the driver version; and the DSP events a test injects. When the
// last open closes, the driver lets go of what was asked: every function is off and
// unconfigured, and no enable id is current (the count of resets stays).
class DspModel : public Device {
public:
    // Timeslots the driver knows; others are refused with EINVAL.
    static constexpr std::uint32_t kMaxTimeslot = 0xFFFF;
    static constexpr int kDefaultVersion = 2;

    struct Channel {
        std::uint32_t on = 0;                      // feature bits switched on
        std::map<std::uint32_t, std::uint32_t> ids;  // feature bit: id of its last enable
        // Last configuration by kind (VAD, SD, delays, receive gain); tone filters apart.
        std::map<std::uint32_t, dsproc_configure_params> configs;
        std::map<std::uint16_t, dsproc_configure_params> toneFilters;
        unsigned toneResets = 0;  // disables of every tone filter
    };

    DspModel();

    Channel const* channel(std::uint32_t ts) const;
    // What the version request returns.
    void setVersion(int version) { version_ = version; }
    // Sends an event record to every open; returns the number that took it.
    int inject(dsproc_event_record const& record);

    int request(OpenFile* file, RequestInfo const& info, void* arg) override;
    void closed(OpenFile& file) override;
    // "version=2" then "TS: on=vad,bss ids=vad:1,bss:2 vad=v2:..." for every timeslot named.
    std::string dump() const override;
    // Injects under the id given or the function's current one (0 for tone and flags):
    // "vad TS RX|- TX|- [ID]", "sd TS VALUE [ID]", "bss TS SCORE [ID]",
    // "tone TS FREQ PRESENCE [ID]", "flags TS FLAGS MASK [ID]", "selcal TS 0|1 [ID]".
    // "version [N]": the driver version, or sets it; "channel TS": its state.
    std::string command(std::vector<std::string> const& words) override;

private:
    std::string injectCommand(std::vector<std::string> const& w, std::uint32_t ts);

    std::map<std::uint32_t, Channel> channels_;
    int version_ = kDefaultVersion;
};

}  // namespace board::sim
