#pragma once

#include "base/clean_queue.h"
#include "base/packet.h"
#include "control/protocol.h"
#include "hardware/hdlc.h"
#include "messages/zgcp.h"
#include "runtime/timer.h"
#include "runtime/timer_spec.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

#include <cstdint>
#include <iosfwd>

// A raw HDLC link on one channel of the MCC controller, joined to a trunk time slot: no
// data-link protocol runs here. Each body the controller sends (ioctl hdlcPackages) goes out
// as one frame behind a 3-octet header: the link's 16-bit address (big-endian) and a control
// octet with the transmit sequence in bits 7-5 and the last peer sequence in bits 2-0. Frames
// received with the link's address go back as hdlcPackages ioctl signals: at once, or
// gathered for up to 100 ms while the second octet of the bodies has bit 7 set. The channel's
// counters go up as hdlcLinkInfo every 3000 ms.
//
// The channel opens on a connect (or activate) and closes on a disconnect of either
// direction; a connect whose channel cannot be opened or joined to the line fails, and a
// disconnect whose switch requests failed answers so. A channel that breaks sends up what
// was gathered and deactivated, and stays closed until the next connect or activate; packages
// sent meanwhile are refused (unsupported). Frames shorter than the header are dropped; a body
// without a second octet flushes at once. A signal carries what the controller can read: a
// body of 16384 octets or more (which the protocol's coder cannot write) is dropped with a
// line, and what was gathered goes up before a body that would take it past 128 bodies or
// past a TPKT frame. A request holding a body too long for one frame
// behind the header is refused whole (unsupported), and so is one whose packages do not all
// fit in the transmit queue (insufficientResources; they are counted as txOverflow and
// logged), or whose bodies the link queues have no more packets for: nothing of it is queued
// and it uses up no sequence number.
class HdlcSlot : public Slot, public HDLC::Notify {
public:
    static constexpr unsigned kHeaderSize = 3;
    static constexpr unsigned kQueueSize = 120;
    static constexpr unsigned kGatherMs = 100;
    static TimerSpec<HdlcSlot> const TUpdatespec;

    // Trunks count from 1 here; the slot shows trunk - 1.
    HdlcSlot(int trunk, int log, std::uint16_t address);

    bool IActivate(TERM::TermActivateParams const& params) override;
    // Reports the counters; the channel keeps running.
    bool IDeactivate() override;
    bool Ioctl(ZGCP::IoctlParams const& params) override;
    int GetConnectionPriority() override { return 1; }
    bool IHwConnectTransmitter(Slot& destination) override;
    bool IHwConnectReceiver(Slot& source) override;
    bool IHwDisconnectTransmitter(Slot& destination) override;
    bool IHwDisconnectReceiver(Slot& source) override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    char const* GetName() const override { return "hdlc-slot"; }

    void on_hdlc_receive(Packet& packet) override;
    void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
    // Hands the queued frames to the channel until it refuses one.
    void on_hdlc_ready() override;

    void PutHeader(std::ostream& os) const;
    HDLC const& channel() const { return channel_; }
    // The link's protocol name, "hdlc".
    Protocol_name const& name() const { return name_; }

private:
    void OnUpdateTimer();
    // The channel towards the tdm channel, activated unless there is none; false when it
    // could not be.
    bool connectChannel(int tdm);
    // False (deactivated sent) when the channel cannot be opened or joined.
    bool iactivate();
    void transmitPacket(Packet& packet);
    // A received body of the link's address, gathered for the next hdlcPackages signal.
    void gather(Packet const& body);
    void flushResponce();
    // The log stream after the header, while the "signalling.hdlc" switch is on.
    bool tracing() const;
    std::ostream& trace() const;

    Protocol_name_str name_{"hdlc"};
    // The channel broke and was not opened again since: packages are refused.
    bool channelEnded_ = false;
    ZGCP::IoctlResponse pending_;
    // What the bodies gathered take of a signal's message, at most.
    std::size_t pendingOctets_ = 0;
    std::uint32_t trunkNo_;
    TimerSpec<HdlcSlot>::SpecTimer<TUpdatespec> updateTimer_;
    Timer flushTimer_;
    CleanQueue<Packet, kQueueSize> queue_;
    std::uint16_t address_;
    std::uint8_t txSeq_ = 0;
    std::uint8_t peerSeq_ = 0;
    // Packages refused for want of room in the queue.
    std::uint32_t overflows_ = 0;
    // Last: destroyed first, so the descriptor goes before the queue and the timers.
    HDLC channel_;
};

// Makes the raw HDLC link slots (hdlcParams).
class HdlcSlotFactory : public SlotFactory {
public:
    static HdlcSlotFactory& instance();

    HdlcSlotFactory() = default;

    char const* GetName() const override { return "HdlcSlotFactory"; }
    // No slot for an address outside 0..65535.
    Slot* INewSlot(ZGCP::CreateParams const& params) override;
    void Query(ZGCP::Resources&) override {}
    // trunkStatus goes to every slot.
    void SelfSignal(ZGCP::Signal const& signal) override;

    void PutHeader(std::ostream& os) const { os << "HdlcSlotFactory: "; }
};
