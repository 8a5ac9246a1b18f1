#pragma once

#include "board/sim/device.h"
#include "board/sim/hal_board_model.h"
#include "board/sim/hal_spi_model.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace board::sim {

// "/dev/hal" as the time-slot switch uses it: the output table and the bytes on the
// channels. An output never touched counts as disabled. Every channel has its place in
// flat tables, so each switch request takes the same few steps; the touched outputs are
// also kept in order, so that a dump goes through those only. The clock source and the SPI
// line chips are its part spi(); the dip switch, power status and front LEDs its part
// boardBytes().
class HalModel : public Device {
public:
    // Channels the switch knows; others are refused with EINVAL.
    static constexpr std::uint32_t kMaxChannel = 0xFFFF;
    // What a read of a channel returns until a test sets another byte.
    static constexpr std::uint8_t kDefaultByte = 0xFF;

    struct Output {
        enum class State { disabled, connected, written };
        State state = State::disabled;
        int input = -1;           // connected: the input it copies
        std::uint8_t byte = 0;    // written: the byte it sends
        unsigned disables = 0;    // disable requests it got

        bool operator==(Output const& o) const
        {
            return state == o.state && input == o.input && byte == o.byte;
        }
    };

    HalModel();

    Output output(int channel) const;
    unsigned disableCount(int channel) const { return output(channel).disables; }
    // The byte a read of the channel returns unless it is a written output (channels the
    // switch does not know are ignored).
    void setChannelByte(int channel, std::uint8_t byte);

    int request(OpenFile* file, RequestInfo const& info, void* arg) override;
    // The touched outputs in increasing order, runs of equal state merged:
    // "8192-8199:off" disabled, "37<8322" connected to input 8322, "8200=0xd5" written.
    std::string dump() const override;
    // "byte CH VALUE": sets the byte a read of CH returns.
    // "output CH": "ok off disables=N", "ok <IN disables=N" or "ok =0xNN disables=N".
    // And the commands of spi() and boardBytes().
    std::string command(std::vector<std::string> const& words) override;

    HalSpiModel& spi() { return spi_; }
    HalBoardModel& boardBytes() { return boardBytes_; }

private:
    static bool known(std::uint32_t channel) { return channel <= kMaxChannel; }
    // The output, marked as touched.
    Output& touch(std::uint32_t channel);

    std::vector<Output> outputs_;
    std::vector<std::uint8_t> touched_;
    std::set<std::uint32_t> touchedInOrder_;
    std::vector<std::uint8_t> bytes_;
    HalSpiModel spi_;
    HalBoardModel boardBytes_;
};

}  // namespace board::sim
