#pragma once

#include "base/clean_queue.h"
#include "base/cyclic.h"
#include "base/packet.h"
#include "control/protocol.h"
#include "runtime/timer.h"
#include "signalling/handed.h"

#include <cstdint>
#include <iosfwd>
#include <optional>

namespace ISDN {

class LAPD_NT;

// The data link of one terminal on the network side of a basic-rate bus: its TEI, sequence
// numbers, acknowledgement and wait queues and supervision.
//
// At most seven I-frames are outstanding: further messages wait, as they do while the
// terminal is busy, and go out as acknowledgements make room; while 128 wait, a new message
// is refused and what waits is kept. Frames left unacknowledged after an acknowledgement
// keep the 1000 ms supervision, which resends them (or polls a busy terminal) and gives up
// after N200 expiries. A new assignment starts without a call
// reference and without a reference number.
class LAPD_NT_user {
public:
    typedef Cyclic<unsigned int, 127u> Sequence;
    enum State { unassigned = 0, assigned = 1, wait_answer = 2 };

    static constexpr unsigned kIdlePoll = 10000, kT200 = 1000, kCheckWait = 2000;
    static constexpr unsigned kN200 = 3;
    static constexpr unsigned kWindow = 7;
    static constexpr unsigned kWaitLimit = 128;

    LAPD_NT_user() = default;
    LAPD_NT_user(LAPD_NT_user const&) = delete;
    LAPD_NT_user& operator=(LAPD_NT_user const&) = delete;

    void set_lapd(LAPD_NT* link) { link_ = link; }
    void set_log(unsigned level) { log_ = level; }
    void set_Tei(unsigned char tei) { tei_ = tei; }
    unsigned char get_Tei() const { return tei_; }
    bool is_assigned() const { return state_ != unassigned; }
    bool is_check() const { return check_; }
    State state() const { return state_; }
    std::optional<unsigned short> reference() const { return reference_; }
    void set_reference(unsigned short ri) { reference_ = ri; }

    // Takes the entry into use (SABME to the terminal), or ends a running check.
    void assign();
    // Frees the entry: its timers stop, and what was queued for the terminal is dropped.
    void unassign();
    // Starts an identity check of an assigned entry.
    void checking();
    // A frame for this TEI, from its control field on, with the received C/R bit.
    void receive(Packet& frame, bool cr);
    // A layer-3 message from above: not carried when it does not belong to this terminal's
    // call, full when kWaitLimit messages wait for the terminal already.
    Handed message(Packet& p);

    // "LAPD_user(NT BRI)[Tei=64,assigned,check]:".
    void PutHeader(std::ostream& os) const;

private:
    bool logs() const { return log_ > 1; }
    std::ostream& log() const;

    // Frame handlers.
    void on_I(Packet& info, Sequence ns, Sequence nr, bool p);
    void on_supervisory(unsigned char control, bool command, Sequence nr, bool pf);
    void on_unnumbered(unsigned char code, bool command, bool pf);

    // Sending.
    void tx(unsigned char type, bool command, bool pf);
    // False (nothing sent, nothing counted) when no packet is left for the frame.
    bool tx_iframe(Packet const& message);
    // Full when kWaitLimit wait already.
    Handed hold(Packet const& message);
    // Sends waiting messages while the terminal is not busy and the window has room; true
    // when one went.
    bool send_waiting();
    void retransmit();

    // Acknowledgement of the frames up to n - 1; false when n is out of range. released
    // counts the frames that left the queue.
    bool ack_queue(Sequence n, unsigned& released);
    // After a valid acknowledgement: queued messages go, then the supervision follows what
    // is outstanding.
    void acknowledged(unsigned released);
    void supervise(State state, unsigned ms);
    void set_busy();
    void set_unbusy();

    void on_timer();
    void on_check_timer();

    bool check_ = false;
    LAPD_NT* link_ = nullptr;
    Sequence VR_, lastAck_, VS_;
    unsigned char tei_ = 0;
    State state_ = unassigned;
    Timer supervision_;
    Timer checkTimer_;
    unsigned retry_ = 0;
    std::optional<unsigned char> callRef_;
    bool busy_ = false;
    unsigned log_ = 0;
    CleanQueue<Packet, 135> waitQueue_;
    CleanQueue<Packet, kWindow> ackQueue_;
    std::optional<unsigned short> reference_;
};

// The network side of the Q.921 data link on a basic-rate bus of up to eight terminals:
// automatic TEI assignment (64 to 126) with the periodic identity check, one data link a
// terminal, layer-3 messages routed to the terminal that holds their call reference and
// SETUP broadcast to all.
//
// One layer of a stack holding no channel: whole frames come from below through receive and
// leave through transmit; layer-3 octets go up through on_message.
class LAPD_NT : public Protocol {
public:
    static constexpr unsigned kUsers = 8;
    static constexpr unsigned kCheckCycle = 60000;

    LAPD_NT();

    Protocol_name const& name() const override { return name_; }
    void local_prepare_head(Packet& p) override { p.reserve_head(4); }
    void local_prepare_tail(Packet& p) override { p.reserve_tail(0); }
    bool local_activate() override;
    void local_deactivate() override;
    // A layer-3 message from above (hand_down).
    void message(Packet& p) override { hand_down(p); }
    // The same, saying what became of it: a SETUP goes to every terminal; another message to
    // the first terminal holding its call reference (full when that terminal's wait queue
    // is); one that no terminal holds, or of a length no frame carries, is not carried. A
    // frame that finds no packet is full.
    Handed hand_down(Packet& p);
    void receive(Packet& p) override;
    // Whether a message of this many octets can be sent at all (a call reference and a
    // message type, to a frame's information field).
    static bool Carries(std::size_t octets);

    void set_log(unsigned level);
    // "LAPD(NT BRI):".
    void PutHeader(std::ostream& os) const;

    // A new frame with the room of the stack reserved; false (logged) when the pool keeps
    // no packet for it: the frame is not sent, and the supervision tries again.
    bool new_frame(Packet& frame);
    void send_to_layer3(Packet& p) { on_message(p); }
    void send_to_layer1(Packet& p) { transmit(p); }
    // A TEI management frame from the network.
    void tx_identity(unsigned short ri, unsigned ai, unsigned char type);

    LAPD_NT_user const& user(unsigned index) const { return users_[index]; }

private:
    bool logs() const { return log_ != 0; }
    std::ostream& log() const;

    void check_all_Tei();
    void on_tei_procedure(Packet const& management);
    void on_check_response(unsigned short ri, unsigned ai);
    // Identity remove, sent twice.
    void remove(unsigned ai);
    LAPD_NT_user* find_Tei(unsigned tei);
    LAPD_NT_user* find_free_Tei(unsigned tei);

    Timer cycle_;
    LAPD_NT_user users_[kUsers];
    unsigned log_ = 0;
    Protocol_name_str name_{"ISDN::LAPD_NT"};
};

}  // namespace ISDN
