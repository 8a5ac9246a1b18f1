#include "slots/hdlc_modem_slot.h"

#include "base/ext.h"
#include "board/board.h"
#include "board/hdlc_iface.h"
#include "slots/modem_factory.h"

#include <iostream>

HdlcModemSlot::HdlcModemSlot(ModemFactory& factory, TERM::ModemParams const& params, std::string interfaceName)
    : ModemSlot(factory, params), name_(std::move(interfaceName))
{
}

HdlcModemSlot::~HdlcModemSlot()
{
    pppd_kill();
    char const* const refused = resetInterface(name_);
    if (refused != nullptr)
        std::cerr << ext::header(this) << refused << std::endl;
    unbind();
    // Handed back, an interface the slot changed is not handed out again before the driver
    // takes the reset; one it never changed is as the next slot expects it.
    if (refused != nullptr && changed_)
        modemFactory().OweReset(name_);
}

void HdlcModemSlot::unbind() { modemFactory().ReleaseModemSlot(this); }

int HdlcModemSlot::wanDev(std::string const& name, std::uint32_t type, std::uint32_t size, void* buffer)
{
    ifreq ifr = hdlc_iface::request(name.c_str());
    hdlc_iface::putSettings(ifr, {type, size, buffer});
    return board::board().ifaceIoctl(hdlc_iface::kWanDev, &ifr);
}

void HdlcModemSlot::initModem()
{
    if (pppd_executing())
        return;
    std::uint32_t iface[hdlc_iface::kIfaceSize / sizeof(std::uint32_t)] = {};
    if (wanDev(name_, hdlc_iface::kGetIface, sizeof iface, iface) != 0) {
        std::cerr << ext::header(this) << "SIOCWANDEV/IF_GET_IFACE fail!" << std::endl;
        return;
    }
    channel_ = int(iface[hdlc_iface::kChannelWord]);
    changed_ = true;
    std::uint32_t none = 0;
    if (wanDev(name_, hdlc_iface::kProtoPpp, sizeof none, &none) != 0) {
        std::cerr << ext::header(this) << "SIOCWANDEV/IF_PROTO_PPP fail!" << std::endl;
        return;
    }
    pppd_exec(name_.c_str(), kOptions);
}

char const* HdlcModemSlot::resetInterface(std::string const& name)
{
    board::Board& b = board::board();
    ifreq ifr = hdlc_iface::request(name.c_str());
    if (b.ifaceIoctl(SIOCGIFFLAGS, &ifr) < 0)
        return "SIOCGIFFLAGS fail!!!";
    ifr.ifr_flags = short(ifr.ifr_flags & ~IFF_UP);
    if (b.ifaceIoctl(SIOCSIFFLAGS, &ifr) < 0)
        return "SIOCSIFFLAGS fail!!!";
    hdlc_iface::RawHdlc raw{0, 0};
    if (wanDev(name, hdlc_iface::kProtoHdlc, sizeof raw, &raw) != 0)
        return "SIOCWANDEV/IF_PROTO_HDLC fail!";
    return nullptr;
}
