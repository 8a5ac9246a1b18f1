#pragma once

#include "board/mixer.h"
#include "board/sim/device.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace board::sim {

// "/dev/mixer": the mixer units (none at start), each with its TDM channels, its mixer
// inputs and its route set: per summing channel (rx) the source channels (tx) it adds,
// with their gains. Channel c of unit u is at switch timeslot kFirstTimeslot + u * 128 + c.
class MixerModel : public Device {
public:
    static constexpr int kMaxUnit = 255;
    static constexpr int kMaxChannels = 128;
    static constexpr int kMaxInputs = 4096;
    static constexpr int kFirstTimeslot = 4096;

    struct Route {
        int rx;
        int tx;
        std::int32_t gain;
        bool operator==(Route const& o) const { return rx == o.rx && tx == o.tx && gain == o.gain; }
    };

    struct Unit {
        int channels;
        int inputs;
        // (rx, tx) to gain.
        std::map<std::pair<int, int>, std::int32_t> routes;
    };

    MixerModel();

    // A unit appears (replacing one of the same number, routes dropped); false outside the
    // limits above (at least one channel, inputs from 0).
    bool addUnit(int id, int channels, int inputs);
    // The unit disappears with its routes; false when there is none.
    bool removeUnit(int id);
    // Null when there is no such unit.
    Unit const* unit(int id) const;
    // Its routes in rx, then tx order.
    std::vector<Route> routes(int id) const;

    int request(OpenFile* file, RequestInfo const& info, void* arg) override;
    // "3:channels=32,inputs=16,routes=2; 7:channels=16,inputs=16,routes=0".
    std::string dump() const override;
    // "add ID CHANNELS INPUTS", "remove ID", "routes ID" (replies "ok 0<1:20000 0<2:32767").
    std::string command(std::vector<std::string> const& words) override;

private:
    // The unit of a channel record; null (EINVAL) for an unknown unit, a type other than
    // TDM or a channel out of range.
    Unit* channelOf(mix_slot const& slot);
    int editRoutes(unsigned long number, mix_route const& route);
    int enumerate(mix_unit& record) const;

    std::map<int, Unit> units_;
};

}  // namespace board::sim
