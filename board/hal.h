#pragma once

#include "board/ioc.h"

#include <cstdint>

// The board-control device "/dev/hal": time-slot switch, clock source, SPI line-chip
// registers, dip switch, power status and front LEDs. Each user opens it read-write itself.
// Records are in the processor's own byte order (big-endian on the board).
namespace hal {

constexpr char const* kPath = "/dev/hal";

// Switch connect: the output copies the input.
struct SwitchConnect {
    std::uint32_t output;
    std::uint32_t input;
};

// Switch disable: the output is no longer driven.
struct SwitchDisable {
    std::uint32_t output;
};

// Switch write (the output sends the constant byte) and switch read (value is given as 255;
// the driver returns the channel's current byte in its low 8 bits).
struct SwitchByte {
    std::uint32_t channel;
    std::uint32_t value;
};

// Clock source select.
struct ClockSource {
    std::uint32_t index;
};

// SPI register read (value given as 0xFF; the register's value is the request's result) and
// write.
struct SpiRegister {
    std::uint8_t channel;
    std::uint8_t reg;
    std::uint8_t value;
};

// Dip switch and power status (given as 0, returned by the driver) and front LED bits.
using BoardByte = std::uint8_t;

static_assert(sizeof(SwitchConnect) == 8);
static_assert(sizeof(SwitchDisable) == 4);
static_assert(sizeof(SwitchByte) == 8);
static_assert(sizeof(ClockSource) == 4);
static_assert(sizeof(SpiRegister) == 3);
static_assert(sizeof(BoardByte) == 1);

constexpr unsigned long kSwitchConnect = 0x80084D02;
constexpr unsigned long kSwitchDisable = 0x80044D03;
constexpr unsigned long kSwitchWrite = 0xC0084D04;
constexpr unsigned long kSwitchRead = 0xC0084D05;
constexpr unsigned long kClockSelect = 0x80044301;
constexpr unsigned long kSpiRead = 0xC0034203;
constexpr unsigned long kSpiWrite = 0xC0034204;
constexpr unsigned long kDipSwitch = 0xC0014205;
constexpr unsigned long kPowerStatus = 0xC0014206;
constexpr unsigned long kFrontLeds = 0xC0014207;

namespace ioc = board::ioc;
static_assert(kSwitchConnect == ioc::make(ioc::write, 'M', 2, sizeof(SwitchConnect)));
static_assert(kSwitchDisable == ioc::make(ioc::write, 'M', 3, sizeof(SwitchDisable)));
static_assert(kSwitchWrite == ioc::make(ioc::readWrite, 'M', 4, sizeof(SwitchByte)));
static_assert(kSwitchRead == ioc::make(ioc::readWrite, 'M', 5, sizeof(SwitchByte)));
static_assert(kClockSelect == ioc::make(ioc::write, 'C', 1, sizeof(ClockSource)));
static_assert(kSpiRead == ioc::make(ioc::readWrite, 'B', 3, sizeof(SpiRegister)));
static_assert(kSpiWrite == ioc::make(ioc::readWrite, 'B', 4, sizeof(SpiRegister)));
static_assert(kDipSwitch == ioc::make(ioc::readWrite, 'B', 5, sizeof(BoardByte)));
static_assert(kPowerStatus == ioc::make(ioc::readWrite, 'B', 6, sizeof(BoardByte)));
static_assert(kFrontLeds == ioc::make(ioc::readWrite, 'B', 7, sizeof(BoardByte)));

}  // namespace hal
