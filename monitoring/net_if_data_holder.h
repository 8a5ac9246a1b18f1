#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// The smoothed running state of one network interface: up when at least two of its last
// three samples found it running. A plain value.
class NetIfDataHolder {
public:
    // The samples kept.
    static constexpr std::size_t max_samples = 3;
    // Interface indexes looked at when the interfaces are listed.
    static constexpr std::int32_t max_index = 16;

    NetIfDataHolder(std::int32_t ifIndex, std::string name);

    // Every interface index below max_index that has a name, in increasing order; none when
    // the interface socket cannot be opened.
    static std::vector<NetIfDataHolder> List();

    // Samples the interface's running flag: setNetIfStatus's result, false when the
    // interface cannot be asked (logged with the monitoring trace switch on).
    bool updateNetIf();
    // Adds one sample (0 or 1); true when the smoothed state changed (always at the first).
    bool setNetIfStatus(std::int32_t running);

    std::int32_t status = -1;  // -1 not sampled yet, 0 down, 1 up
    std::int32_t operStatus = 2;   // 1 up, 2 down
    std::int32_t adminStatus = 2;  // as operStatus
    std::deque<std::int32_t> samples;  // oldest first
    std::int32_t ifIndex;
    std::string name;
};
