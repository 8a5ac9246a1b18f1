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

TrunkFactory::TrunkFactory(unsigned int trunk, unsigned int base) : trunk_(trunk), base_(base) {}

Slot* TrunkFactory::INewSlot(ZGCP::CreateParams const& params)
{
    if (params.currentSelection() != ZGCP::CreateParams::trunk::id)
        return nullptr;
    ZGCP::TrunkParams const& p = params.get_trunk();
    unsigned const trunk = p.get_trunk().getValue();
    unsigned const timeslot = p.get_timeslot().getValue();
    if (trunk != trunk_ || timeslot >= kTimeSlots)
        return nullptr;
    return Claim(timeslot, new TrunkSlot(base_ + timeslot));
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
