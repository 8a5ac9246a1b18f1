#pragma once

#include "slots/slot.h"
#include "slots/slot_factory.h"

#include <array>
#include <cstdint>

// One time slot of one of the board's E1 trunks. Its switch channel is the trunk time slot
// itself (trunk * 32 + time slot), so connecting it joins the other slot to the line. Both
// streams are always there.
class TrunkSlot : public Slot {
public:
    explicit TrunkSlot(std::uint32_t channel) : channel_(channel) {}

    unsigned int GetTrunk() override { return channel_ >> 5; }
    unsigned int GetTrunkTimeSlot() override { return GetTimeSlot(); }
    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return int(channel_); }
    int IGetReceiveChannel() override { return int(channel_); }
    char const* GetName() const override { return "trunk"; }

    // The time slot within the trunk.
    virtual unsigned int GetTimeSlot() { return channel_ & 31; }

protected:
    std::uint32_t channel_;
};

// The factory of one trunk's time-slot slots. It keeps the live slot of each time slot and
// removes an older slot when a new one asks for the same time slot.
class TrunkFactory : public SlotFactory {
public:
    static constexpr unsigned kTimeSlots = 32;

    // The factory of trunk 0..3 (the static objects trunk0..trunk3).
    static TrunkFactory& e1(unsigned int trunk);

    TrunkFactory(unsigned int trunk, unsigned int base);

    char const* GetName() const override { return "Trunks"; }
    Slot* INewSlot(ZGCP::CreateParams const& params) override;
    void Query(ZGCP::Resources&) override {}
    // The time slot of a slot being removed becomes free.
    virtual void ReleaseTrunkSlot(TrunkSlot* slot);

    unsigned int trunk() const { return trunk_; }
    // The live slot of a time slot; null when free.
    TrunkSlot* slotAt(unsigned int timeslot) const { return timeslot < kTimeSlots ? trunkSlots_[timeslot] : nullptr; }

protected:
    // A factory of the create alternative with `channels` time slots a trunk.
    TrunkFactory(unsigned int trunk, unsigned int base, int alternative, unsigned int channels);
    // The slot of a switch channel.
    virtual TrunkSlot* MakeSlot(std::uint32_t channel) { return new TrunkSlot(channel); }

private:
    // Gives the time slot to the new slot, removing the older slot that held it.
    Slot* Claim(unsigned int timeslot, TrunkSlot* slot);

    std::array<TrunkSlot*, kTimeSlots> trunkSlots_{};
    unsigned int trunk_;
    unsigned int base_;
    int alternative_;
    unsigned int channels_;
};

// The E1 trunk factories, built before main in this order.
extern TrunkFactory trunk0;
extern TrunkFactory trunk1;
extern TrunkFactory trunk2;
extern TrunkFactory trunk3;
