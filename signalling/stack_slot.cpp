#include "signalling/stack_slot.h"

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
    if (!Carries(data.size())) {
        std::cerr << static_cast<Slot const&>(*this) << ": user data of " << data.size()
                  << " octets refused: the link sends no message of that length" << std::endl;
        return false;
    }
    if (LinkFull()) {
        std::cerr << static_cast<Slot const&>(*this) << ": user data refused: the link's queue is full" << std::endl;
        Refuse(ZGCP::ErrorCause::insufficientResources);
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
    message(packet);
    return true;
}

void StackSlot::on_message(Packet& packet)
{
    Packet const& p = packet;
    std::vector<char> data;
    if (!p.null())
        data.assign(reinterpret_cast<char const*>(p.data()), reinterpret_cast<char const*>(p.data()) + p.length());
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
