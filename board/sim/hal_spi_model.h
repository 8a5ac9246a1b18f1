#pragma once

#include "board/sim/device.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace board::sim {

// The clock source and the SPI line chips behind "/dev/hal": part of HalModel, which hands
// it the requests and console words that are not the switch's.
//
// The clock source is the index last selected (any 32-bit value). Each of the eight line
// chips has 256 one-byte registers, 0 until written; a read returns the register as the
// request's result. A line outside 0..7 is EINVAL; while SPI is absent every SPI request
// fails with ENODEV, as on a board without SPI.
class HalSpiModel {
public:
    static constexpr int kLines = 8;

    // The requests it answers, for the device's request table.
    static std::vector<RequestInfo> requests();

    // The result (0 or more) or a negative errno; -ENOTTY for a request not its own.
    int request(RequestInfo const& info, void* arg);
    // "clock": "ok N" (the selected source) or "ok none".
    // "spi LINE REG": "ok VALUE". "spi LINE REG VALUE": sets a register (a line status).
    // "spi absent", "spi present".
    // Nothing for words that are not its own.
    std::optional<std::string> command(std::vector<std::string> const& words);

    std::optional<std::int32_t> clockSource() const { return clock_; }
    std::uint8_t reg(int line, int reg) const { return regs_[std::size_t(line)][std::size_t(reg)]; }
    void setReg(int line, int reg, std::uint8_t value) { regs_[std::size_t(line)][std::size_t(reg)] = value; }
    bool present() const { return present_; }
    void setPresent(bool present) { present_ = present; }

private:
    std::optional<std::int32_t> clock_;
    std::array<std::array<std::uint8_t, 256>, kLines> regs_{};
    bool present_ = true;
};

}  // namespace board::sim
