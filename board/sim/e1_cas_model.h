#pragma once

#include "board/sim/device.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace board::sim {

// "/dev/e1-cas": which of the four trunks are open for CAS, and per time slot whether it
// is open with the bits it transmits and the bits it receives (0 until set). A change of an
// open time slot's received bits queues a cas_channel record for every open of the device. A
// trunk outside 0..3, a time slot outside 0..31 or an unknown control flag is EINVAL. A
// trunk's close closes its time slots; when the last open closes, every trunk and time slot
// is closed (the received bits stay).
class E1CasModel : public Device {
public:
    static constexpr int kTrunks = 4;
    static constexpr int kTimeslots = 32;

    struct Channel {
        bool open = false;
        std::uint8_t rx = 0;
        std::uint8_t tx = 0;
    };

    E1CasModel();

    bool trunkOpen(int trunk) const { return open_[std::size_t(trunk)]; }
    Channel const& channel(int trunk, int timeslot) const { return channels_[std::size_t(trunk)][std::size_t(timeslot)]; }
    // New received bits of a time slot; the change of an open one goes to every open as an
    // event record.
    void setReceived(int trunk, int timeslot, std::uint8_t rx);

    int request(OpenFile* file, RequestInfo const& info, void* arg) override;
    void closed(OpenFile& file) override;
    // "open=0,2 0/1:rx=5,tx=9": the open trunks, then every time slot that is open or has
    // bits.
    std::string dump() const override;
    // "rx T TS BITS": new received bits; "ok".
    // "channel T TS": "ok open rx=5 tx=9" (or "closed").
    std::string command(std::vector<std::string> const& words) override;

private:
    bool parseChannel(std::vector<std::string> const& words, int& trunk, int& timeslot) const;

    std::array<bool, kTrunks> open_{};
    std::array<std::array<Channel, kTimeslots>, kTrunks> channels_{};
};

}  // namespace board::sim
