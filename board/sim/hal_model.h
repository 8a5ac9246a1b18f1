#pragma once

#include "board/sim/device.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace board::sim {

// "/dev/hal" as the time-slot switch uses it: the output table and the bytes on the
// channels. An output never touched counts as disabled. Besides, the board bytes the
// monitoring controller reads and writes: dip switch, power-supply state code, front LEDs.
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
    // The byte a read of the channel returns unless it is a written output.
    void setChannelByte(int channel, std::uint8_t byte) { bytes_[channel] = byte; }

    int request(OpenFile* file, RequestInfo const& info, void* arg) override;
    // The touched outputs in increasing order, runs of equal state merged:
    // "8192-8199:off" disabled, "37<8322" connected to input 8322, "8200=0xd5" written.
    std::string dump() const override;
    // "byte CH VALUE": sets the byte a read of CH returns.
    // "output CH": "ok off disables=N", "ok <IN disables=N" or "ok =0xNN disables=N".
    // "dip VALUE", "power CODE", "leds": see the board bytes below.
    std::string command(std::vector<std::string> const& words) override;

    // Board bytes: what the dip-switch and power-status requests return (0 and 2, main
    // supply, until set) and the LED byte last written (0 until then).
    void setDip(std::uint8_t value) { dip_ = value; }
    void setPowerCode(std::uint8_t code) { powerCode_ = code; }
    std::uint8_t leds() const { return leds_; }

private:
    // The dip, power and LED requests; ENOTTY for any other.
    int boardByteRequest(RequestInfo const& info, std::uint8_t& byte);
    // "dip VALUE" and "power CODE" ("ok"), "leds" ("ok 0xNN"); "" for other words.
    std::string boardByteCommand(std::vector<std::string> const& words);

    std::map<int, Output> outputs_;
    std::map<int, std::uint8_t> bytes_;
    std::uint8_t dip_ = 0;
    std::uint8_t powerCode_ = 2;
    std::uint8_t leds_ = 0;
};

}  // namespace board::sim
