#pragma once

#include "slots/modem_slot.h"

#include <cstdint>
#include <string>

// A digital modem on a point-to-point generic-HDLC network interface: the first stream
// open switches the interface to PPP and runs pppd on it; the interface's switch channel is
// the slot's channel both ways. When the slot goes, the interface is taken down, put back
// to raw HDLC and handed back to the factory, which owes that reset when the driver refuses
// it and the slot had changed the interface (asked for PPP on it).
class HdlcModemSlot : public ModemSlot {
public:
    static constexpr char const* kOptions = "/usr/local/etc/ppp/ioptions";

    HdlcModemSlot(ModemFactory& factory, TERM::ModemParams const& params, std::string interfaceName);
    ~HdlcModemSlot() override;

    char const* GetName() const override { return "digital-modem"; }
    int modem_id() const override { return -1; }
    void unbind() override;

    // Prepares the interface and starts pppd unless it runs.
    void initModem();
    std::string const& deviceName() const { return name_; }

    // Takes the interface down and puts it back to raw HDLC: null when done, else the line of
    // the request the driver refused.
    static char const* resetInterface(std::string const& name);

private:
    void openLine() override { initModem(); }
    // SIOCWANDEV on the interface with the settings type and buffer: the result.
    static int wanDev(std::string const& name, std::uint32_t type, std::uint32_t size, void* buffer);

    std::string name_;
    // The interface was asked to run PPP: its reset is owed if refused.
    bool changed_ = false;
};
