#include "signalling/lapd_nt.h"

#include "base/ext.h"
#include "signalling/lapd.h"

#include <iostream>

namespace ISDN {

namespace {

constexpr unsigned char kSetup = 0x05;
constexpr unsigned kFirstAutomaticTei = 64;
constexpr unsigned kLastAutomaticTei = 126;

}  // namespace

// One terminal's data link

std::ostream& LAPD_NT_user::log() const { return std::clog << ext::header(this); }

void LAPD_NT_user::PutHeader(std::ostream& os) const
{
    os << "LAPD_user(NT BRI)[";
    if (state_ == unassigned) {
        os << "unassigned]:";
        return;
    }
    os << "Tei=" << unsigned(tei_) << (state_ == assigned ? ",assigned" : ",wait_answer");
    if (check_)
        os << ",check";
    if (busy_)
        os << ",busy";
    os << "]";
}

void LAPD_NT_user::assign()
{
    if (check_ && is_assigned()) {
        if (logs())
            log() << "checked" << std::endl;
        check_ = false;
        checkTimer_.reset();
        return;
    }
    if (logs())
        log() << "assigned" << std::endl;
    VR_ = VS_ = Sequence(0);
    // Nothing sent yet: the newest acknowledged N(S) is the one before the first.
    lastAck_ = VS_ - Sequence(1);
    state_ = assigned;
    tx(LAPD::SABME, true, true);
    busy_ = check_ = false;
    checkTimer_.reset();
    waitQueue_.clear();
    ackQueue_.clear();
    retry_ = 0;
    callRef_.reset();
    reference_.reset();
    supervise(assigned, kIdlePoll);
}

void LAPD_NT_user::unassign()
{
    if (logs())
        log() << "unassigned" << std::endl;
    state_ = unassigned;
    supervision_.reset();
    checkTimer_.reset();
    // Nothing is sent to a terminal that has gone: what waited for it gives its packets back
    // now, not when the entry is next assigned.
    waitQueue_.clear();
    ackQueue_.clear();
}

void LAPD_NT_user::checking()
{
    if (!is_assigned())
        return;
    if (logs())
        log() << "checking started" << std::endl;
    check_ = true;
    checkTimer_.set(kCheckWait, &LAPD_NT_user::on_check_timer, this);
}

void LAPD_NT_user::on_check_timer() { unassign(); }

// Reception

void LAPD_NT_user::receive(Packet& frame, bool cr)
{
    Packet const& f = frame;
    if (f.null() || f.empty())
        return;
    bool const command = !cr;
    unsigned char const control = f[0];
    if (!(control & 0x01)) {
        if (!command || f.length() < 2)
            return;
        Sequence const ns(control >> 1), nr(f[1] >> 1);
        bool const p = f[1] & 0x01;
        frame.pull(2);
        on_I(frame, ns, nr, p);
    } else if ((control & 0x03) == 0x01) {
        if (f.length() < 2)
            return;
        on_supervisory(control, command, Sequence(f[1] >> 1), f[1] & 0x01);
    } else {
        on_unnumbered(static_cast<unsigned char>(control & ~0x10), command, control & 0x10);
    }
}

void LAPD_NT_user::on_I(Packet& info, Sequence ns, Sequence nr, bool p)
{
    if (logs())
        log() << "received I frame" << std::endl;
    if (ns == VR_) {
        ++VR_;
        if (p)
            tx(LAPD::RR, false, true);
        // A field too short for a call reference is not delivered; its N(R) still counts.
        Packet const& field = info;
        if (field.length() >= 4) {
            callRef_ = static_cast<unsigned char>(field[2] & 0x7F);
            link_->send_to_layer3(info);
        }
    } else {
        tx(LAPD::REJ, false, p);
    }
    unsigned released = 0;
    if (ack_queue(nr, released))
        acknowledged(released);
    else
        unassign();
}

void LAPD_NT_user::on_supervisory(unsigned char control, bool command, Sequence nr, bool pf)
{
    char const* text;
    switch (control) {
    case 0x01: text = "received RR frame"; break;
    case 0x05: text = "received RNR frame"; break;
    case 0x09: text = "received REJ frame"; break;
    default: return;
    }
    if (logs())
        log() << text << std::endl;
    if (control == 0x05)
        set_busy();
    if (command && pf)
        tx(LAPD::RR, false, true);
    unsigned released = 0;
    if (control != 0x09) {
        if (!ack_queue(nr, released)) {
            unassign();
            return;
        }
        if (control == 0x01)
            set_unbusy();
        acknowledged(released);
        return;
    }
    // REJ: the frames from N(R) - 1 on go again.
    if (!ack_queue(nr - Sequence(1), released)) {
        unassign();
        return;
    }
    retransmit();
    set_unbusy();
    send_waiting();
    retry_ = 0;
    supervise(wait_answer, kT200);
}

void LAPD_NT_user::on_unnumbered(unsigned char code, bool command, bool pf)
{
    switch (code) {
    case LAPD::SABME:
        if (!command)
            return;
        if (logs())
            log() << "received SABME frame" << std::endl;
        VR_ = VS_ = Sequence(0);
        lastAck_ = VS_ - Sequence(1);
        if (pf)
            tx(LAPD::UA, false, true);
        ackQueue_.clear();
        set_unbusy();
        acknowledged(0);
        return;
    case LAPD::DISC:
        if (!command)
            return;
        if (logs())
            log() << "received DISC frame" << std::endl;
        if (pf)
            tx(LAPD::UA, false, true);
        unassign();
        return;
    case LAPD::DM:
    case LAPD::FRMR:
        if (command)
            return;
        if (logs())
            log() << (code == LAPD::DM ? "received DM frame" : "received FRMR frame") << std::endl;
        unassign();
        return;
    case LAPD::XID:
        if (logs())
            log() << "received XID frame" << std::endl;
        return;
    default:
        return;
    }
}

// Acknowledgement

bool LAPD_NT_user::ack_queue(Sequence n, unsigned& released)
{
    if (logs())
        log() << "ack queue" << std::endl;
    released = 0;
    if (n == lastAck_)
        return true;
    if (!((lastAck_ <= n) <= VS_))
        return false;
    lastAck_ = n - Sequence(1);
    unsigned const acknowledged = unsigned(n - (VS_ - Sequence(ackQueue_.count())));
    for (Packet frame; released < acknowledged && ackQueue_.get(frame);)
        ++released;
    return true;
}

void LAPD_NT_user::acknowledged(unsigned released)
{
    bool const sent = send_waiting();
    if (ackQueue_.empty()) {
        supervise(assigned, kIdlePoll);
    } else if (released > 0 || sent || state_ != wait_answer) {
        retry_ = 0;
        supervise(wait_answer, kT200);
    }
}

void LAPD_NT_user::supervise(State state, unsigned ms)
{
    state_ = state;
    supervision_.set(ms, &LAPD_NT_user::on_timer, this);
}

void LAPD_NT_user::set_busy()
{
    if (!busy_ && logs())
        log() << "set busy" << std::endl;
    busy_ = true;
}

void LAPD_NT_user::set_unbusy()
{
    if (busy_ && logs())
        log() << "set unbusy" << std::endl;
    busy_ = false;
}

// Sending

void LAPD_NT_user::tx(unsigned char type, bool command, bool pf)
{
    Packet frame;
    if (!link_->new_frame(frame))
        return;
    frame::putAddress(frame, 0, command, tei_);
    frame::putControl(frame, type, pf, unsigned(VR_));
    if (logs())
        log() << (type <= LAPD::REJ ? "transmit S frame" : "transmit U frame") << std::endl;
    link_->send_to_layer1(frame);
}

bool LAPD_NT_user::tx_iframe(Packet const& message)
{
    Packet frame;
    if (!link_->new_frame(frame))
        return false;
    frame.put(message);
    frame::pushIControl(frame, unsigned(VS_), unsigned(VR_), true);
    frame::pushAddress(frame, 0, true, tei_);
    ackQueue_.put(frame);
    ++VS_;
    if (logs())
        log() << "transmit I frame" << std::endl;
    link_->send_to_layer1(frame);
    return true;
}

Handed LAPD_NT_user::hold(Packet const& message)
{
    if (waitQueue_.count() >= kWaitLimit)
        return Handed::full;
    waitQueue_.put(message);
    return Handed::taken;
}

bool LAPD_NT_user::send_waiting()
{
    bool sent = false;
    Packet next;
    while (!busy_ && ackQueue_.count() < kWindow && waitQueue_.preview(&next) && tx_iframe(next)) {
        waitQueue_.get(next);
        sent = true;
    }
    return sent;
}

Handed LAPD_NT_user::message(Packet& p)
{
    Packet const& m = p;
    if (state_ == unassigned || !callRef_ || m.length() < 3 || *callRef_ != (m[2] & 0x7F))
        return Handed::notCarried;
    // A message that finds no packet for its frame waits with the others.
    if (busy_ || ackQueue_.count() >= kWindow || !waitQueue_.empty() || !tx_iframe(p))
        return hold(p);
    supervise(wait_answer, kT200);
    return Handed::taken;
}

void LAPD_NT_user::retransmit()
{
    if (logs())
        log() << "retransmit queue" << std::endl;
    for (unsigned i = 0, n = ackQueue_.count(); i < n; ++i) {
        Packet frame;
        ackQueue_.get(frame);
        ackQueue_.put(frame);
        link_->send_to_layer1(frame);
    }
}

// Supervision: a silent terminal is polled, unanswered frames are sent again (a busy
// terminal is polled instead), and N200 expiries in a row give the terminal up.
void LAPD_NT_user::on_timer()
{
    switch (state_) {
    case assigned:
        state_ = wait_answer;
        tx(LAPD::RR, true, true);
        retry_ = 0;
        supervise(wait_answer, kT200);
        break;
    case wait_answer:
        if (retry_ >= kN200) {
            if (logs())
                log() << "T200 expiried N200 times" << std::endl;
            unassign();
            break;
        }
        ++retry_;
        if (busy_ || ackQueue_.empty())
            tx(LAPD::RR, true, true);
        else
            retransmit();
        supervise(wait_answer, kT200);
        break;
    case unassigned:
        break;
    }
}

// The bus

LAPD_NT::LAPD_NT()
{
    for (LAPD_NT_user& u : users_)
        u.set_lapd(this);
}

std::ostream& LAPD_NT::log() const { return std::clog << ext::header(this); }

void LAPD_NT::PutHeader(std::ostream& os) const { os << "LAPD(NT BRI):"; }

void LAPD_NT::set_log(unsigned level)
{
    log_ = level;
    for (LAPD_NT_user& u : users_)
        u.set_log(level);
}

bool LAPD_NT::local_activate()
{
    if (logs())
        log() << "activate" << std::endl;
    check_all_Tei();
    return on_activate();
}

void LAPD_NT::local_deactivate()
{
    if (logs())
        log() << "deactivate" << std::endl;
    cycle_.reset();
    for (LAPD_NT_user& u : users_)
        u.unassign();
}

bool LAPD_NT::Carries(std::size_t octets) { return octets >= 4 && octets <= frame::kMaxInformation; }

Handed LAPD_NT::hand_down(Packet& p)
{
    Packet const& m = p;
    // The header goes into the head room reserved for it: a message longer than the
    // information field of a frame is dropped.
    if (m.null() || !Carries(m.length()))
        return Handed::notCarried;
    if (m[3] == kSetup) {
        Packet frame;
        if (!new_frame(frame))
            return Handed::full;
        frame.put(m);
        frame.push8(frame::kUiControl);
        frame::pushAddress(frame, 0, true, frame::kGroupTei);
        send_to_layer1(frame);
        return Handed::taken;
    }
    // The first terminal holding the call answers for it, also when it cannot take it.
    for (LAPD_NT_user& u : users_) {
        Handed const handed = u.message(p);
        if (handed != Handed::notCarried)
            return handed;
    }
    return Handed::notCarried;
}

void LAPD_NT::receive(Packet& p)
{
    frame::Address a;
    if (!frame::readAddress(p, a) || p.length() <= 2)
        return;
    Packet const& f = p;
    if (a.tei == frame::kGroupTei) {
        if (f[2] != frame::kUiControl)
            return;
        p.pull(3);
        if (a.sapi == frame::kManagementSapi)
            on_tei_procedure(p);
        else
            send_to_layer3(p);
        return;
    }
    LAPD_NT_user* u = find_Tei(a.tei);
    if (u == nullptr) {
        u = find_free_Tei(a.tei);
        if (u == nullptr) {
            if (logs())
                log() << "recieved packet with unassigned TEI=" << a.tei << ",removed" << std::endl;
            remove(a.tei);
            return;
        }
        if (logs())
            log() << "Warning:recieved packet with unassigned TEI=" << a.tei << std::endl;
        u->assign();
    }
    p.pull(2);
    u->receive(p, a.cr);
}

// TEI management

bool LAPD_NT::new_frame(Packet& frame)
{
    if (new_packet(frame))
        return true;
    log() << "no packet for a frame, not sent" << std::endl;
    return false;
}

void LAPD_NT::tx_identity(unsigned short ri, unsigned ai, unsigned char type)
{
    Packet frame;
    if (!new_frame(frame))
        return;
    frame::putIdentity(frame, true, ri, ai, type);
    send_to_layer1(frame);
}

void LAPD_NT::remove(unsigned ai)
{
    tx_identity(0, ai, frame::identityRemove);
    tx_identity(0, ai, frame::identityRemove);
}

void LAPD_NT::check_all_Tei()
{
    if (logs())
        log() << "Checking Tei values...." << std::endl;
    cycle_.reset();
    for (LAPD_NT_user& u : users_)
        u.checking();
    tx_identity(0, frame::kGroupTei, frame::identityCheckRequest);
    cycle_.set(kCheckCycle, &LAPD_NT::check_all_Tei, this);
}

void LAPD_NT::on_tei_procedure(Packet const& m)
{
    if (m.length() <= 4 || m[0] != frame::kManagementEntity)
        return;
    unsigned short const ri = static_cast<unsigned short>(m[1] | m[2] << 8);
    unsigned char const type = m[3];
    unsigned const ai = m[4] >> 1;
    switch (type) {
    case frame::identityRequest:
        if (ai < kFirstAutomaticTei) {
            if (logs())
                log() << "recieved identity request with wrong Ai=" << ai << ",ignored" << std::endl;
        } else if (ai != frame::kGroupTei) {
            if (logs())
                log() << "recieved identity request with wrong Ai=" << ai << ",denied" << std::endl;
            tx_identity(ri, ai, frame::identityDenied);
        } else if (LAPD_NT_user* u = find_free_Tei(frame::kGroupTei)) {
            if (logs())
                log() << "recieved identity request,TEI assigned:" << unsigned(u->get_Tei()) << std::endl;
            tx_identity(ri, u->get_Tei(), frame::identityAssigned);
            u->assign();
        } else {
            if (logs())
                log() << "recieved identity request, but all TEI values is ussigned" << std::endl;
            tx_identity(ri, frame::kGroupTei, frame::identityDenied);
        }
        break;
    case frame::identityCheckResponse:
        on_check_response(ri, ai);
        break;
    case frame::identityVerifyRequest:
        if (logs())
            log() << "recieved verify request" << std::endl;
        check_all_Tei();
        break;
    default:
        break;
    }
}

void LAPD_NT::on_check_response(unsigned short ri, unsigned ai)
{
    LAPD_NT_user* u = ai == frame::kGroupTei ? nullptr : find_Tei(ai);
    if (u != nullptr && !u->is_check()) {
        if (u->reference() == ri)
            return;
        if (logs())
            log() << "recieved check response with dublicated Ai=" << ai << ",removed" << std::endl;
        u->unassign();
        remove(ai);
        return;
    }
    if (u == nullptr && ai != frame::kGroupTei)
        u = find_free_Tei(ai);
    if (u == nullptr) {
        if (logs())
            log() << "recieved check response with wrong Ai=" << ai << ",removed" << std::endl;
        remove(ai);
        return;
    }
    if (logs())
        log() << "TEI " << ai << " checked" << std::endl;
    u->assign();
    u->set_reference(ri);
}

LAPD_NT_user* LAPD_NT::find_Tei(unsigned tei)
{
    for (LAPD_NT_user& u : users_)
        if (u.is_assigned() && u.get_Tei() == tei)
            return &u;
    return nullptr;
}

LAPD_NT_user* LAPD_NT::find_free_Tei(unsigned tei)
{
    LAPD_NT_user* free = nullptr;
    for (LAPD_NT_user& u : users_)
        if (!u.is_assigned()) {
            free = &u;
            break;
        }
    if (free == nullptr)
        return nullptr;
    if (tei != frame::kGroupTei) {
        free->set_Tei(static_cast<unsigned char>(tei));
        return free;
    }
    for (unsigned v = kFirstAutomaticTei; v <= kLastAutomaticTei; ++v)
        if (find_Tei(v) == nullptr) {
            free->set_Tei(static_cast<unsigned char>(v));
            return free;
        }
    return nullptr;
}

}  // namespace ISDN
