#pragma once

#include "slots/trunk_slot.h"

// One channel (0..3) of one of the eight BRI lines: a trunk slot on switch channel
// trunk * 4 + channel.
class TrunkBRISlot : public TrunkSlot {
public:
    explicit TrunkBRISlot(std::uint32_t channel) : TrunkSlot(channel) {}

    unsigned int GetTrunk() override { return channel_ >> 2; }
    unsigned int GetTimeSlot() override { return channel_ & 3; }
    char const* GetName() const override { return "trunkBRI"; }
};

// The factory of one BRI line's channel slots (time-slot entries 0..3).
class TrunkBRIFactory : public TrunkFactory {
public:
    static constexpr unsigned kChannels = 4;

    // The factory of line 0..7 (the static objects trunk_bri0..trunk_bri7).
    static TrunkBRIFactory& line(unsigned int trunk);

    TrunkBRIFactory(unsigned int trunk, unsigned int base)
        : TrunkFactory(trunk, base, ZGCP::CreateParams::trunk_bri::id, kChannels)
    {
    }

    char const* GetName() const override { return "TrunksBRI"; }

protected:
    TrunkSlot* MakeSlot(std::uint32_t channel) override { return new TrunkBRISlot(channel); }
};

// The BRI line factories, built before main after the E1 ones, in this order.
extern TrunkBRIFactory trunk_bri0;
extern TrunkBRIFactory trunk_bri1;
extern TrunkBRIFactory trunk_bri2;
extern TrunkBRIFactory trunk_bri3;
extern TrunkBRIFactory trunk_bri4;
extern TrunkBRIFactory trunk_bri5;
extern TrunkBRIFactory trunk_bri6;
extern TrunkBRIFactory trunk_bri7;
