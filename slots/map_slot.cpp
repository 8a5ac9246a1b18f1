#include "slots/map_slot.h"

#include "hardware/hw_mux.h"
#include "slots/slots.h"

#include <iostream>

void MapSlot::IAfterCreate()
{
    if (IsRxExists())
        OnChangeInputStream(true);
    if (IsTxExists())
        OnChangeOutputStream(true);
}

bool MapSlot::IBeforeDestroy()
{
    if (auto* factory = static_cast<MapFactory*>(GetSlotFactory()))
        factory->ReleaseMapSlot(this);
    return true;
}

int GetMapTimeSlot(ZGCP::SharedChannel const& channel)
{
    return 8192 + int(channel.get_bus().getValue()) * 128 + int(channel.get_channel().getValue());
}

MapFactory& MapFactory::instance()
{
    static MapFactory factory;
    return factory;
}

Slot* MapFactory::INewSlot(ZGCP::CreateParams const& params)
{
    if (params.currentSelection() != ZGCP::CreateParams::map::id)
        return nullptr;
    ZGCP::MapParams const& p = params.get_map();
    int const tx = p.transmitter_isPresent() ? GetMapTimeSlot(p.get_transmitter()) : -1;
    int const rx = p.receiver_isPresent() ? GetMapTimeSlot(p.get_receiver()) : -1;
    auto* slot = new MapSlot(tx, rx);
    AllocateMapSlot(slot);
    return slot;
}

void MapFactory::Claim(int index, MapSlot* slot)
{
    auto& entry = mapSlots_[std::size_t(index)];
    // A slot naming one channel as both transmitter and receiver finds itself here.
    if (entry != nullptr && entry != slot) {
        MapSlot* const old = entry;
        std::cerr << "map-slot: two slots require the same ipc-slot, remove old." << std::endl;
        std::cerr << "new slot " << *slot << " <-> old slot " << *old << std::endl;
        // Releases every entry of the old slot.
        Slots::instance().Destroy(old);
    }
    entry = slot;
}

void MapFactory::AllocateMapSlot(MapSlot* slot)
{
    if (slot->IsRxExists())
        Claim(slot->GetRxLogChannel(), slot);
    if (slot->IsTxExists())
        Claim(slot->GetTxLogChannel(), slot);
}

void MapFactory::ReleaseMapSlot(MapSlot* slot)
{
    if (slot->IsRxExists()) {
        int const index = slot->GetRxLogChannel();
        std::clog << "map: disable map channel " << index << std::endl;
        HwMux::instance().Release(slot->IGetReceiveChannel());
        Release(index, slot, "code 1");
    }
    // One channel as both sides: its entry went with the receiver.
    if (slot->IsTxExists() && !(slot->IsRxExists() && slot->GetTxLogChannel() == slot->GetRxLogChannel()))
        Release(slot->GetTxLogChannel(), slot, "code 2");
}

void MapFactory::Release(int index, MapSlot* slot, char const* code)
{
    auto& entry = mapSlots_[std::size_t(index)];
    if (entry != slot) {
        std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() " << code << std::endl;
        return;
    }
    entry = nullptr;
}
