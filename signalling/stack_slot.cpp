#include "signalling/stack_slot.h"

#include "asn1/per_common.h"
#include "base/packet.h"

#include <cstring>
#include <iostream>

bool StackSlot::IActivate(TERM::TermActivateParams const&)
{
    activate();
    return true;
}

bool StackSlot::IDeactivate()
{
    deactivate();
    return true;
}

bool TakeQueuedBlock(Packet& packet, Slot const& slot)
{
    bool const refusing = Packet::refusing(PacketUse::queued);
    if (packet.try_reserve_head(0, PacketUse::queued))
        return true;
    if (!refusing)
        std::cerr << slot << ": the link queues hold every packet they may, data refused until they send" << std::endl;
    return false;
}

bool StackSlot::IUserData(std::vector<char> const& data)
{
    if (ChannelEnded()) {
        std::cerr << static_cast<Slot const&>(*this) << ": user data refused: the link's channel has ended"
                  << std::endl;
        return false;
    }
    // A message that does not fit in one packet is refused.
    Packet packet;
    if (!TakeQueuedBlock(packet, *this)) {
        Refuse(ZGCP::ErrorCause::insufficientResources);
        return false;
    }
    prepare_head(packet);
    if (data.size() > packet.tailroom()) {
        std::cerr << static_cast<Slot const&>(*this) << ": user data of " << data.size() << " octets refused" << std::endl;
        return false;
    }
    if (!data.empty())
        std::memcpy(packet.put(unsigned(data.size())), data.data(), data.size());
    Handed const handed = HandDown(packet);
    if (handed == Handed::full)
        Refuse(ZGCP::ErrorCause::insufficientResources);
    return handed == Handed::taken;
}

void StackSlot::on_message(Packet& packet)
{
    Packet const& p = packet;
    std::size_t const length = p.null() ? 0 : p.length();
    // The protocol's coder writes no string of FragmentLength octets or more: such a message
    // would make a signal that never reaches the controller.
    if (length >= ASN1::per::FragmentLength) {
        std::cerr << static_cast<Slot const&>(*this) << ": a message of " << length
                  << " octets from the link is longer than a signal carries, dropped" << std::endl;
        return;
    }
    std::vector<char> data;
    if (length > 0)
        data.assign(reinterpret_cast<char const*>(p.data()), reinterpret_cast<char const*>(p.data()) + length);
    OnUserData(data);
}

void StackSlot::on_activated(Protocol*)
{
    ReportLinkInfo();
    OnActivated();
}

void StackSlot::on_deactivated(Protocol*, Protocol_status)
{
    ReportLinkInfo();
    OnDeactivated();
}

void StackSlot::ReportIsdnLinkInfo(ISDN::LAPD const& link)
{
    ACP::IsdnLinkInfo info;
    if (link.GetInfo(info))
        OnIoctlResponse(ZGCP::IoctlResponse(ZGCP::IoctlResponse::isdnLinkInfo::id, info));
}
