#pragma once

#include "slots/slot.h"
#include "slots/slot_factory.h"

#include <cstdint>

// A pair of shared-bus channels given as plain indexes (0..2047). The transmitter is always
// a source; the receiver takes a source, and the board drives it, only between activate and
// deactivate. An activate whose idle byte the switch refuses answers connectFail (the
// receiver is not opened); a deactivate whose switch requests fail answers disconnectFail
// (the receiver is closed all the same).
class ExtSlot : public Slot {
public:
    ExtSlot(std::uint32_t txChannel, std::uint32_t rxChannel) : txChannel_(txChannel), rxChannel_(rxChannel) {}

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IActivate(TERM::TermActivateParams const& params) override;
    bool IDeactivate() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return GetInputStream(); }
    int IGetTransmitChannel() override { return int(txChannel_); }
    int IGetReceiveChannel() override { return int(rxChannel_); }
    char const* GetName() const override { return "bri"; }

private:
    std::uint32_t txChannel_;
    std::uint32_t rxChannel_;
};

class ExtFactory : public SlotFactory {
public:
    static ExtFactory& instance();

    ExtFactory() = default;

    char const* GetName() const override { return "Ext"; }
    // Declines indexes outside the shared bus (0..2047).
    Slot* INewSlot(ZGCP::CreateParams const& params) override;
    void Query(ZGCP::Resources&) override {}
};
