#pragma once

#include "board/ioc.h"

#include <cstdint>

// The DSP data device "/dev/dsp-data": a QSIG signalling channel carried as HDLC frames (one
// read or write is one frame) and the B channels that go with it, lent out by index. Records
// are in the processor's own byte order.
namespace dspdata {

constexpr char const* kPath = "/dev/dsp-data";

// B channels a signalling channel lends out, indexes 0..kBChannels-1.
constexpr std::uint32_t kBChannels = 3;

// Lending a B channel: the index goes in, with channel -1; the driver puts the B channel's
// switch channel in its place.
struct BChannel {
    std::uint32_t index;
    std::int32_t channel;
};

static_assert(sizeof(BChannel) == 8);

// The signalling channel's switch channel is the result; a 32-bit word is passed for the
// driver to fill as well.
constexpr unsigned long kSignallingChannel = 0x40044211;
constexpr unsigned long kAddBChannel = 0x8008420F;
// The argument is the 32-bit index.
constexpr unsigned long kDeleteBChannel = 0x80044210;

namespace ioc = board::ioc;
static_assert(kSignallingChannel == ioc::make(ioc::read, 'B', 0x11, sizeof(std::uint32_t)));
static_assert(kAddBChannel == ioc::make(ioc::write, 'B', 0x0F, sizeof(BChannel)));
static_assert(kDeleteBChannel == ioc::make(ioc::write, 'B', 0x10, sizeof(std::uint32_t)));

}  // namespace dspdata
