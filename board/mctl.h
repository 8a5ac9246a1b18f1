#pragma once

#include <cstdint>

// The modem control device "/dev/mctl": the board's DSP modems. An open takes one modem with
// the allocation request and holds it until its last close; the modem's switch channel
// joins it to the time-slot switch, and its tty "/dev/mdm%d" carries the call's data. The
// requests are old-style numbers (no size or direction bits); records are in the
// processor's own byte order.
namespace mctl {

constexpr char const* kPath = "/dev/mctl";
// The tty of modem n.
constexpr char const* kTtyFormat = "/dev/mdm%d";

// Argument 0 (by value); result: the modem number.
constexpr unsigned long kAllocate = 0xbb0b;
// Argument (by value): the previous modem number, -1 for the first; result: the next one,
// -1 with ENODEV after the last.
constexpr unsigned long kEnumerate = 0xbb0c;
// Argument 0 (by value); result: the switch channel of this open's modem.
constexpr unsigned long kTimeslot = 0xbb15;
// ModemPair{modem, mode mask}.
constexpr unsigned long kSetDataModes = 0xbb16;
// ModemPair{modem, kNoWord}: the data-modem parameters back to their defaults.
constexpr unsigned long kResetParams = 0xbb3a;
// ModemParam.
constexpr unsigned long kSetParam = 0xbb38;
// ModemPair{modem, kNoWord}: answer, originate, originate a fax call.
constexpr unsigned long kAnswer = 0xbb03;
constexpr unsigned long kOriginate = 0xbb04;
constexpr unsigned long kFaxOriginate = 0xbb40;

constexpr std::uint32_t kNoWord = 0xFFFFFFFF;

// Digital data mode bits of kSetDataModes (V.120 has none).
constexpr std::uint32_t kModeV110 = 0x1;
constexpr std::uint32_t kMode8Bit = 0x2;
constexpr std::uint32_t kMode7Bit = 0x4;

struct ModemPair {
    std::int32_t modem;
    std::uint32_t word;
};

struct ModemParam {
    std::int32_t modem;
    std::uint32_t index;
    std::uint32_t value;
};

static_assert(sizeof(ModemPair) == 8);
static_assert(sizeof(ModemParam) == 12);

}  // namespace mctl
