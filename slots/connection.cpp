#include "slots/connection.h"

#include "hardware/hw_mux.h"
#include "slots/slot.h"

#include <iostream>

bool Connect(Slot& src, Slot& dst)
{
    if (!src.HoldsChannel() || !dst.HoldsChannel()) {
        std::cerr << "slot " << (src.HoldsChannel() ? dst : src) << " holds no channel: no link from " << src
                  << " to " << dst << std::endl;
        return false;
    }
    if (dst.GetSource() == &src)
        return true;

    bool const outputOpened = src.GetListeners().empty();
    if (outputOpened) {
        if (!src.IOnOutputStream()) {
            std::cerr << "slot " << src << " don't have output stream to " << dst << std::endl;
            return false;
        }
        src.OnChangeOutputStream(true);
    }

    Slot* const oldSource = dst.GetSource();
    if (oldSource == nullptr) {
        if (!dst.IOnInputStream()) {
            std::cerr << "slot " << dst << " don't have input stream from " << src << std::endl;
            // The output opened for this connection alone is closed again.
            if (outputOpened)
                src.IOnOutputRelease();
            return false;
        }
        dst.OnChangeInputStream(true);
    } else {
        // The old source's hardware link goes first; its logical link stays until the new
        // one is made.
        llDisconnect(dst);
    }

    if (!llConnect(src, dst)) {
        if (oldSource == nullptr)
            dst.IOnInputRelease();
        else
            // Back to the old source, so that the switch carries what the links say.
            llConnect(*oldSource, dst);
        if (src.GetListeners().empty())
            src.IOnOutputRelease();
        return false;
    }

    if (oldSource != nullptr) {
        dst.LogicalDisconnect();
        if (oldSource->GetListeners().empty())
            oldSource->IOnOutputRelease();
    }
    dst.LogicalConnect(src);
    return true;
}

bool Disconnect(Slot& dst)
{
    Slot* const src = dst.GetSource();
    if (src == nullptr)
        return true;
    bool const result = llDisconnect(dst);
    dst.LogicalDisconnect();
    dst.IOnInputRelease();
    if (src->GetListeners().empty())
        src->IOnOutputRelease();
    return result;
}

void DisconnectAll(Slot& slot)
{
    Disconnect(slot);
    std::size_t const n = slot.GetListeners().size();
    for (std::size_t i = 0; i < n; ++i) {
        if (slot.GetListeners().empty()) {
            std::cerr << "mux internal error: expected slots not exists." << std::endl;
            break;
        }
        Disconnect(*slot.GetListeners().front());
    }
    if (!slot.GetListeners().empty())
        std::cerr << "mux internal error: unexpected slots exists." << std::endl;
}

bool llConnect(Slot& src, Slot& dst)
{
    if (src.GetConnectionPriority() > dst.GetConnectionPriority())
        return src.IHwConnectTransmitter(dst);
    return dst.IHwConnectReceiver(src);
}

bool llDisconnect(Slot& dst)
{
    Slot* const src = dst.GetSource();
    if (src == nullptr)
        return false;
    if (dst.GetConnectionPriority() > src->GetConnectionPriority())
        return dst.IHwDisconnectReceiver(*src);
    return src->IHwDisconnectTransmitter(dst);
}

bool MuxConnect(Slot& src, Slot& dst)
{
    int const tx = src.IGetTransmitChannel();
    int const rx = dst.IGetReceiveChannel();
    if (!HwMux::instance().Connect(tx, rx))
        return false;
    std::clog << "mux: slot " << src << " [" << tx << "] -> " << dst << " [" << rx << "]" << std::endl;
    return true;
}

bool MuxDisconnect(Slot& src, Slot& dst)
{
    int const tx = src.IGetTransmitChannel();
    int const rx = dst.IGetReceiveChannel();
    // A source without a switch channel of its own joined nothing here.
    if (tx < 0)
        return true;
    HwMux& mux = HwMux::instance();
    if (mux.Source(rx) != tx) {
        std::clog << "mux: slot " << dst << " [" << rx << "] no longer fed by " << src << ", left as it is" << std::endl;
        return true;
    }
    if (!mux.Disconnect(rx))
        return false;
    std::clog << "mux: disconnect slot " << dst << " [" << rx << "]" << std::endl;
    return true;
}
