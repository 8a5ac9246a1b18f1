#pragma once

#include "board/ioc.h"

#include <cstddef>
#include <cstdint>

// The conference mixer "/dev/mixer": units of TDM channels, each channel a summing point
// that adds source channels of its unit with a gain each. Records are in the processor's
// own byte order.

// One channel of a mixer unit.
struct mix_slot {
    std::int32_t dev_no;  // the unit's number
    std::int32_t type;    // mix_slot_tdm
    std::int32_t number;  // the channel within the unit
};

constexpr std::int32_t mix_slot_tdm = 0;

// A source (tx) added to a summing channel (rx).
struct mix_route {
    mix_slot rx;
    mix_slot tx;
    std::int32_t gain;  // linear, mix_unity_gain for 1
};

constexpr std::int32_t mix_unity_gain = 32767;

// Enumeration record: in, the number of the previous unit (-1 to start); out, the unit that
// follows it.
struct mix_unit {
    std::int32_t id;
    std::int32_t tdm_channels;
    std::int32_t reserved;
    std::int32_t mixer_inputs;
};

static_assert(sizeof(mix_slot) == 12);
static_assert(sizeof(mix_route) == 28);
static_assert(offsetof(mix_route, tx) == 12);
static_assert(offsetof(mix_route, gain) == 24);
static_assert(sizeof(mix_unit) == 16);
static_assert(offsetof(mix_unit, mixer_inputs) == 12);

namespace mixer {

constexpr char const* kPath = "/dev/mixer";

// Removes every source of the summing channel.
constexpr unsigned long kRxClear = 0x800c4d02;
// Adds a source with its gain.
constexpr unsigned long kRxAdd = 0x801c4d03;
// Removes one source.
constexpr unsigned long kRxRemove = 0x801c4d04;
// The result is the switch timeslot of the channel.
constexpr unsigned long kTdm = 0x800c4d06;
// Fills the record with the unit that follows; fails after the last one.
constexpr unsigned long kEnumerate = 0x80104d07;

namespace ioc = board::ioc;
static_assert(kRxClear == ioc::make(ioc::write, 'M', 2, sizeof(mix_slot)));
static_assert(kRxAdd == ioc::make(ioc::write, 'M', 3, sizeof(mix_route)));
static_assert(kRxRemove == ioc::make(ioc::write, 'M', 4, sizeof(mix_route)));
static_assert(kTdm == ioc::make(ioc::write, 'M', 6, sizeof(mix_slot)));
static_assert(kEnumerate == ioc::make(ioc::write, 'M', 7, sizeof(mix_unit)));

}  // namespace mixer
