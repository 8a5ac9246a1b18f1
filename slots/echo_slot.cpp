#include "slots/echo_slot.h"

#include <iostream>

void EchoSlot::IAfterCreate()
{
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

EchoFactory& EchoFactory::instance()
{
    static EchoFactory factory;
    return factory;
}

EchoFactory::EchoFactory() { Scan(); }

void EchoFactory::Scan()
{
    enabled_.fill(false);
    std::clog << "Scanning echo channels ..." << std::endl;
}

void EchoFactory::SetBus(unsigned int bus, bool enabled)
{
    if (bus < kBuses)
        enabled_[bus] = enabled;
}

Slot* EchoFactory::INewSlot(ZGCP::CreateParams const& params)
{
    if (params.currentSelection() != ZGCP::CreateParams::echo::id)
        return nullptr;
    ZGCP::EchoParams const& p = params.get_echo();
    int const bus = p.get_bus().getValue();
    int const channel = p.get_channel().getValue();
    if (bus < 0 || !IsBusEnabled(unsigned(bus)))
        return nullptr;
    return new EchoSlot(std::uint32_t(bus * 32 + channel));
}

void EchoFactory::Query(ZGCP::Resources& resources)
{
    auto& buses = resources.set_echoBus();
    buses.clear();
    for (unsigned bus = 0; bus < kBuses; ++bus)
        if (enabled_[bus])
            buses.push_back(ASN1::INTEGER(int(bus)));
}
