#pragma once

#include "board/ioc.h"

#include <cstddef>
#include <cstdint>

// The channel-associated signalling device "/dev/e1-cas" of the E1 framers. Records are in
// the processor's own byte order.

// One trunk time slot and its CAS bits: what the get request fills in, and the event
// record the driver queues for a read when the received bits change.
struct cas_channel {
    std::uint32_t path;      // the trunk, 0 to 3
    std::uint32_t timeslot;  // 0 to 31
    std::uint8_t rx;         // received bits
    std::uint8_t tx;         // transmitted bits
    std::uint8_t reserved[2];
};

static_assert(sizeof(cas_channel) == 12);
static_assert(offsetof(cas_channel, rx) == 8);

namespace e1cas {

constexpr char const* kPath = "/dev/e1-cas";

// Channel control: opens a time slot with the bits to send in the low four bits of tx, or
// closes it.
struct ChannelControl {
    cas_channel channel;
    std::uint32_t flag;  // kOpenChannel or kCloseChannel
};

static_assert(sizeof(ChannelControl) == 16);

constexpr std::uint32_t kOpenChannel = 0;
constexpr std::uint32_t kCloseChannel = 1;

// Open and close take the trunk by value (board::byValue).
constexpr unsigned long kOpenTrunk = 0x80044300;
constexpr unsigned long kCloseTrunk = 0x80044301;
constexpr unsigned long kGetChannel = 0xC00C4303;
constexpr unsigned long kChannelControl = 0xC0104304;

namespace ioc = board::ioc;
static_assert(kOpenTrunk == ioc::make(ioc::write, 'C', 0, sizeof(std::uint32_t)));
static_assert(kCloseTrunk == ioc::make(ioc::write, 'C', 1, sizeof(std::uint32_t)));
static_assert(kGetChannel == ioc::make(ioc::readWrite, 'C', 3, sizeof(cas_channel)));
static_assert(kChannelControl == ioc::make(ioc::readWrite, 'C', 4, sizeof(ChannelControl)));

}  // namespace e1cas
