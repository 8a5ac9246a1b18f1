#pragma once

#include "control/protocol.h"
#include "signalling/handed.h"
#include "signalling/lapd.h"
#include "slots/slot.h"

#include <vector>

// Takes a block for a message that a link of the slot will queue. The link queues may not
// take the blocks the pool keeps for the links' frames and for the controller: then false,
// and the first refusal of a run of them is logged.
bool TakeQueuedBlock(Packet& packet, Slot const& slot);

// A slot that hosts a protocol stack of signalling layers: the controller's user data goes
// down the stack as one message, answered by what the link did with it (refused,
// insufficientResources, when the link's own queue is full; unsupported when the link sends
// no such message); it is refused before the link sees it when the link queues have taken
// every block the pool gives them (insufficientResources), when it is longer than a packet
// or while the link's channel has ended (unsupported). Each message the top layer delivers
// goes to the controller
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
    // Hands the message to the kind's link, which counts and logs it as its protocol does:
    // what the link dropped is never answered success.
    virtual Handed HandDown(Packet& packet) = 0;
    // Sends the kind's link figures (as ioctl signals) before a change of the stack's state.
    virtual void ReportLinkInfo() {}
    // isdnLinkInfo with the LAPD link's figures, when they changed since it was last asked.
    void ReportIsdnLinkInfo(ISDN::LAPD const& link);
};
