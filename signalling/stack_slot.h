#pragma once

#include "control/protocol.h"
#include "signalling/lapd.h"
#include "slots/slot.h"

#include <vector>

// Takes a block for a message that a link of the slot will queue. The link queues may not
// take the blocks the pool keeps for the links' frames and for the controller: then false,
// and the first refusal of a run of them is logged.
bool TakeQueuedBlock(Packet& packet, Slot const& slot);

// A slot that hosts a protocol stack of signalling layers: the controller's user data goes
// down the stack as one message (refused, insufficientResources, when the link queues have
// taken every block the pool gives them or the link's own queue is full; unsupported when
// the link sends no message of its length, or while the link's channel has ended),
// each message the top layer delivers goes to the controller
// as userData (one longer than a signal carries is dropped with a line); activate and deactivate run the stack, and the stack's activation and
// deactivation reach the controller as activated and deactivated, each after the link
// figures a kind reports (ReportLinkInfo).
class StackSlot : public Slot, public ProtocolsFamily {
public:
    // Both answered true whatever the stack does.
    bool IActivate(TERM::TermActivateParams const& params) override;
    bool IDeactivate() override;
    bool IUserData(std::vector<char> const& data) override;

    void on_message(Packet& packet) override;
    void on_activated(Protocol* layer) override;
    void on_deactivated(Protocol* layer, Protocol_status status) override;

protected:
    // The link's channel has ended and no new one was opened since: user data is refused.
    virtual bool ChannelEnded() const { return false; }
    // Whether the link sends a message of this many octets at all (refused unsupported
    // otherwise, as a message longer than a packet is), and whether its queue is full now
    // (refused insufficientResources): what the link would drop is never answered success.
    virtual bool Carries(std::size_t) const { return true; }
    virtual bool LinkFull() const { return false; }
    // Sends the kind's link figures (as ioctl signals) before a change of the stack's state.
    virtual void ReportLinkInfo() {}
    // isdnLinkInfo with the LAPD link's figures, when they changed since it was last asked.
    void ReportIsdnLinkInfo(ISDN::LAPD const& link);
};
