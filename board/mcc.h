#pragma once

#include "board/ioc.h"

#include <cstdint>

// The MCC HDLC controller "/dev/mcc/ctl". Every open of the device is one controller channel:
// allocated with the allocation request, then reached through the time-slot switch at the
// switch channel the time-slot request returns. One read or write is one frame. Records are
// in the processor's own byte order.
namespace mcc {

constexpr char const* kPath = "/dev/mcc/ctl";

// Channel types of the controller.
enum ChannelType : std::uint32_t { kData = 0, kBri = 1, kTransparent = 2, kSs7 = 3 };
constexpr std::uint32_t kChannelTypes = 4;

// Channel allocation.
struct Allocate {
    std::uint32_t type;          // ChannelType
    std::uint32_t rxPacketSize;  // receive packet size in bytes
    std::uint32_t reserved;      // 0
    std::uint32_t rxThreshold;
    std::uint32_t txThreshold;
};

// Channel counts, filled by the driver.
struct Counts {
    std::uint32_t data;
    std::uint32_t bri;
    std::uint32_t transparent;
    std::uint32_t reserved;
};

static_assert(sizeof(Allocate) == 20);
static_assert(sizeof(Counts) == 16);

constexpr unsigned long kAllocate = 0x40144D00;
// No record: the result is the channel's switch channel.
constexpr unsigned long kTimeslot = 0x20004D02;
constexpr unsigned long kCounts = 0x80104D03;

namespace ioc = board::ioc;
static_assert(kAllocate == ioc::make(ioc::read, 'M', 0, sizeof(Allocate)));
static_assert(kTimeslot == ioc::make(ioc::none, 'M', 2, 0));
static_assert(kCounts == ioc::make(ioc::write, 'M', 3, sizeof(Counts)));

}  // namespace mcc
