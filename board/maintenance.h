#pragma once

#include "board/ioc.h"

#include <cstddef>
#include <cstdint>

// The framer maintenance device "/dev/maintenance": synchronization status of the four E1
// framers, the framers' clock source and their transmit-clock (TCLK) mask. Records are in
// the processor's own byte order.
namespace maintenance {

constexpr char const* kPath = "/dev/maintenance";

// Synchronization status of one framer; the daemon zeroes it and names the trunk.
struct SyncStatus {
    std::uint32_t trunk;
    std::uint32_t reserved0[8];
    std::uint32_t slips;
    std::uint32_t lossBF;  // loss of basic frame count
    std::uint32_t lossCarrier;
    std::uint32_t lossAIS;
    std::uint32_t lossRAI;
    std::uint32_t reserved1[5];
    // Numbered as the trunk states of the trunk reports: 0 normal, 1 lossBF,
    // 2 lossCarrier, 3 ais, 4 rai, 5 unknown, 6 disabled.
    std::uint32_t state;
};

static_assert(sizeof(SyncStatus) == 80);
static_assert(offsetof(SyncStatus, slips) == 36);
static_assert(offsetof(SyncStatus, lossRAI) == 52);
static_assert(offsetof(SyncStatus, state) == 76);

// The status request takes the record; the clock-source and TCLK requests take their
// value by value (board::byValue).
constexpr unsigned long kSyncStatus = 0xC0504D03;
constexpr unsigned long kClockSource = 0xC0044D0A;
constexpr unsigned long kTclk = 0xC0044D0B;

namespace ioc = board::ioc;
static_assert(kSyncStatus == ioc::make(ioc::readWrite, 'M', 3, sizeof(SyncStatus)));
static_assert(kClockSource == ioc::make(ioc::readWrite, 'M', 10, sizeof(std::uint32_t)));
static_assert(kTclk == ioc::make(ioc::readWrite, 'M', 11, sizeof(std::uint32_t)));

}  // namespace maintenance
