#include "slots/ext_slot.h"

#include "hardware/hw_mux.h"
#include "slots/connection.h"

void ExtSlot::IAfterCreate() { OnChangeOutputStream(true); }

bool ExtSlot::IBeforeDestroy()
{
    HwMux::instance().Release(int(rxChannel_));
    return true;
}

bool ExtSlot::IActivate(TERM::TermActivateParams const&)
{
    // The receiver sends the idle byte until a source is connected; a connection already
    // made on it stays. A receiver the switch does not drive is not opened.
    HwMux& mux = HwMux::instance();
    if (mux.Source(int(rxChannel_)) < 0 && !mux.Disconnect(int(rxChannel_))) {
        Refuse(ZGCP::ErrorCause::connectFail);
        return false;
    }
    OnChangeInputStream(true);
    return true;
}

bool ExtSlot::IDeactivate()
{
    // The source goes (the receiver reported inactive), then the receiver is not driven.
    bool const left = Disconnect(*this);
    OnChangeInputStream(false);
    if (HwMux::instance().Release(int(rxChannel_)) && left)
        return true;
    Refuse(ZGCP::ErrorCause::disconnectFail);
    return false;
}

ExtFactory& ExtFactory::instance()
{
    static ExtFactory factory;
    return factory;
}

Slot* ExtFactory::INewSlot(ZGCP::CreateParams const& params)
{
    if (params.currentSelection() != ZGCP::CreateParams::ext::id)
        return nullptr;
    ZGCP::ExtParams const& p = params.get_ext();
    int const tx = p.get_transmitter().getValue();
    int const rx = p.get_receiver().getValue();
    if (tx < 0 || tx >= HwMux::kBusCount || rx < 0 || rx >= HwMux::kBusCount)
        return nullptr;
    return new ExtSlot(std::uint32_t(HwMux::kBusFirst + tx), std::uint32_t(HwMux::kBusFirst + rx));
}
