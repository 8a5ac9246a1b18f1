#pragma once

#include "base/clean_queue.h"
#include "base/cyclic.h"
#include "base/packet.h"
#include "control/protocol.h"
#include "hardware/hdlc.h"
#include "messages/acp.h"
#include "runtime/timer.h"
#include "signalling/handed.h"

#include <cstdint>
#include <iosfwd>
#include <string>

namespace ISDN {

// The side of an ISDN link.
struct Side {
    enum type { user = 0, network = 1 };
};

// "user" or "network".
std::ostream& operator<<(std::ostream& os, Side::type side);

// The text of a link state 0..7; "(unknown)" for any other value.
char const* statetext(unsigned char state);

// The octets of Q.921 frames, as both sides of a link write and read them.
namespace frame {

// SAPI and TEI of TEI management messages.
constexpr unsigned kManagementSapi = 63;
constexpr unsigned kGroupTei = 127;
constexpr unsigned char kUiControl = 0x03;
constexpr unsigned char kManagementEntity = 0x0F;

// TEI management message types.
enum Identity : unsigned char {
    identityRequest = 1,
    identityAssigned = 2,
    identityDenied = 3,
    identityCheckRequest = 4,
    identityCheckResponse = 5,
    identityRemove = 6,
    identityVerifyRequest = 7,
};

// The two address octets.
void putAddress(Packet& frame, unsigned sapi, bool cr, unsigned tei);
// The control field of a frame without information: RR, RNR or REJ (codes 0, 1, 2) with
// N(R) and P/F; any other code as an unnumbered control with P/F. Codes are those of
// LAPD::FrameType.
void putControl(Packet& frame, unsigned char type, bool pf, unsigned nr);
// The address, and the control field of an I-frame, put in front of the frame into the head
// room the link reserved for its header (prepare_head): the control field first.
void pushAddress(Packet& frame, unsigned sapi, bool cr, unsigned tei);
void pushIControl(Packet& frame, unsigned ns, unsigned nr, bool p);
// The octets of an I-frame's information field that fit in one packet behind its header.
constexpr unsigned kMaxInformation = packet_max_size - 4;
// A TEI management frame to the group TEI from the side (network: C/R 1): the UI control,
// the management entity, Ri (low octet first), the message type and Ai.
void putIdentity(Packet& frame, bool network, unsigned short ri, unsigned ai, unsigned char type);

struct Address {
    unsigned sapi = 0;
    bool cr = false;
    unsigned tei = 0;
};
// The address of a frame; false when it has fewer than two octets or wrong EA bits.
bool readAddress(Packet const& frame, Address& address);

}  // namespace frame

// The protocol state variables of a LAPD link.
struct LAPDFullState {
    enum State {
        teiUnassigned = 0,
        assignAwaitingTei = 1,
        establishAwaitingTei = 2,
        teiAssigned = 3,
        awaitingEstablishment = 4,
        awaitingRelease = 5,
        multipleFrameEstablished = 6,
        timerRecovery = 7,
    };
    typedef Cyclic<unsigned int, 127u> Sequence;

    std::uint32_t state = teiAssigned;
    std::int32_t selfTEI = 0;
    std::int32_t selfSAPI = 0;
    std::int32_t peerTEI = 0;   // of the last received frame
    std::int32_t peerSAPI = 0;  // of the last received frame
    std::int32_t RC = 0;        // retransmission counter
    bool peerBusy = false;
    bool ownBusy = false;  // nothing sets it
    bool rejectException = false;
    bool L3initiated = false;
    bool establishable = true;  // nothing clears it
    bool QueuedUp = false;      // try to send queued I-frames
    bool RetrRQ = false;        // retransmit the unacknowledged I-frames
    bool AckRQ = false;         // acknowledge received I-frames with RR
    bool T200running = false;
    bool T202running = false;
    bool T203running = false;
    Sequence VS, VA, VR;

    // Seven lines, each begun with a new line: state, own and peer address, counters,
    // internal signals, flags, timers.
    void out(std::ostream& os) const;
};

std::ostream& operator<<(std::ostream& os, LAPDFullState const& s);

// The Q.921 data link of one D channel on an HDLC channel: frames layer-3 messages into
// I-frames, establishes, supervises and releases the multiple-frame link, acknowledges and
// retransmits, and on a basic-rate user side obtains its TEI from the network.
//
// One layer of a signalling slot's stack. Frames go out through the channel given with
// hdlc(); received frames, channel readiness and errors come in through the HDLC::Notify
// face (the slot forwards its channel's events) or through receive(). Everything runs on the
// loop's thread.
class LAPD : public Protocol, private LAPDFullState, public HDLC::Notify {
public:
    struct FlowStatus {
        enum Type { normal = 0, congested = 1 };
    };

    // The observer of the outgoing queue's congestion.
    class Notify {
    public:
        virtual ~Notify() = default;
        virtual void OnLAPD_FlowStatusChange(LAPD* link) = 0;
    };

    struct Stats {
        std::uint32_t T200 = 0;           // expiries
        std::uint32_t T202 = 0;
        std::uint32_t T203 = 0;
        std::uint32_t errors = 0;         // never counted
        std::uint32_t retrains = 0;       // I-frames put back for retransmission
        std::uint32_t outOverflows = 0;   // messages discarded
        std::uint32_t ackOverflows = 0;
        std::uint32_t txMessages = 0;     // every message handed down
        std::uint32_t rxInSequence = 0;   // I-frames received in sequence
        std::uint32_t txEmpty = 0;        // empty messages handed down
        std::uint32_t rxRejected = 0;     // I-frames received out of sequence
        std::uint32_t nrErrors = 0;       // bad confirmations

        void out(std::ostream& os) const;
    };

    // An error status carrying a copy of the link's state at the moment it was made.
    class Status : public Protocol_status_error, private LAPDFullState {
    public:
        Status(Protocol_info const* source, std::string const& text, LAPDFullState const& state)
            : Protocol_status_error(source, text), LAPDFullState(state)
        {
        }
        // The text, then the state dump.
        void out(std::ostream& os) const override;
    };

    // Frame type codes of the frames built by tx_cmd and tx_response.
    enum FrameType : unsigned char {
        RR = 0, RNR = 1, REJ = 2, UI = 3, DM = 15, DISC = 67, UA = 99, SABME = 111, FRMR = 135, XID = 175,
    };

    static constexpr unsigned kT200 = 1000, kT202 = 2000, kT203 = 10000;
    static constexpr int kN200 = 3;

    LAPD(Side::type side, unsigned int logLevel);
    ~LAPD() override = default;

    // Set-up by the hosting slot.
    void hdlc(GenericHDLC* channel) { channel_ = channel; }
    void set_side(Side::type side) { side_ = side; }
    void set_linkno(unsigned int n) { linkno_ = n; }
    void set_log(unsigned int level) { log_ = level; }
    void BindNotify(Notify* notify) { notify_ = notify; }
    void change_to_bri() { bri_ = true; }

    // The stack's operations.
    Protocol_name const& name() const override { return name_; }
    void local_prepare_head(Packet& p) override;
    void local_prepare_tail(Packet& p) override;
    // DL-ESTABLISH request.
    bool local_activate() override;
    // DL-RELEASE request.
    void local_deactivate() override;
    // DL-DATA request: one layer-3 message to send (hand_down).
    void message(Packet& p) override { hand_down(p); }
    // The same, saying what became of it: an empty message or one longer than an I-frame's
    // information field is not carried; with the outgoing queue full it is discarded (full).
    // Every one is counted as handed down.
    Handed hand_down(Packet& p);
    // Whether a message of this many octets can be sent at all (1 to an I-frame's
    // information field).
    static bool Carries(std::size_t octets);
    // One received frame.
    void receive(Packet& p) override;

    // "LAPD[<n>] (<state text>): ".
    virtual void PutHeader(std::ostream& os) const;

    // The channel is gone for the link: every timer stops, both queues are emptied, the
    // link drops to "TEI unassigned" and reports itself down once (on_deactivate), whatever
    // state it was in. Nothing is sent; a basic-rate user side asks for a TEI again only
    // when activated on an open channel.
    void channel_lost();

    // The channel's events.
    void on_hdlc_receive(Packet& p) override { receive(p); }
    void on_hdlc_error(HDLC::Notify::Cause::Type) override {}
    void on_hdlc_ready() override { local_events(); }

    // TEI management.
    virtual void mdl_assign(unsigned char tei);
    virtual void on_mdl_assign() {}
    virtual void mdl_remove();
    void BeginTeiAssignProcedure();
    bool tx_identity(unsigned short Ri, int Ai, unsigned char type);

    // Reports a management error by its code, as an ISDN::LAPD::Status through on_status.
    virtual void on_error(unsigned int code);
    void on_error(char const* text);

    // Queries and dumps.
    FlowStatus::Type GetFlowStatus() const { return flow_; }
    // The link figures; true only when they changed since the last call.
    bool GetInfo(ACP::IsdnLinkInfo& info) const;
    char const* state_text() const { return statetext(static_cast<unsigned char>(state)); }
    Protocol_status status() const;
    void show_stat() const;
    Stats const& statistics() const { return stats_; }

private:
    enum TimerId { T200, T202, T203 };

    // Frame building and sending.
    bool tx_cmd(unsigned char type, bool pf) { return tx_cmd_resp(type, pf, true); }
    bool tx_response(unsigned char type, bool pf) { return tx_cmd_resp(type, pf, false); }
    bool tx_cmd_resp(unsigned char type, bool pf, bool command);
    bool tx_iframe(Packet const& data, bool p);
    bool xmit(Packet& frame);
    // The C/R bit of a command or a response from this side.
    bool cr(bool command) const;
    // A new frame with the room of the stack reserved; false (logged) when the pool keeps
    // no packet for it: the frame is not sent, and the protocol's timers try again.
    bool new_frame(Packet& frame);
    void trace(char const* prefix, Packet const& frame, bool received) const;

    // Local events and their steps.
    void local_events();
    void drop_acknowledged();
    void requeue_unacknowledged();
    bool queued_up();
    void change_flowstatus(FlowStatus::Type status);
    void change_state(unsigned int next);

    // Common procedures.
    void clear_exceptions();
    void establish_dl();
    void tx_enquiry();
    void tx_enquiry_response();
    void retransmission(Sequence nr);
    void nr_recovery();
    void discard_queue();
    bool nr_in_range(Sequence nr) const { return (VA <= nr) <= VS; }
    // Asks the network for a TEI, on a basic-rate user side not already asking, over an open
    // channel.
    void request_tei();

    // Timers: one shared entry; the running flag of at most one is set.
    void start_timer(TimerId t);
    void stop_timer(TimerId t);
    bool& running(TimerId t);
    void on_T200();
    void on_T202();
    void on_T203();
    void on_T200A();
    void on_T202A();
    void on_T203A();

    // Frame handlers.
    void on_ICOM(Packet& info, bool p, Sequence ns, Sequence nr);
    void on_supervisory(unsigned char type, bool command, bool pf, Sequence nr);
    void on_supervisory_recovery(unsigned char type, bool command, bool pf, Sequence nr);
    void on_SABME(bool command, bool p);
    void on_DISC(bool command, bool p);
    void on_UA(bool command, bool f);
    void on_DM(bool command, bool f);
    void on_FRMR(bool command, bool pf);
    void on_UI(Packet& info);
    void on_tei_management(Packet const& info);

    Protocol_status error_status(char const* text) const;
    bool logs(unsigned level) const { return log_ >= level; }
    std::ostream& log() const;

    Side::type side_;
    Stats stats_;
    Notify* notify_ = nullptr;
    FlowStatus::Type flow_ = FlowStatus::normal;
    mutable ACP::IsdnLinkInfo lastInfo_;
    mutable bool infoGiven_ = false;
    unsigned int linkno_ = 0;
    unsigned int log_;
    bool bri_ = false;
    unsigned short Ri_ = 0;
    Timer timer_;
    CleanQueue<Packet, 135> outQueue_;
    CleanQueue<Packet, 7> ackQueue_;
    Protocol_name_str name_{"ISDN::LAPD"};
    GenericHDLC* channel_ = nullptr;
};

std::ostream& operator<<(std::ostream& os, LAPD::Stats const& s);

}  // namespace ISDN
