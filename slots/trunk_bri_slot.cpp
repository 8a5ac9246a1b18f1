#include "slots/trunk_bri_slot.h"

Slot* TrunkBRIFactory::INewSlot(ZGCP::CreateParams const& params)
{
    if (params.currentSelection() != ZGCP::CreateParams::trunk_bri::id)
        return nullptr;
    ZGCP::TrunkParams const& p = params.get_trunk_bri();
    unsigned const trunk = p.get_trunk().getValue();
    unsigned const channel = p.get_timeslot().getValue();
    if (trunk != trunk_ || channel >= kChannels)
        return nullptr;
    return Claim(channel, new TrunkBRISlot(base_ + channel));
}
