#pragma once

#include "board/sim/device.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace board::sim {

// The board bytes behind "/dev/hal" that the monitoring controller reads and writes, one
// byte each through a pointer: part of HalModel, which hands it the requests and console
// words that are not the switch's.
//
// The dip switch and the power-supply state code are what a test set (0 and 2, main
// supply, until then); the front LEDs keep the byte last written (0 until then): two bits
// for each E1 framer e, bit 2e the link and bit 2e+1 the line.
class HalBoardModel {
public:
    // The requests it answers, for the device's request table.
    static std::vector<RequestInfo> requests();

    // 0, or -ENOTTY for a request not its own.
    int request(RequestInfo const& info, void* arg);
    // "dip VALUE" and "power CODE" (0 to 255): "ok". "leds": "ok 0xNN".
    // Nothing for words that are not its own.
    std::optional<std::string> command(std::vector<std::string> const& words);

    void setDip(std::uint8_t value) { dip_ = value; }
    void setPowerCode(std::uint8_t code) { powerCode_ = code; }
    std::uint8_t leds() const { return leds_; }

private:
    std::uint8_t dip_ = 0;
    std::uint8_t powerCode_ = 2;
    std::uint8_t leds_ = 0;
};

}  // namespace board::sim
