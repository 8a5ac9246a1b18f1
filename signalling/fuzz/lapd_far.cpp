#include "signalling/fuzz/lapd_far.h"

#include "base/packet.h"
#include "tests/fuzz_support.h"

#include <algorithm>
#include <cstring>

namespace linkfuzz {

namespace {

using L = ISDN::LAPD;
using S = ISDN::LAPDFullState;
namespace frame = ISDN::frame;

bool established(unsigned state) { return state == S::multipleFrameEstablished || state == S::timerRecovery; }
// The states that answer a SABME or DISC.
bool answering(unsigned state) { return state >= S::teiAssigned && state <= S::timerRecovery; }

}  // namespace

unsigned lapdState(ISDN::LAPD const& link)
{
    for (unsigned s = 0; s < 8; ++s)
        if (std::strcmp(link.state_text(), ISDN::statetext(static_cast<unsigned char>(s))) == 0)
            return s;
    return 8;
}

LapdFar::LapdFar(char const* target, bool network, bool basicRate)
    : target_(target), network_(network), basicRate_(basicRate)
{
}

void LapdFar::bad(Frame const& f, std::string const& what) const
{
    testsupport::breach(target_, (f.empty() ? std::string() : "frame " + shown(f) + ": ") + what);
}

void LapdFar::beginStep(bool timeStep)
{
    timeStep_ = timeStep;
    polls_ = 0;
    rejectable_ = false;
    unnumberedDue_ = -1;
    finalDue_ = false;
    checkDue_ = false;
}

void LapdFar::endStep(bool couldSend)
{
    if (!couldSend)
        return;
    if (polls_ > 0)
        bad({}, std::to_string(polls_) + " poll(s) of the far end not answered with F set");
    if (unnumberedDue_ >= 0)
        bad({}, "no UA or DM answered the far end's SABME or DISC");
    if (checkDue_)
        bad({}, "no identity check response answered the far end's check request");
}

std::vector<Frame> LapdFar::takeDelivered()
{
    std::vector<Frame> out;
    out.swap(delivered_);
    return out;
}

void LapdFar::fromAbove(Frame const& message) { messages_.handedDown(message); }

// As the link reads a frame: its address, then its control field (a missing octet reads as 0).
void LapdFar::received(Frame const& f, unsigned state)
{
    if (f.size() < 2 || (f[0] & 0x01) || !(f[1] & 0x01))
        return;
    bool const command = (f[0] & 0x02) ? !network_ : network_;
    unsigned const tei = f[1] >> 1;
    if (basicRate_ && !network_ && tei != tei_ && tei != frame::kGroupTei)
        return;
    auto octet = [&](std::size_t i) -> unsigned { return i < f.size() ? f[i] : 0u; };
    unsigned const control = octet(2);
    if (!(control & 0x01))
        iframe(Frame(f.begin() + std::ptrdiff_t(std::min<std::size_t>(f.size(), 4)), f.end()), control >> 1,
               octet(3) >> 1, octet(3) & 1, state);
    else if ((control & 0x03) == 0x01)
        supervisory((control >> 2) & 3, command, octet(3) & 1, octet(3) >> 1, state);
    else
        unnumbered(f, control & ~0x10u, control & 0x10, state);
}

void LapdFar::iframe(Frame const& info, unsigned ns, unsigned nr, bool p, unsigned state)
{
    if (!established(state))
        return;
    if (ns == vr_) {
        vr_ = (vr_ + 1) & 127;
        delivered_.push_back(info);
    } else {
        rejectable_ = true;
    }
    // In sequence or not, a poll is answered (RR, or the REJ of the exception).
    polls_ += p ? 1 : 0;
    if (inRange(nr))
        va_ = nr;
    else
        peerBusy_ = false;  // the link establishes again
}

void LapdFar::supervisory(unsigned type, bool command, bool pf, unsigned nr, unsigned state)
{
    if (type == 3 || !established(state))
        return;
    peerBusy_ = type == L::RNR;
    if (command && pf)
        ++polls_;
    if (!inRange(nr)) {
        peerBusy_ = false;
        return;
    }
    // In timer recovery only a final response ends the recovery with a retransmission; in
    // the established state a REJ asks for one.
    bool const recovery = state == S::timerRecovery;
    if (recovery ? (!command && pf) : type == L::REJ)
        retransmission(nr);
    else
        va_ = nr;
}

void LapdFar::unnumbered(Frame const& f, unsigned code, bool pf, unsigned state)
{
    switch (code) {
    case L::SABME:
        restart();
        if (answering(state)) {
            unnumberedDue_ = state == S::awaitingRelease ? L::DM : L::UA;
            finalDue_ = pf;
        }
        break;
    case L::DISC:
        if (answering(state)) {
            unnumberedDue_ = state <= S::awaitingEstablishment ? L::DM : L::UA;
            finalDue_ = pf;
        }
        break;
    case L::UA:
        if (state == S::awaitingEstablishment || state == S::awaitingRelease)
            restart();
        break;
    case L::DM:
    case L::FRMR:
        if (established(state))
            peerBusy_ = false;
        break;
    case L::UI: {
        Frame const info(f.begin() + 3, f.end());
        if (!basicRate_ || info.empty())
            break;
        if (info[0] == frame::kManagementEntity)
            management(info, state);
        else
            delivered_.push_back(info);
        break;
    }
    default: break;
    }
}

void LapdFar::management(Frame const& info, unsigned state)
{
    if (info.size() <= 4)
        return;
    unsigned const ri = unsigned(info[1] | info[2] << 8);
    unsigned const ai = info[4] >> 1u;
    switch (info[3]) {
    case frame::identityAssigned:
        if ((state == S::assignAwaitingTei || state == S::establishAwaitingTei) && ri == ri_ && ai != frame::kGroupTei)
            tei_ = ai;
        break;
    case frame::identityCheckRequest:
        if (state >= S::teiAssigned && state <= S::timerRecovery && (ai == frame::kGroupTei || ai == tei_))
            checkDue_ = true;
        break;
    default: break;
    }
}

bool LapdFar::inRange(unsigned nr) const { return ((vs_ - va_) & 127) >= ((nr - va_) & 127); }

// The link sends again, from N(R) on, what it sent after it: those messages come next.
void LapdFar::retransmission(unsigned nr)
{
    va_ = nr;
    while (vs_ != nr) {
        vs_ = (vs_ + 127) & 127;
        messages_.putBack(infos_[vs_]);
    }
}

// Set up or reset: the numbers start at 0; what was put back may be dropped.
void LapdFar::restart()
{
    vs_ = va_ = vr_ = 0;
    peerBusy_ = false;
    messages_.reset();
}

void LapdFar::sent(Frame const& f)
{
    Packet packet;
    packet.reserve_head(0);
    if (!f.empty())
        std::memcpy(packet.put(unsigned(f.size())), f.data(), f.size());
    frame::Address a;
    if (!frame::readAddress(packet, a) || f.size() < 3)
        bad(f, "no address and control field");
    std::string const text = traceText(f, network_);
    std::string const tei = " tei = " + std::to_string(a.tei);
    char const* const kind = a.sapi == frame::kManagementSapi ? "tei management:" : (f[2] & 0x01) ? "SFrame" : "IFrame";
    if (text.find(kind) == std::string::npos || (a.sapi == 0 && text.find(tei) == std::string::npos))
        bad(f, "decoded as \"" + text + "\"");
    bool const command = a.cr == network_;
    if (a.sapi == frame::kManagementSapi) {
        if (f.size() != 8)
            bad(f, "a TEI management message of " + std::to_string(f.size()) + " octets");
        unsigned const ri = unsigned(f[4] | f[5] << 8), ai = f[7] >> 1u;
        if (f[6] == frame::identityRequest) {
            ri_ = ri;
        } else if (f[6] == frame::identityCheckResponse) {
            if (!checkDue_)
                bad(f, "an identity check response with no check request to answer");
            if (ri != ri_ || ai != tei_)
                bad(f, "a check response for Ri " + std::to_string(ri_) + " and TEI " + std::to_string(tei_));
            checkDue_ = false;
        }
        return;
    }
    if (a.sapi != 0 || a.tei != tei_)
        bad(f, "SAPI " + std::to_string(a.sapi) + ", TEI " + std::to_string(a.tei) + ": the link's are 0 and "
                   + std::to_string(tei_));
    unsigned const control = f[2];
    if (!(control & 0x01))
        sentI(f, command);
    else if ((control & 0x03) == 0x01)
        sentS(f, command);
    else
        sentU(f, command);
}

void LapdFar::sentI(Frame const& f, bool command)
{
    if (f.size() < 4 || !command)
        bad(f, "an I-frame that is no command");
    unsigned const ns = f[2] >> 1, nr = f[3] >> 1;
    if (f[3] & 1)
        bad(f, "an I-frame with P set");
    if (nr != vr_)
        bad(f, "N(R) " + std::to_string(nr) + ": the far end's I-frames the link accepted end at " + std::to_string(vr_));
    if (ns != vs_)
        bad(f, "N(S) " + std::to_string(ns) + ": the link's next is " + std::to_string(vs_));
    if (peerBusy_)
        bad(f, "an I-frame while the far end is busy");
    if (((vs_ - va_) & 127) >= 7)
        bad(f, "an eighth I-frame outstanding (V(A) " + std::to_string(va_) + ")");
    Frame const info(f.begin() + 4, f.end());
    if (std::string const why = messages_.sent(info); !why.empty())
        bad(f, "N(S) " + std::to_string(ns) + ": " + why);
    infos_[ns] = info;
    vs_ = (vs_ + 1) & 127;
}

void LapdFar::sentS(Frame const& f, bool command)
{
    unsigned const type = (f[2] >> 2) & 3;
    if (f.size() != 4 || f[2] > 0x09)
        bad(f, "a malformed supervisory frame");
    unsigned const nr = f[3] >> 1;
    bool const pf = f[3] & 1;
    if (nr != vr_)
        bad(f, "N(R) " + std::to_string(nr) + ": the far end's I-frames the link accepted end at " + std::to_string(vr_));
    if (type == L::RNR)
        bad(f, "an RNR: the link is never busy");
    if (command) {
        if (!pf || type != L::RR)
            bad(f, "a supervisory command that is no poll");
        if (!timeStep_)
            bad(f, "a poll before a timer ran out");
        return;
    }
    if (pf) {
        if (polls_ == 0)
            bad(f, "F set with no poll of the far end to answer");
        --polls_;
    }
    if (type == L::REJ && !rejectable_)
        bad(f, "a REJ with no I-frame out of sequence to reject");
}

void LapdFar::sentU(Frame const& f, bool command)
{
    unsigned const code = f[2] & ~0x10u;
    bool const pf = f[2] & 0x10;
    if (f.size() != 3)
        bad(f, "an unnumbered frame with an information field");
    switch (code) {
    case L::SABME:
    case L::DISC:
        if (!command || !pf)
            bad(f, "a SABME or DISC that is not a command with P set");
        break;
    case L::UA:
    case L::DM:
        if (command || int(code) != unnumberedDue_)
            bad(f, "a UA or DM that answers no SABME or DISC of the far end, or not as due");
        if (pf != finalDue_)
            bad(f, "F is not the P of the SABME or DISC it answers");
        unnumberedDue_ = -1;
        break;
    default: bad(f, "an unnumbered frame the link never sends");
    }
}

namespace {

// TEI management message types, the network's first.
constexpr std::uint8_t kIdentityTypes[] = {2, 3, 4, 6, 1, 5, 7, 0x0B};

Frame const& someMessage(Input& in) { return kMessages[in.byte() % kMessageCount]; }

}  // namespace

Frame farIFrame(LapdFar& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    unsigned const ns = sequence(flags, far.expectedNs(), in);
    unsigned const nr = sequence(flags >> 2, far.acknowledgeAll(), in);
    unsigned const tei = flags & 0x20 ? in.byte() & 127u : far.tei();
    unsigned const sapi = flags & 0x80 ? in.byte() & 63u : 0;
    Frame f = far.address(sapi, !(flags & 0x40), tei);
    f.push_back(std::uint8_t(ns << 1));
    f.push_back(std::uint8_t(nr << 1 | (flags & 0x10 ? 1 : 0)));
    std::uint8_t const kind = in.byte();
    Frame const info = kind < 0xC0 ? kMessages[kind % kMessageCount] : in.take(kind & 0x3F);
    f.insert(f.end(), info.begin(), info.end());
    return f;
}

Frame farSupervisory(LapdFar& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    unsigned const type = flags & 3;
    unsigned const nr = sequence(flags >> 4, far.acknowledgeAll(), in);
    unsigned const tei = flags & 0x40 ? in.byte() & 127u : far.tei();
    Frame f = far.address(0, flags & 0x04, tei);
    f.push_back(std::uint8_t(type * 4 + 1));
    f.push_back(std::uint8_t(nr << 1 | (flags & 0x08 ? 1 : 0)));
    if (flags & 0x80)
        f.push_back(in.byte());
    return f;
}

Frame farUnnumbered(LapdFar& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    std::uint8_t const code = kUnnumberedCodes[flags & 7];
    unsigned const tei = flags & 0x40 ? ISDN::frame::kGroupTei : flags & 0x20 ? in.byte() & 127u : far.tei();
    Frame f = far.address(0, flags & 0x08, tei);
    f.push_back(std::uint8_t(code | (flags & 0x10 ? 0x10 : 0)));
    if (code == ISDN::LAPD::UI || (flags & 0x80)) {
        Frame const& info = someMessage(in);
        f.insert(f.end(), info.begin(), info.end());
    }
    return f;
}

Frame farManagement(LapdFar& far, Input& in)
{
    std::uint8_t const flags = in.byte();
    unsigned ri = far.ri();
    if (flags & 0x08) {
        ri = in.byte();
        ri |= unsigned(in.byte()) << 8;
    }
    unsigned ai = ISDN::frame::kGroupTei;
    switch ((flags >> 4) & 3) {
    case 1: ai = far.tei(); break;
    case 2: ai = 64 + in.byte() % 63u; break;
    case 3: ai = in.byte() & 127u; break;
    default: break;
    }
    return teiManagement(far.cr(true), flags & 0x80, ri, kIdentityTypes[flags & 7], ai, flags & 0x40);
}

}  // namespace linkfuzz
