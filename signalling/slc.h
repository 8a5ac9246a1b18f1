#pragma once

#include "base/clean_queue.h"
#include "base/cyclic.h"
#include "base/packet.h"
#include "control/protocol.h"
#include "hardware/hdlc.h"
#include "runtime/timer.h"
#include "signalling/handed.h"

#include <cstdint>
#include <iosfwd>

namespace SS7 {

// The signalling link control of SS7 MTP level 2 for one link on an HDLC channel: initial
// alignment with normal or emergency proving, the basic error correction (positive and
// negative acknowledgement, a retransmission buffer indexed by FSN) and delivery of the
// message signal units' payload (service information octet and signalling information field)
// to the layer above.
//
// One layer of its slot's stack and the observer of the slot's channel: it transmits straight
// through the channel given with hdlc(). Everything runs on the loop's thread.
//
// An idle link realigns on the peer's status indications only after a failure took it out of
// service; once deactivated, or after a trunk alarm, it waits for the next activation.
class SLC : public Protocol, public HDLC::Notify {
public:
    typedef Cyclic<unsigned int, 127u> Sequence;

    // Status indications of link status signal units.
    enum Indication : unsigned char { SIO = 0, SIN = 1, SIE = 2, SIOS = 3 };

    class State {
    public:
        enum type { idle = 0, not_aligned = 1, aligned = 2, proving = 3, aligned_ready = 4, in_service = 5 };

        virtual ~State() = default;
        virtual void on_enter(SLC& link) = 0;
        virtual void on_leave(SLC& link) = 0;
        virtual void fisu(SLC& link) = 0;
        virtual void lssu(SLC& link, Indication indication) = 0;
        virtual void msu(SLC& link, Packet& payload) = 0;
        virtual Handed message(SLC& link, Packet& payload) = 0;
        virtual type get_state_id() const = 0;
    };

    // The state of type N: each input goes to the link's overload for this state's class,
    // or for the nearest base the link has one for.
    template <State::type N, class Base = State>
    class TState : public Base {
    public:
        void on_enter(SLC& link) override { link.on_enter(*this); }
        void on_leave(SLC& link) override { link.on_leave(*this); }
        void fisu(SLC& link) override { link.fisu(*this); }
        void lssu(SLC& link, Indication indication) override { link.lssu(*this, indication); }
        void msu(SLC& link, Packet& payload) override { link.msu(*this, payload); }
        Handed message(SLC& link, Packet& payload) override { return link.message(*this, payload); }
        State::type get_state_id() const override { return N; }
    };

    typedef TState<State::idle> Idle;
    typedef TState<State::not_aligned> NotAligned;
    typedef TState<State::aligned> Aligned;
    typedef TState<State::proving> Proving;
    // Receives what proving receives.
    typedef TState<State::aligned_ready, Proving> AlignedReady;
    typedef TState<State::in_service> InService;

    struct TimerVal {
        std::uint32_t period;
        void (SLC::*handler)(Timer*);
    };
    static TimerVal const T1, T2, T3, T4n, T4e, T5, T6, T7;

    // The trace switches, in the controller's order.
    struct Trace {
        bool state = false;
        bool raw_receive = false;
        bool raw_transmit = false;
        bool mtp_transmit = false;
        bool mtp_receive = false;
        bool mtp_activate = false;
        bool timers = false;
        bool msu_processing = false;
    };

    // Prints the header of the last received signal unit.
    struct DumpPtr {
        SLC const* link;
    };

    // The counters: signal units sent, received, octets sent, received, MSUs refused on a full
    // transmission buffer, retransmission buffer size, retransmissions, negative
    // acknowledgements.
    static constexpr unsigned kCounters = 8;
    static constexpr unsigned kTbAccepts = 200;
    static constexpr unsigned kRtbLimit = 127;
    static constexpr std::uint32_t kCongestionReportMs = 1000;

    SLC();
    ~SLC() override;

    // Set-up by the host.
    void hdlc(GenericHDLC* channel) { channel_ = channel; }
    void set_linkno(unsigned n) { linkno_ = n; }
    void set_slc(unsigned slc) { slc_ = slc; }
    void set_dpc(unsigned dpc) { dpc_ = dpc; }
    void set_opc(unsigned opc) { opc_ = opc; }
    void set_emergency(bool emergency) { emergency_ = emergency; }
    Trace& trace() { return trace_; }

    // The FSN of the last accepted MSU.
    unsigned get_bsn() const { return unsigned(sendBSN_); }
    State::type get_state_id() const { return state_->get_state_id(); }
    std::uint32_t const* statistics() const;

    // "SS7/L2 [dpc=1, slc=2, trunk=3] (worked): ".
    void PutHeader(std::ostream& os) const;
    // "SS7/L2 [dpc=1, slc=2, trunk=3]".
    void PutShortInfo(std::ostream& os) const;
    void protocol_info(std::ostream& os) override;

    // The stack's operations.
    Protocol_name const& name() const override { return name_; }
    void local_prepare_head(Packet& p) override { p.reserve_head(3); }
    void local_prepare_tail(Packet& p) override { p.reserve_tail(0); }
    bool local_activate() override;
    void local_deactivate() override;
    // An MSU from above (hand_down).
    void message(Packet& p) override { hand_down(p); }
    // The same, saying what became of it: in service it is queued for sending (taken),
    // unless it has fewer than 3 or more than 273 octets (not carried, with a line: it would
    // not read as an MSU) or the transmission buffer holds 200 (full, counted and logged); in
    // any other state it is dropped (not carried).
    Handed hand_down(Packet& p);
    void receive(Packet& p) override;
    // Whether an MSU of this many octets can be sent at all (3 to 273).
    static bool Carries(std::size_t octets);

    // The channel's events.
    void on_hdlc_receive(Packet& p) override { receive(p); }
    void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
    void on_hdlc_ready() override;

    // The trunk of the link is normal (true) or in alarm.
    void OnTrunkHardStatus(bool up);

    // Whether a congestion report is to be held back: true while less than 1000 ms have
    // passed since it last returned false; otherwise it notes the time and returns false.
    bool CoutCongestion();
    // An MSU payload straight through the send path, with the current send header; one of
    // fewer than 3 or more than 273 octets is refused (logged with the msu processing
    // switch). Whether the channel took it.
    bool send_msu(Packet& payload);

    // The state handlers, reached through the state objects.
    void on_enter(State&) {}
    void on_leave(State&);
    void fisu(State&) {}
    void lssu(State&, Indication) {}
    void msu(State&, Packet&) {}
    Handed message(State&, Packet&) { return Handed::notCarried; }

    void on_enter(Idle&);
    void lssu(Idle&, Indication indication);
    void on_leave(Idle&) {}
    void on_enter(NotAligned&);
    void lssu(NotAligned&, Indication indication);
    void on_enter(Aligned&);
    void lssu(Aligned&, Indication indication);
    void on_enter(Proving&);
    void fisu(Proving&);
    void lssu(Proving&, Indication indication);
    void msu(Proving&, Packet&);
    void on_enter(AlignedReady&);
    void on_enter(InService&);
    void fisu(InService&);
    void lssu(InService&, Indication indication);
    void msu(InService&, Packet& payload);
    Handed message(InService&, Packet& payload);

private:
    friend std::ostream& operator<<(std::ostream& os, DumpPtr const& dump);

    void next_state(State& to);
    void set(TimerVal const& value);
    void on_T1(Timer*);
    void on_T2(Timer*);
    void on_T3(Timer*);
    void on_T4(Timer*);
    void on_T5(Timer*) {}
    void on_T6(Timer*) {}
    void on_T7(Timer*);
    // A timer expiry that fails the link, logged with the timers switch.
    void expired(char const* text);

    // Sending.
    bool send(Packet const& payload);
    void fisu();
    void lssu(Indication indication);
    void reset();
    // False when the TB is full: the payload is dropped, counted and logged.
    bool put_to_tb(Packet const& payload);
    void process_tb();

    // In-service reception.
    void make_expected();
    // False when the link left service on the way.
    bool process_bsnr();
    void bad_fib();
    void ack();
    void nack();
    void retransmit();

    bool in_service() const { return state_ == &inService_; }
    std::ostream& log() const;
    std::ostream& error() const;

    Trace trace_;
    // The last received header; LI is the length of what followed it.
    Sequence rxBSN_;
    bool rxBIB_ = false;
    Sequence rxFSN_;
    bool rxFIB_ = false;
    std::uint32_t rxLI_ = 0;
    // The send header.
    Sequence sendBSN_;
    bool sendBIB_ = false;
    Sequence sendFSN_;
    bool sendFIB_ = false;
    // Expectations of in-service reception.
    Sequence lastAccepted_;
    bool expectedFIB_ = false;
    bool expectedBIB_ = false;
    bool nackOutstanding_ = false;
    bool badBSN_ = false;
    bool badFIB_ = false;
    Packet rtb_[kRtbLimit + 1];
    Sequence rtbOldest_{0};
    Sequence rtbNewest_{127};
    std::uint32_t rtbCount_ = 0;
    CleanQueue<Packet, kTbAccepts + kRtbLimit> tb_;
    unsigned linkno_ = 0;
    Timer timer_;
    Idle idle_;
    NotAligned notAligned_;
    Aligned aligned_;
    Proving proving_;
    AlignedReady alignedReady_;
    InService inService_;
    State* state_ = &idle_;
    bool emergency_ = false;
    // The peer may realign an idle link: false until activated and after a deactivation or
    // a trunk alarm.
    bool enabled_ = false;
    Protocol_name_str name_{"MTP/L2"};
    // When CoutCongestion last returned false; the construction time before.
    std::uint32_t congestionTime_;
    unsigned slc_ = 0;
    unsigned dpc_ = 0;
    unsigned opc_ = 0;
    mutable std::uint32_t stats_[kCounters] = {};
    GenericHDLC* channel_ = nullptr;
};

// "out of alignment", "normal alignment", "emergency alignment", "out of service", or
// "unknown:" and the value in hexadecimal.
std::ostream& operator<<(std::ostream& os, SLC::Indication indication);
// "idle", "not aligned", "aligned", "proving", "aligned ready", "worked"; "unknown" otherwise.
std::ostream& operator<<(std::ostream& os, SLC::State::type type);
std::ostream& operator<<(std::ostream& os, SLC::State const& state);
std::ostream& operator<<(std::ostream& os, SLC::DumpPtr const& dump);

}  // namespace SS7
