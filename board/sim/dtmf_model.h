#pragma once

#include "board/dtmf.h"
#include "board/sim/device.h"

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace board::sim {

// "/dev/dtmf": per timeslot, what the tone requests set (detector thresholds, the DTMF
// detector with the id of its last enable, IVA, rejection, echo canceller, the last
// SELCAL) and the tone generator's recent settings with the clock's time of each; and the
// detector events a test injects. When the last open closes, the driver lets go of what
// was asked: the detectors, IVA, rejection and echo canceller are off and unconfigured, no
// enable id is current, and a generator that sounds is switched off.
class DtmfModel : public Device {
public:
    // Timeslots the driver knows; others are refused with EINVAL.
    static constexpr std::uint32_t kMaxTimeslot = 0xFFFF;
    // Generator settings kept per timeslot, oldest dropped first.
    static constexpr std::size_t kHistory = 64;

    // One generator setting and when it was made (the loop clock's milliseconds).
    struct Tone {
        std::uint32_t atMs;
        std::uint16_t freq1, freq2, amp1, amp2;
    };

    struct Channel {
        std::optional<dtmf_detector_params> detector;
        bool dtmf = false;
        std::uint32_t id = 0;  // of the last DTMF detector enable
        bool iva = false;
        std::optional<std::int32_t> ivaLevel;
        bool lms = false;
        bool rejection = false;
        std::deque<Tone> generator;
        std::optional<selcal_dial_params> selcal;
    };

    DtmfModel();

    // The timeslot's state; null when no request named it.
    Channel const* channel(std::uint32_t ts) const;
    // Sends a detector event record to every open: a DTMF code (0..127) or an IVA code
    // already shifted, under the id given or the timeslot's current one. Returns the number
    // of opens that took it.
    int inject(std::uint32_t ts, std::uint32_t code, std::optional<std::uint32_t> id = {});

    int request(OpenFile* file, RequestInfo const& info, void* arg) override;
    void closed(OpenFile& file) override;
    // "TS: dtmf=on id=3 iva=off lms=on reject=off ..." for every timeslot named, "; " between.
    std::string dump() const override;
    // "dtmf TS CODE [ID]", "iva TS CODE [ID]": inject an event; "channel TS": its state;
    // "generator TS": its recent settings as "MS:F1/F2/A1/A2".
    std::string command(std::vector<std::string> const& words) override;

private:
    std::string injected(std::uint32_t ts, std::uint32_t code, std::optional<std::uint32_t> id);
    static void record(Channel& c, Tone const& tone);

    std::map<std::uint32_t, Channel> channels_;
};

}  // namespace board::sim
