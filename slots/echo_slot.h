#pragma once

#include "slots/slot.h"
#include "slots/slot_factory.h"

#include <array>
#include <cstdint>

// One channel of an echo bus as a switch channel (32 * bus + channel); the slot drives no
// device of its own.
class EchoSlot : public Slot {
public:
    explicit EchoSlot(std::uint32_t switchChannel) : channel_(switchChannel) {}

    void IAfterCreate() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return int(channel_); }
    int IGetReceiveChannel() override { return int(channel_); }
    char const* GetName() const override { return "echo"; }

private:
    std::uint32_t channel_;
};

// Makes echo slots on the echo buses it found (none are detected on this board).
class EchoFactory : public SlotFactory {
public:
    static constexpr unsigned kBuses = 16;

    static EchoFactory& instance();

    // Scans for the echo buses.
    EchoFactory();

    char const* GetName() const override { return "Echo"; }
    Slot* INewSlot(ZGCP::CreateParams const& params) override;
    // The enabled buses, ascending, as echoBus.
    void Query(ZGCP::Resources& resources) override;

    void Scan();
    // Marks a bus found (or not) by a scan.
    void SetBus(unsigned int bus, bool enabled);
    bool IsBusEnabled(unsigned int bus) const { return bus < kBuses && enabled_[bus]; }

private:
    std::array<bool, kBuses> enabled_{};
};
