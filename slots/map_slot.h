#pragma once

#include "slots/slot.h"
#include "slots/slot_factory.h"

#include <array>

// A pair of channels on the shared bus between the boards: the transmitter channel's content
// goes to the slot's listeners, the slot's source is written onto the receiver channel.
// Either may be absent (-1).
class MapSlot : public Slot {
public:
    MapSlot(int txChannel, int rxChannel) : txChannel_(txChannel), rxChannel_(rxChannel) {}

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return IsTxExists(); }
    bool IOnInputStream() override { return IsRxExists(); }
    int IGetTransmitChannel() override { return txChannel_; }
    int IGetReceiveChannel() override { return rxChannel_; }
    char const* GetName() const override { return "map"; }

    bool IsTxExists() const { return txChannel_ >= 0; }
    bool IsRxExists() const { return rxChannel_ >= 0; }
    // The bus channel indexes (0..2047).
    int GetTxLogChannel() const { return txChannel_ - 8192; }
    int GetRxLogChannel() const { return rxChannel_ - 8192; }

private:
    int txChannel_;
    int rxChannel_;
};

// The switch channel of a shared-bus channel: 8192 + bus * 128 + channel.
int GetMapTimeSlot(ZGCP::SharedChannel const& channel);

// Makes the map slots and keeps one owner per bus channel, for transmitters and receivers
// alike: a new slot claiming a channel removes the older slot that holds it.
class MapFactory : public SlotFactory {
public:
    static constexpr int kChannels = 2048;

    static MapFactory& instance();

    MapFactory() = default;

    char const* GetName() const override { return "Map"; }
    Slot* INewSlot(ZGCP::CreateParams const& params) override;
    void Query(ZGCP::Resources&) override {}

    void AllocateMapSlot(MapSlot* slot);
    // The slot's channels become free; its receiver channel is no longer driven.
    void ReleaseMapSlot(MapSlot* slot);

    // The owner of a bus channel index; null when free.
    MapSlot* owner(int index) const { return index >= 0 && index < kChannels ? mapSlots_[std::size_t(index)] : nullptr; }

private:
    // Makes the slot the owner of the channel index, removing the older owner.
    void Claim(int index, MapSlot* slot);
    // Frees the channel index when the slot owns it.
    void Release(int index, MapSlot* slot, char const* code);

    std::array<MapSlot*, kChannels> mapSlots_{};
};
