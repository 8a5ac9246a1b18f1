#pragma once

#include "hardware/hdlc.h"
#include "messages/zgcp.h"
#include "runtime/timer_spec.h"
#include "signalling/lapd.h"
#include "signalling/lapd_nt.h"
#include "signalling/slc.h"
#include "signalling/stack_slot.h"
#include "slots/slot_factory.h"

#include <cstdint>
#include <iosfwd>

// A signalling data link over one HDLC channel of the MCC controller, joined to a trunk time
// slot: SS7 MTP level 2, Q.921 LAPD on a primary- or basic-rate D channel, or the network
// side of a basic-rate bus. Layer-3 octets travel as user data; the channel's counters and
// the link's figures go up every 3000 ms; trunk alarms of its trunk reach an SS7 link.
//
// The slot owns the channel and forwards the channel's events to its link; the SS7 and LAPD
// links transmit through the channel themselves, the network side of a bus through the slot.
// A channel that fails to open or breaks takes the link down, and the controller hears
// deactivated once; a connect that opens it then fails. User data for a link whose channel
// broke is refused until a connect or activate opens a new one. The links stop before the channel goes.
class PstnSlot : public StackSlot, public ISDN::LAPD::Notify, public HDLC::Notify {
public:
    // 0 SS7, 1 LAPD on a primary-rate link (either side), 2 LAPD on a basic-rate user side,
    // 3 the network side of a basic-rate bus.
    enum Mode : std::uint32_t { ss7 = 0, isdnPri = 1, isdnBri = 2, isdnBriNetwork = 3 };

    static TimerSpec<PstnSlot> const TUpdatespec;

    explicit PstnSlot(ZGCP::PstnParams const& params);
    ~PstnSlot() override;

    void OnTrunkStatus(unsigned int trunk, ACP::TrunkState::NamedNumber const& state) override;
    bool IActivate(TERM::TermActivateParams const& params) override;
    bool Ioctl(ZGCP::IoctlParams const& params) override;
    // A slot without a link (cas) takes user data and sends nothing: the controller's contract
    // for that kind, which has no link by design.
    bool IUserData(std::vector<char> const& data) override;
    int GetConnectionPriority() override { return 1; }
    bool IHwConnectTransmitter(Slot& destination) override;
    bool IHwConnectReceiver(Slot& source) override;
    bool IHwDisconnectTransmitter(Slot& destination) override;
    bool IHwDisconnectReceiver(Slot& source) override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    char const* GetName() const override { return "pstn"; }

    void on_hdlc_receive(Packet& packet) override;
    void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
    void on_hdlc_ready() override;
    void on_deactivated(Protocol* layer, Protocol_status status) override;
    void OnLAPD_FlowStatusChange(ISDN::LAPD* link) override;

    Protocol_name const& name() const override { return name_; }
    // The frames of the network side of a bus go out on the channel.
    void transmit(Packet& packet) override;

    Mode mode() const { return mode_; }
    HDLC const& channel() const { return channel_; }

protected:
    void ReportLinkInfo() override;
    bool ChannelEnded() const override { return channelEnded_; }
    Handed HandDown(Packet& packet) override;

private:
    void OnUpdateTimer();
    void ReportSs7LinkInfo();
    // Opens the channel and runs the stack on it; false when the channel cannot be opened
    // or joined (the link is then down).
    bool activateLink();
    // The channel failed: the link goes down and deactivated goes up once.
    void linkDown();
    bool primary() const { return mode_ == ss7 || mode_ == isdnPri; }
    bool linked() const { return ss7_ != nullptr || lapd_ != nullptr || nt_ != nullptr; }

    Protocol_name_str name_{"PSTN"};
    Mode mode_ = ss7;
    std::uint32_t trunkNo_ = 0;
    // The links, owned by the stack.
    SS7::SLC* ss7_ = nullptr;
    ISDN::LAPD* lapd_ = nullptr;
    ISDN::LAPD_NT* nt_ = nullptr;
    HDLC::Notify* target_ = nullptr;
    ACP::TrunkState::NamedNumber lastTrunkState_ = ACP::TrunkState::unknown;
    TimerSpec<PstnSlot>::SpecTimer<TUpdatespec> updateTimer_;
    // Set while the link is taken down for a failed channel, until it reports itself down.
    bool downPending_ = false;
    // The channel broke and was not opened again since.
    bool channelEnded_ = false;
    // Last: closed before the other members go.
    HDLC channel_;
};

// Makes the PSTN signalling link slots (pstn) and relays the E1 trunks' status to them.
class PstnFactory : public SlotFactory {
public:
    static PstnFactory& instance();

    PstnFactory() = default;

    char const* GetName() const override { return "PSTN"; }
    Slot* INewSlot(ZGCP::CreateParams const& params) override;
    void Query(ZGCP::Resources&) override {}
    // The states of the E1 trunks go to the slots; a BRI line's, numbered alike, is no
    // trunk of theirs.
    void SelfSignal(ZGCP::Signal const& signal) override;
};
