#pragma once

#include "board/sim/device.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace board::sim {

// "/dev/maintenance": the synchronization status of the four E1 framers (a state and five
// counters each, normal and 0 until set), the framers' clock source and their TCLK mask
// (both as last requested). A trunk outside 0..3 is EINVAL.
class MaintenanceModel : public Device {
public:
    static constexpr int kTrunks = 4;

    struct Framer {
        std::uint32_t state = 0;  // 0 normal .. 6 disabled, see kStateNames
        std::uint32_t slips = 0;
        std::uint32_t lossBF = 0;
        std::uint32_t lossCarrier = 0;
        std::uint32_t lossAIS = 0;
        std::uint32_t lossRAI = 0;
    };

    // The state names the console takes and shows, by number.
    static constexpr char const* kStateNames[] = {"normal", "lossBF", "lossCarrier", "ais", "rai", "unknown", "disabled"};

    MaintenanceModel();

    Framer& framer(int trunk) { return framers_[std::size_t(trunk)]; }
    std::optional<std::uint32_t> tclk() const { return tclk_; }
    std::optional<std::uint32_t> clockSource() const { return clockSource_; }

    int request(OpenFile* file, RequestInfo const& info, void* arg) override;
    // "tclk=4 source=none 0:normal 1:lossCarrier,slips=2 ...": the TCLK mask and the clock
    // source last requested, then each trunk's state and its counters that are not 0.
    std::string dump() const override;
    // "trunk T [KEY VALUE]...": sets the state (a name or number) or counters of a trunk
    // (keys state, slips, lossBF, lossCarrier, lossAIS, lossRAI); "ok".
    // "tclk": "ok MASK" or "ok none". "source": "ok SOURCE" or "ok none".
    std::string command(std::vector<std::string> const& words) override;

private:
    std::string setTrunk(std::vector<std::string> const& words);

    std::array<Framer, kTrunks> framers_{};
    std::optional<std::uint32_t> tclk_;
    std::optional<std::uint32_t> clockSource_;
};

}  // namespace board::sim
