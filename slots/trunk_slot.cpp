#include "slots/trunk_slot.h"

#include "slots/slots.h"

#include <iostream>

void TrunkSlot::IAfterCreate()
{
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

bool TrunkSlot::IBeforeDestroy()
{
    if (auto* factory = static_cast<TrunkFactory*>(GetSlotFactory()))
        factory->ReleaseTrunkSlot(this);
    return true;
}

TrunkFactory::TrunkFactory(unsigned int trunk, unsigned int base)
    : TrunkFactory(trunk, base, ZGCP::CreateParams::trunk::id, kTimeSlots)
{
}

TrunkFactory::TrunkFactory(unsigned int trunk, unsigned int base, int alternative, unsigned int channels)
    : trunk_(trunk), base_(base), alternative_(alternative), channels_(channels)
{
}

Slot* TrunkFactory::INewSlot(ZGCP::CreateParams const& params)
{
    if (params.currentSelection() != alternative_)
        return nullptr;
    // trunk and trunk_bri carry the same parameters.
    ZGCP::TrunkParams const& p = alternative_ == ZGCP::CreateParams::trunk::id ? params.get_trunk() : params.get_trunk_bri();
    unsigned const trunk = p.get_trunk().getValue();
    unsigned const timeslot = p.get_timeslot().getValue();
    if (trunk != trunk_ || timeslot >= channels_)
        return nullptr;
    return Claim(timeslot, MakeSlot(base_ + timeslot));
}

Slot* TrunkFactory::Claim(unsigned int timeslot, TrunkSlot* slot)
{
    if (TrunkSlot* const old = trunkSlots_[timeslot]) {
        std::cerr << "trunk-slot: two slots require the same timeslot, remove old." << std::endl;
        std::cerr << " old slot " << *old << std::endl;
        Slots::instance().Destroy(old);
    }
    trunkSlots_[timeslot] = slot;
    return slot;
}

void TrunkFactory::ReleaseTrunkSlot(TrunkSlot* slot)
{
    unsigned const timeslot = slot->GetTimeSlot();
    if (timeslot < kTimeSlots && trunkSlots_[timeslot] == slot)
        trunkSlots_[timeslot] = nullptr;
}
