#pragma once

#include "base/fd.h"
#include "hardware/hdlc.h"
#include "runtime/event.h"
#include "runtime/owed_requests.h"
#include "signalling/lapd.h"
#include "signalling/stack_slot.h"
#include "slots/slot_factory.h"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <set>
#include <string>

// An ISDN D channel: Q.921 LAPD over a frame channel of its own, whose descriptor the slot
// reads and writes itself; the slot is the channel the link transmits through. Layer-3
// octets travel as user data; the link figures go up (isdnLinkInfo) before activated and
// deactivated when they changed. The slot is switched to a trunk like a media slot, by the
// channel's switch channel.
//
// A channel that fails for good (a read error, the end of its line) is no longer polled and
// the link goes down at once, reported as deactivated; a later activate is answered with
// deactivated. The slot has lost its channel then: it takes no link any more.
class IsdnSlot : public StackSlot, public ISDN::LAPD::Notify, public GenericHDLC {
public:
    // Takes the device's descriptor (polled from here on), its switch channel and the link,
    // which the stack owns.
    IsdnSlot(Fd device, int channel, std::unique_ptr<ISDN::LAPD> link, char const* eventName = "IsdnSlot::OnEvent");

    bool IActivate(TERM::TermActivateParams const& params) override;
    // The channel goes back with its switch output disabled.
    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return channel_; }
    int IGetReceiveChannel() override { return channel_; }
    char const* GetName() const override { return "MCC"; }

    // The channel face of the link.
    bool hdlc_transmit(Packet& packet) override;
    bool is_open() const override { return event_.IsActive(); }
    bool is_ready() const override { return ready_; }

    Protocol_name const& name() const override { return name_; }
    // The link transmits through hdlc_transmit: nothing leaves the stack at the bottom.
    void transmit(Packet&) override {}
    void OnLAPD_FlowStatusChange(ISDN::LAPD*) override {}

    void OnEvent(int fd, short revents);
    ISDN::LAPD& link() const { return *link_; }
    // The device channel's switch channel.
    int channel() const { return channel_; }

    virtual void PutHeader(std::ostream& os) const;

protected:
    void ReportLinkInfo() override;
    // The device's channel is gone for good.
    bool ChannelEnded() const override { return !is_open(); }
    Handed HandDown(Packet& packet) override { return link_->hand_down(packet); }
    // The device ended: the slot lets go of its channel, then of the descriptor.
    virtual void releaseChannel();

    Event event_;

private:
    // The channel failed for good.
    void lost(DeviceRead const& why);

    int channel_;
    ISDN::LAPD* link_;
    bool ready_ = false;
    Protocol_name_str name_{"ISDN/HDLC"};
};

// A QSIG D channel on the signalling channel of the DSP data device, which also lends out the
// B channels its B slots stand for. Destroying it, or the end of its device, gives back the B
// channels its B slots hold; those slots stay until destroyed, holding no channel.
//
// A B channel whose return the driver refuses is owed: said once, tried again on the back-off
// of OwedRequests, and given back before a new B channel of its index is borrowed (which fails
// while the driver still refuses). The device lets go of every B channel when the slot closes
// it, or when it ends.
class AtsQsigSlot : public IsdnSlot, private OwedRequests::Owner {
public:
    AtsQsigSlot(Fd device, int channel, std::unique_ptr<ISDN::LAPD> link);

    bool IBeforeDestroy() override;
    char const* GetName() const override { return "ATS-QSIG"; }

    // Borrows B channel index (0..2); false, said on the error stream, when the driver refuses.
    bool NewBChannel(std::uint32_t index, int& channel);
    void DestroyBChannel(std::uint32_t index);
    int GetTimeslot() const { return channel(); }
    // The B channel's return is owed.
    bool owes(std::uint32_t index) const { return owed_.count(index) != 0; }

    void PutHeader(std::ostream& os) const override { os << "ats-qsig: "; }

private:
    void releaseChannel() override;
    // Every B slot of this slot that holds its channel loses it; the driver is asked to take
    // each back when toDriver.
    void giveBackBChannels(bool toDriver);
    // The delete-B-channel request: true when the driver takes it.
    bool deleteB(std::uint32_t index);
    // The same, a refusal said.
    bool giveBack(std::uint32_t index);
    // Gives back, quietly, what is owed of the index; true when nothing is left (a line).
    bool pay(std::uint32_t index);
    bool PayOwed() override;
    // The device let go of every B channel.
    void forgetOwed();

    std::set<std::uint32_t> owed_;
    OwedRequests owedRequests_{*this};
};

// One B channel of a QSIG slot, switched by the channel the driver lent.
class AtsQsigBSlot : public Slot {
public:
    AtsQsigBSlot(std::uint32_t signallingSlot, std::uint32_t index, int channel)
        : signallingSlot_(signallingSlot), index_(index), channel_(channel)
    {
    }

    // Gives the B channel back through its QSIG slot, unless that slot gave it back already.
    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return channel_; }
    int IGetReceiveChannel() override { return channel_; }
    char const* GetName() const override { return "ATS-QSIG-B"; }

    std::uint32_t signallingSlot() const { return signallingSlot_; }
    std::uint32_t index() const { return index_; }
    // The QSIG slot gives the channel back (it is destroyed, or its device ended): the slot
    // loses its channel.
    void givenBack();

    void PutHeader(std::ostream& os) const { os << "ats-qsig-b: "; }

private:
    std::uint32_t signallingSlot_;
    std::uint32_t index_;
    int channel_;
};

// Makes the ISDN D-channel slots (isdn), the QSIG slots (ats-qsig) and their B slots
// (ats-qsig-b).
class IsdnFactory : public SlotFactory {
public:
    static IsdnFactory& instance();

    IsdnFactory() = default;

    char const* GetName() const override { return "ISDN"; }
    Slot* INewSlot(ZGCP::CreateParams const& params) override;
    void Query(ZGCP::Resources&) override {}

    // This factory's slot with the number; null when none.
    Slot* FindSlot(unsigned number) const;

    void PutHeader(std::ostream& os) const { os << "mcc/isdn: "; }

private:
    Slot* NewIsdnSlot(ZGCP::IsdnParams const& params);
    Slot* NewAtsQsigSlot(ZGCP::AtsQsigParams const& params);
    Slot* NewAtsQsigBSlot(ZGCP::AtsQsigBParams const& params);
};
