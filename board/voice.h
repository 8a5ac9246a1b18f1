#pragma once

#include "board/ioc.h"

#include <cstdint>

// The voice driver "/dev/voice": how many codec channels of each kind it has, and its
// version record. Records are in the processor's own byte order.

// The driver's version: five words, as the driver fills them.
struct voice_version {
    std::uint32_t word[5];
};

static_assert(sizeof(voice_version) == 20);

namespace voice {

constexpr char const* kPath = "/dev/voice";

// Codec kinds of the count request.
constexpr std::uint32_t kG711 = 1;
constexpr std::uint32_t kG723 = 2;
constexpr std::uint32_t kG729 = 4;
constexpr std::uint32_t kG711Mcc = 8;
constexpr std::uint32_t kUniversal = 65;

// The argument points at a 32-bit word holding a codec kind; the result is the number of
// channels of that kind (0 or less: none).
constexpr unsigned long kCount = 0x40045602;
// Fills a voice_version.
constexpr unsigned long kVersion = 0x4014560a;

namespace ioc = board::ioc;
static_assert(kCount == ioc::make(ioc::read, 'V', 2, sizeof(std::uint32_t)));
static_assert(kVersion == ioc::make(ioc::read, 'V', 10, sizeof(voice_version)));

}  // namespace voice
