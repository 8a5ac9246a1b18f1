#pragma once

// The far end of one Q.921 data link run by ISDN::LAPD (either side, primary or basic rate),
// shared by the targets that feed such a link. It keeps its own counters: V(R) of the link
// (the far end's I-frames the link must have accepted), V(S) and V(A) of the link (the
// I-frames the link sent and the far end acknowledged), the link's TEI as the far end gave
// it, the messages the controller handed down still to come, and the answers the link owes.
// The link's procedure state (which of its eight states it is in when a frame reaches it) is
// the one thing taken from the link: it is what decides how the link takes the frame.
//
// Every frame the link writes is read back by the link's own address reader and the trace
// decoder, and checked against these counters: its N(S) follows the
// link's previous one or starts a retransmission at the far end's N(R); its N(R) is the far
// end's V(S) as the link accepted it; P/F is set only where a poll or an answer to one is
// due; a UA or DM answers a SABME or DISC with its P; the information of an I-frame is the
// controller's next message (or the one it repeats); the TEI is the one assigned.

#include "signalling/fuzz/far_end.h"
#include "signalling/lapd.h"
#include "signalling/q931_trace.h"

#include <cstdint>
#include <string>
#include <vector>

namespace linkfuzz {

// Layer-3 messages: protocol discriminator, call reference, message type, elements.
inline Frame const kMessages[] = {
    {0x08, 0x01, 0x01, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3, 0x18, 0x03, 0xA1, 0x83, 0x81, 0x70, 0x04, 0x81, 0x31,
     0x32, 0x33},                                            // SETUP
    {0x08, 0x01, 0x81, 0x07},                                // CONNECT
    {0x08, 0x01, 0x81, 0x4D, 0x08, 0x02, 0x80, 0x90},        // RELEASE with a cause
    {0x08, 0x01, 0x01, 0x5A},                                // RELEASE COMPLETE
    {0x08, 0x02, 0x00, 0x01, 0x7D, 0x08, 0x02, 0x81, 0xE2},  // STATUS, two-octet call reference
    {0x08, 0x00, 0x7B},                                      // INFORMATION, dummy call reference
};
constexpr unsigned kMessageCount = sizeof kMessages / sizeof kMessages[0];

// Control fields of the unnumbered frames, P/F clear, and one that is none of them.
constexpr std::uint8_t kUnnumberedCodes[] = {ISDN::LAPD::SABME, ISDN::LAPD::DISC, ISDN::LAPD::UA,
                                             ISDN::LAPD::DM,    ISDN::LAPD::FRMR, ISDN::LAPD::XID,
                                             ISDN::LAPD::UI,    0x2F};

// Two address octets.
inline Frame address(unsigned sapi, bool cr, unsigned tei)
{
    return {std::uint8_t(sapi << 2 | (cr ? 0x02 : 0)), std::uint8_t(tei << 1 | 1)};
}

// A TEI management message to the group TEI (C/R as given): the entity's code (or 0x0E, not
// its), Ri, the message type and Ai; with cut, the Ai left off.
inline Frame teiManagement(bool cr, bool otherEntity, unsigned ri, std::uint8_t type, unsigned ai, bool cut)
{
    Frame const head = address(ISDN::frame::kManagementSapi, cr, ISDN::frame::kGroupTei);
    Frame f = {head[0],
               head[1],
               ISDN::frame::kUiControl,
               std::uint8_t(otherEntity ? 0x0E : ISDN::frame::kManagementEntity),
               std::uint8_t(ri & 0xFF),
               std::uint8_t(ri >> 8),
               type,
               std::uint8_t(ai << 1 | 1)};
    if (cut)
        f.pop_back();
    return f;
}

// The trace decoder's text of a frame sent towards the user side or away from it.
inline std::string traceText(Frame const& f, bool towardsUser)
{
    char text[ISDN::kLogBufSize];
    ISDN::dlogframe(f.data(), unsigned(f.size()), towardsUser ? 1 : 0, text, sizeof text);
    return text;
}

// The link's state 0..7, read from its state text.
unsigned lapdState(ISDN::LAPD const& link);

class LapdFar {
public:
    LapdFar() = default;
    // The target's name for breaches, the link's side and whether it runs on a basic-rate
    // channel (TEI management and TEI filtering).
    LapdFar(char const* target, bool network, bool basicRate);

    // The C/R bit of a far end's command or response, and the two address octets.
    bool cr(bool command) const { return command != network_; }
    Frame address(unsigned sapi, bool command, unsigned tei) const { return linkfuzz::address(sapi, cr(command), tei); }
    unsigned tei() const { return tei_; }
    unsigned ri() const { return ri_; }
    // The N(S) the link takes next, and the N(R) acknowledging all it sent.
    unsigned expectedNs() const { return vr_; }
    unsigned acknowledgeAll() const { return vs_; }

    // A step begins; timeStep: it moves the clock on (the link polls only then).
    void beginStep(bool timeStep);
    // The link read the frame in its state (before it took the frame).
    void received(Frame const& frame, unsigned state);
    // A message the controller handed down.
    void fromAbove(Frame const& message);
    // A frame the link wrote, oldest first.
    void sent(Frame const& frame);
    // The step is over; couldSend: the link's frames could go out all through it, so every
    // answer it owes must have gone.
    void endStep(bool couldSend);
    // The information fields the link had to deliver upwards since the last take, in order.
    std::vector<Frame> takeDelivered();

private:
    [[noreturn]] void bad(Frame const& frame, std::string const& what) const;

    void iframe(Frame const& info, unsigned ns, unsigned nr, bool p, unsigned state);
    void supervisory(unsigned type, bool command, bool pf, unsigned nr, unsigned state);
    void unnumbered(Frame const& frame, unsigned code, bool pf, unsigned state);
    void management(Frame const& info, unsigned state);
    bool inRange(unsigned nr) const;
    void retransmission(unsigned nr);
    void restart();
    void sentI(Frame const& frame, bool command);
    void sentS(Frame const& frame, bool command);
    void sentU(Frame const& frame, bool command);

    char const* target_ = "lapd_fuzz";
    bool network_ = false;
    bool basicRate_ = false;
    unsigned tei_ = 0;
    unsigned ri_ = 0;
    // The link's V(S), V(A) and V(R) as the far end keeps them.
    unsigned vs_ = 0, va_ = 0, vr_ = 0;
    bool peerBusy_ = false;
    Frame infos_[128];
    FarMessages messages_;
    std::vector<Frame> delivered_;

    // What the step's frame asked for and what it allows.
    bool timeStep_ = false;
    unsigned polls_ = 0;       // responses with F = 1 due
    bool rejectable_ = false;  // an I-frame out of sequence came: a REJ may answer it
    int unnumberedDue_ = -1;   // the UA or DM code due, -1 none
    bool finalDue_ = false;    // its F bit
    bool checkDue_ = false;    // an identity check response due
};

// The far end's frames, built from its counters so that their sequence numbers, TEI and Ri
// can be the ones the link expects, or not: an I-frame (flags, [N(S)], [N(R)], [TEI], [SAPI],
// message), a supervisory frame (flags, [N(R)], [TEI]: RR, RNR, REJ or an undefined one), an
// unnumbered one (flags, [TEI], [message]: SABME, DISC, UA, DM, FRMR, XID, UI or undefined),
// a TEI management message (flags, [Ri], [Ai]).
Frame farIFrame(LapdFar& far, Input& in);
Frame farSupervisory(LapdFar& far, Input& in);
Frame farUnnumbered(LapdFar& far, Input& in);
Frame farManagement(LapdFar& far, Input& in);

}  // namespace linkfuzz
