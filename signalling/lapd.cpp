#include "signalling/lapd.h"

#include "base/ext.h"
#include "signalling/q931_trace.h"

#include <iostream>

namespace ISDN {

namespace {

char const* const kStateTexts[] = {
    "TEI unassigned",         "Assign awaiting TEI", "Establish awaiting TEI",     "TEI assigned",
    "Awaiting establishment", "Awaiting release",    "Multiple frame established", "Timer recovery",
};

char const* const kTimerNames[] = {"T200", "T202", "T203"};

// Above this many queued messages the link is congested; at this many or fewer it is not.
constexpr unsigned kCongestedAbove = 88;
constexpr unsigned kNormalAtMost = 64;
// Messages from above beyond this many queued are discarded.
constexpr unsigned kQueueLimit = 127;
// The window: unacknowledged I-frames at most.
constexpr unsigned kWindow = 7;

char const* commandText(bool command) { return command ? "command" : "response"; }

}  // namespace

std::ostream& operator<<(std::ostream& os, Side::type side) { return os << (side == Side::network ? "network" : "user"); }

char const* statetext(unsigned char state) { return state < 8 ? kStateTexts[state] : "(unknown)"; }

LAPD::LAPD(Side::type side, unsigned int logLevel) : side_(side), log_(logLevel) {}

void LAPD::PutHeader(std::ostream& os) const { os << "LAPD[" << linkno_ << "] (" << state_text() << "): "; }

std::ostream& LAPD::log() const { return std::clog << ext::header(this); }

void LAPD::local_prepare_head(Packet& p) { p.reserve_head(4); }

void LAPD::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

// Sending

namespace frame {

void putAddress(Packet& frame, unsigned sapi, bool cr, unsigned tei)
{
    frame.put8(static_cast<unsigned char>(sapi << 2 | (cr ? 2 : 0)));
    frame.put8(static_cast<unsigned char>(tei << 1 | 1));
}

void putControl(Packet& frame, unsigned char type, bool pf, unsigned nr)
{
    switch (type) {
    case LAPD::RR:
    case LAPD::RNR:
    case LAPD::REJ:
        frame.put8(static_cast<unsigned char>(type * 4 + 1));
        frame.put8(static_cast<unsigned char>(nr << 1 | (pf ? 1 : 0)));
        break;
    case LAPD::UI:
    case LAPD::DM:
    case LAPD::DISC:
    case LAPD::UA:
    case LAPD::SABME:
    case LAPD::FRMR:
    case LAPD::XID:
        frame.put8(static_cast<unsigned char>(type | (pf ? 0x10 : 0)));
        break;
    default:
        break;
    }
}

void pushAddress(Packet& frame, unsigned sapi, bool cr, unsigned tei)
{
    frame.push8(static_cast<unsigned char>(tei << 1 | 1));
    frame.push8(static_cast<unsigned char>(sapi << 2 | (cr ? 2 : 0)));
}

void pushIControl(Packet& frame, unsigned ns, unsigned nr, bool p)
{
    frame.push8(static_cast<unsigned char>(nr << 1 | (p ? 1 : 0)));
    frame.push8(static_cast<unsigned char>(ns << 1));
}

void putIdentity(Packet& frame, bool network, unsigned short ri, unsigned ai, unsigned char type)
{
    putAddress(frame, kManagementSapi, network, kGroupTei);
    frame.put8(kUiControl);
    frame.put8(kManagementEntity);
    frame.put16(ri);
    frame.put8(type);
    frame.put8(static_cast<unsigned char>(ai << 1 | 1));
}

bool readAddress(Packet const& frame, Address& address)
{
    if (frame.null() || frame.length() < 2 || (frame[0] & 0x01) || !(frame[1] & 0x01))
        return false;
    address.sapi = frame[0] >> 2;
    address.cr = frame[0] & 0x02;
    address.tei = frame[1] >> 1;
    return true;
}

}  // namespace frame

bool LAPD::cr(bool command) const { return command ? side_ == Side::network : side_ == Side::user; }

bool LAPD::new_frame(Packet& frame)
{
    if (new_packet(frame))
        return true;
    log() << "no packet for a frame, not sent" << std::endl;
    return false;
}

bool LAPD::tx_cmd_resp(unsigned char type, bool pf, bool command)
{
    Packet frame;
    if (!new_frame(frame))
        return false;
    frame::putAddress(frame, unsigned(selfSAPI), cr(command), unsigned(selfTEI));
    frame::putControl(frame, type, pf, unsigned(VR));
    return xmit(frame);
}

bool LAPD::tx_iframe(Packet const& data, bool p)
{
    // The header goes into the head room reserved for it, so every message the stack
    // prepared fits (message() refuses longer ones). Without a packet the message waits.
    Packet frame;
    if (!new_frame(frame))
        return false;
    frame.put(data);
    frame::pushIControl(frame, unsigned(VS), unsigned(VR), p);
    frame::pushAddress(frame, unsigned(selfSAPI), cr(true), unsigned(selfTEI));
    return xmit(frame);
}

bool LAPD::xmit(Packet& frame)
{
    if (!channel_) {
        if (logs(4))
            log() << "no HDLC device attached!!!" << std::endl;
        return false;
    }
    if (!channel_->hdlc_transmit(frame)) {
        log() << "tx full" << std::endl;
        return false;
    }
    if (log_ > 2)
        trace("tx: ", frame, false);
    return true;
}

void LAPD::trace(char const* prefix, Packet const& frame, bool received) const
{
    // The user side receives from the network and sends to it.
    bool const towardsUser = received == (side_ == Side::user);
    dlogframe(frame.data(), frame.length(), towardsUser ? 1 : 0, logbuf);
    log() << prefix << logbuf << std::endl;
}

// Messages from above

bool LAPD::Carries(std::size_t octets) { return octets >= 1 && octets <= frame::kMaxInformation; }

Handed LAPD::hand_down(Packet& p)
{
    ++stats_.txMessages;
    if (p.null() || p.empty()) {
        ++stats_.txEmpty;
        return Handed::notCarried;
    }
    if (!Carries(p.length())) {
        log() << "discard outgoing message of " << p.length() << " octets: longer than a frame holds" << std::endl;
        return Handed::notCarried;
    }
    Handed handed = Handed::taken;
    if (outQueue_.count() > kQueueLimit) {
        log() << "discard outgoing message: buffer overflow" << std::endl;
        ++stats_.outOverflows;
        handed = Handed::full;
    } else {
        if (logs(3)) {
            log() << "outgoing queue size = " << outQueue_.count() << " tx counter = " << stats_.txMessages << std::endl;
            log() << "add to tx queue: " << p << std::endl;
        }
        outQueue_.put(p);
        QueuedUp = true;
    }
    if (state == teiUnassigned) {
        // Without a TEI a basic-rate user side asks for one, also after an earlier failure.
        if (bri_ && side_ == Side::user)
            request_tei();
        else
            change_state(assignAwaitingTei);
    }
    if (outQueue_.count() > kCongestedAbove)
        change_flowstatus(FlowStatus::congested);
    local_events();
    return handed;
}

void LAPD::change_flowstatus(FlowStatus::Type status)
{
    if (status == flow_)
        return;
    flow_ = status;
    if (notify_)
        notify_->OnLAPD_FlowStatusChange(this);
}

void LAPD::change_state(unsigned int next)
{
    if (next == state)
        return;
    bool const recovery = (state == multipleFrameEstablished && next == timerRecovery) ||
                          (state == timerRecovery && next == multipleFrameEstablished);
    if (logs(recovery ? 4 : 2)) {
        std::clog << "LAPD[" << linkno_ << "] : change state \"" << statetext(static_cast<unsigned char>(state))
                  << "\" -> \"" << statetext(static_cast<unsigned char>(next)) << "\"" << std::endl;
    }
    state = next;
}

// Local events

void LAPD::local_events()
{
    drop_acknowledged();
    if (RetrRQ)
        requeue_unacknowledged();
    do {
        QueuedUp = false;
    } while (queued_up());
    if (AckRQ && (state == multipleFrameEstablished || state == timerRecovery)) {
        if (tx_response(RR, false))
            AckRQ = false;
    }
    if (outQueue_.count() <= kNormalAtMost)
        change_flowstatus(FlowStatus::normal);
}

void LAPD::drop_acknowledged()
{
    unsigned const outstanding = unsigned(VS - VA);
    unsigned dropped = 0;
    for (Packet acknowledged; ackQueue_.count() > outstanding; ++dropped)
        ackQueue_.get(acknowledged);
    if (logs(3) && dropped)
        log() << "acknowledge " << dropped << " frames" << " VS=" << unsigned(VS) << " VA=" << unsigned(VA) << std::endl;
    if (logs(3) && outQueue_.empty())
        log() << "outgoing queue empty." << std::endl;
}

void LAPD::requeue_unacknowledged()
{
    if (logs(1) && !ackQueue_.empty())
        log() << "retransmission " << " VS=" << unsigned(VS) << " VA=" << unsigned(VA) << std::endl;
    VS = VA;
    for (Packet frame; ackQueue_.get_last(&frame);) {
        ++stats_.retrains;
        if (!outQueue_.append(frame))
            ++stats_.outOverflows;
    }
    RetrRQ = false;
}

// One pass of sending queued messages; true when the next pass should follow.
bool LAPD::queued_up()
{
    switch (state) {
    case multipleFrameEstablished: {
        if (peerBusy || VS == VA + Sequence(kWindow)) {
            QueuedUp = true;
            return false;
        }
        Packet head;
        if (!outQueue_.preview(&head))
            return false;
        if (!tx_iframe(head, false)) {
            QueuedUp = true;
            return false;
        }
        outQueue_.get(head);
        if (!ackQueue_.put(head)) {
            log() << "ack queue overflow!" << std::endl;
            ++stats_.ackOverflows;
        }
        ++VS;
        AckRQ = false;
        if (!T200running) {
            stop_timer(T203);
            start_timer(T200);
        }
        QueuedUp = !outQueue_.empty();
        return QueuedUp;
    }
    case timerRecovery:
        QueuedUp = true;
        return false;
    case awaitingEstablishment:
        QueuedUp = !L3initiated;
        return false;
    default:
        return false;
    }
}

// Common procedures

void LAPD::clear_exceptions()
{
    peerBusy = ownBusy = rejectException = false;
    AckRQ = false;
}

void LAPD::establish_dl()
{
    clear_exceptions();
    RC = 0;
    tx_cmd(SABME, true);
    stop_timer(T203);
    start_timer(T200);
}

void LAPD::tx_enquiry()
{
    if (logs(4))
        log() << "tx_enquiry, ownBusy=" << ownBusy << std::endl;
    tx_cmd(ownBusy ? RNR : RR, true);
    AckRQ = false;
    start_timer(T200);
}

void LAPD::tx_enquiry_response()
{
    if (logs(4))
        log() << "tx_enquiry_response" << std::endl;
    tx_response(ownBusy ? RNR : RR, true);
    AckRQ = false;
}

void LAPD::retransmission(Sequence nr)
{
    VA = nr;
    RetrRQ = true;
    QueuedUp = true;
}

void LAPD::nr_recovery()
{
    ++stats_.nrErrors;
    on_error(512u);
    establish_dl();
    L3initiated = false;
    change_state(awaitingEstablishment);
}

void LAPD::discard_queue()
{
    if (logs(1))
        log() << "discard queue " << " OutData=" << outQueue_.count() << " AckData=" << ackQueue_.count() << std::endl;
    outQueue_.clear();
    ackQueue_.clear();
}

void LAPD::request_tei()
{
    if (bri_ && side_ == Side::user && !T202running && channel_ && channel_->is_open())
        BeginTeiAssignProcedure();
}

void LAPD::channel_lost()
{
    if (logs(1))
        log() << "channel lost" << std::endl;
    discard_queue();
    for (TimerId t : {T200, T202, T203})
        running(t) = false;
    timer_.reset();
    RC = 0;
    change_state(teiUnassigned);
    on_deactivate(error_status("error (channel lost)"));
}

// Timers. The three share one entry, so starting one ends the expiry of another that runs;
// its flag is cleared with it, and a stop resets the entry only for the timer that owns it.

bool& LAPD::running(TimerId t) { return t == T200 ? T200running : t == T202 ? T202running : T203running; }

void LAPD::start_timer(TimerId t)
{
    if (running(t))
        stop_timer(t);
    for (TimerId other : {T200, T202, T203}) {
        if (other != t && running(other)) {
            on_error((std::string("trying to start ") + kTimerNames[t] + " while " + kTimerNames[other] + " running").c_str());
            running(other) = false;
        }
    }
    running(t) = true;
    switch (t) {
    case T200:
        timer_.set(kT200, &LAPD::on_T200, this);
        break;
    case T202:
        timer_.set(kT202, &LAPD::on_T202, this);
        break;
    case T203:
        timer_.set(kT203, &LAPD::on_T203, this);
        break;
    }
}

void LAPD::stop_timer(TimerId t)
{
    for (TimerId other : {T200, T202, T203}) {
        if (other != t && running(other))
            on_error((std::string("trying to stop ") + kTimerNames[t] + " while " + kTimerNames[other] + " running").c_str());
    }
    if (running(t)) {
        running(t) = false;
        timer_.reset();
    }
}

void LAPD::on_T200()
{
    T200running = false;
    ++stats_.T200;
    on_T200A();
    local_events();
}

void LAPD::on_T202()
{
    T202running = false;
    ++stats_.T202;
    on_T202A();
    local_events();
}

void LAPD::on_T203()
{
    T203running = false;
    ++stats_.T203;
    on_T203A();
    local_events();
}

void LAPD::on_T200A()
{
    switch (state) {
    case awaitingEstablishment:
        if (RC == kN200) {
            discard_queue();
            on_error(64u);
            change_state(teiAssigned);
            on_deactivate(error_status("link error (T200 expired N200 times)"));
        } else {
            ++RC;
            tx_cmd(SABME, true);
            start_timer(T200);
        }
        break;
    case awaitingRelease:
        if (RC == kN200) {
            on_error(128u);
            change_state(teiAssigned);
            on_deactivate(error_status("link error (T200 expired N200 times)"));
        } else {
            ++RC;
            tx_cmd(DISC, true);
            start_timer(T200);
        }
        break;
    case multipleFrameEstablished:
        RC = 0;
        tx_enquiry();
        ++RC;
        if (logs(2))
            log() << "ack expired" << std::endl;
        change_state(timerRecovery);
        break;
    case timerRecovery:
        if (RC == kN200) {
            if (logs(2))
                log() << "ack error !!!" << std::endl;
            on_error(256u);
            establish_dl();
            L3initiated = false;
            change_state(awaitingEstablishment);
        } else {
            if (logs(2))
                log() << "ack timeout expired RC=" << RC << std::endl;
            tx_enquiry();
            ++RC;
        }
        break;
    default:
        break;
    }
}

void LAPD::on_T203A()
{
    log() << "T203." << std::endl;
    if (state == multipleFrameEstablished) {
        tx_enquiry();
        RC = 0;
        change_state(timerRecovery);
    }
}

// Requests from above

bool LAPD::local_activate()
{
    if (logs(1))
        log() << "DL-ESTABLISH" << std::endl;
    switch (state) {
    case teiUnassigned:
        RC = 0;
        on_mdl_assign();
        request_tei();
        // The link establishes as soon as its TEI is assigned.
        change_state(establishAwaitingTei);
        break;
    case assignAwaitingTei:
        request_tei();
        change_state(establishAwaitingTei);
        break;
    case teiAssigned:
        establish_dl();
        L3initiated = true;
        change_state(awaitingEstablishment);
        break;
    case awaitingEstablishment:
        discard_queue();
        L3initiated = true;
        break;
    case multipleFrameEstablished:
    case timerRecovery:
        discard_queue();
        establish_dl();
        L3initiated = true;
        change_state(awaitingEstablishment);
        break;
    default:
        break;
    }
    return true;
}

void LAPD::local_deactivate()
{
    if (logs(2))
        log() << "DL-RELEASE" << std::endl;
    Protocol_status const done(new Protocol_status_success(this, "success (deactivated locally)"));
    switch (state) {
    case teiAssigned:
        on_deactivate(done);
        break;
    case awaitingEstablishment:
        discard_queue();
        RC = 0;
        tx_cmd(DISC, true);
        stop_timer(T203);
        stop_timer(T202);
        start_timer(T200);
        change_state(teiAssigned);
        on_deactivate(done);
        break;
    case multipleFrameEstablished:
        discard_queue();
        RC = 0;
        tx_cmd(DISC, true);
        stop_timer(T203);
        start_timer(T200);
        change_state(awaitingRelease);
        break;
    case timerRecovery:
        discard_queue();
        RC = 0;
        tx_cmd(DISC, true);
        start_timer(T200);
        change_state(awaitingRelease);
        break;
    default:
        break;
    }
}

// Received frames

void LAPD::receive(Packet& p)
{
    if (p.null() || p.length() < 2)
        return;
    if (log_ > 2)
        trace("rx:", p, true);
    unsigned const length = p.length();
    Packet const& frame = p;
    auto octet = [&](unsigned i) -> unsigned char { return i < length ? frame[int(i)] : 0; };

    unsigned char const a1 = octet(0), a2 = octet(1);
    peerSAPI = a1 >> 2;
    bool const command = (a1 & 0x02) ? side_ == Side::user : side_ == Side::network;
    if ((a1 & 0x01) || !(a2 & 0x01))
        return;
    peerTEI = a2 >> 1;
    if (bri_ && side_ == Side::user && peerTEI != selfTEI && peerTEI != 127)
        return;

    unsigned char const control = octet(2);
    if (!(control & 0x01)) {
        unsigned char const second = octet(3);
        p.pull(length < 4 ? length : 4);
        on_ICOM(p, second & 1, Sequence(control >> 1), Sequence(second >> 1));
    } else if ((control & 0x03) == 0x01) {
        unsigned char const second = octet(3);
        bool const pf = second & 1;
        Sequence const nr(second >> 1);
        unsigned char const type = (control >> 2) & 0x03;
        if (type != 3)
            on_supervisory(type, command, pf, nr);
    } else {
        bool const pf = control & 0x10;
        switch (control & ~0x10) {
        case DISC:
            on_DISC(command, pf);
            break;
        case UI:
            p.pull(length < 3 ? length : 3);
            on_UI(p);
            break;
        case DM:
            on_DM(command, pf);
            break;
        case SABME:
            on_SABME(command, pf);
            break;
        case UA:
            on_UA(command, pf);
            break;
        case FRMR:
            on_FRMR(command, pf);
            break;
        default:
            break;
        }
    }
    local_events();
}

void LAPD::on_ICOM(Packet& info, bool p, Sequence ns, Sequence nr)
{
    if (logs(4))
        log() << "I-Command" << " pf=" << p << std::endl;
    if (state != multipleFrameEstablished && state != timerRecovery)
        return;
    if (ownBusy) {
        if (p) {
            tx_response(RNR, true);
            AckRQ = false;
        }
    } else if (ns == VR) {
        ++VR;
        rejectException = false;
        ++stats_.rxInSequence;
        if (p) {
            AckRQ = false;
            tx_response(RR, true);
        } else {
            AckRQ = true;
        }
        on_message(info);
    } else {
        ++stats_.rxRejected;
        if (!rejectException) {
            rejectException = true;
            tx_response(REJ, p);
            AckRQ = false;
        } else if (p) {
            tx_response(RR, true);
            AckRQ = false;
        }
    }
    if (!nr_in_range(nr)) {
        nr_recovery();
        return;
    }
    if (state == multipleFrameEstablished && !peerBusy && nr == VS) {
        stop_timer(T200);
        start_timer(T203);
    } else if (nr != VA) {
        start_timer(T200);
    }
    VA = nr;
}

// RR, RNR and REJ (type).
void LAPD::on_supervisory(unsigned char type, bool command, bool pf, Sequence nr)
{
    static char const* const names[] = {"RR ", "RNR ", "REJ "};
    if (logs(4))
        log() << names[type] << commandText(command) << " pf=" << pf << std::endl;
    if (state == timerRecovery) {
        on_supervisory_recovery(type, command, pf, nr);
        return;
    }
    if (state != multipleFrameEstablished)
        return;
    peerBusy = type == RNR;
    if (pf && command)
        tx_enquiry_response();
    else if (pf && type != RR)
        on_error(1u);
    else if (pf && logs(4))
        log() << "receive RR (solicited response) in MFE_EST" << std::endl;
    if (!nr_in_range(nr)) {
        nr_recovery();
        return;
    }
    switch (type) {
    case RR:
        if (nr == VS) {
            VA = nr;
            stop_timer(T200);
            start_timer(T203);
        } else if (nr != VA) {
            VA = nr;
            start_timer(T200);
        }
        break;
    case REJ:
        stop_timer(T200);
        start_timer(T203);
        retransmission(nr);
        break;
    default:
        VA = nr;
        stop_timer(T203);
        start_timer(T200);
        break;
    }
}

// RR, REJ and RNR (type) in timer recovery.
void LAPD::on_supervisory_recovery(unsigned char type, bool command, bool pf, Sequence nr)
{
    peerBusy = type == RNR;
    if (command || !pf) {
        if (command && pf)
            tx_enquiry_response();
        if (nr_in_range(nr)) {
            VA = nr;
        } else {
            if (logs(4) && type == RR)
                log() << "receive RR with out of order N(R)" << std::endl;
            nr_recovery();
        }
        return;
    }
    if (!nr_in_range(nr)) {
        nr_recovery();
        return;
    }
    if (type == RNR) {
        start_timer(T200);
    } else {
        stop_timer(T200);
        start_timer(T203);
    }
    retransmission(nr);
    change_state(multipleFrameEstablished);
}

void LAPD::on_SABME(bool command, bool p)
{
    if (logs(4))
        log() << "SABME " << commandText(command) << std::endl;
    VS = VA = VR = Sequence(0);
    ackQueue_.clear();
    switch (state) {
    case teiAssigned:
        if (!establishable) {
            tx_response(DM, p);
            break;
        }
        tx_response(UA, p);
        clear_exceptions();
        start_timer(T203);
        change_state(multipleFrameEstablished);
        on_activate();
        break;
    case awaitingEstablishment:
        tx_response(UA, p);
        break;
    case awaitingRelease:
        tx_response(DM, p);
        break;
    case multipleFrameEstablished:
    case timerRecovery:
        tx_response(UA, p);
        clear_exceptions();
        on_error(32u);
        change_state(multipleFrameEstablished);
        on_activate();
        stop_timer(T200);
        start_timer(T203);
        break;
    default:
        break;
    }
}

void LAPD::on_DISC(bool command, bool p)
{
    if (logs(4))
        log() << "DISC " << commandText(command) << std::endl;
    switch (state) {
    case teiAssigned:
    case awaitingEstablishment:
        tx_response(DM, p);
        break;
    case awaitingRelease:
        tx_response(UA, p);
        break;
    case multipleFrameEstablished:
    case timerRecovery:
        discard_queue();
        tx_response(UA, p);
        stop_timer(T200);
        if (state == multipleFrameEstablished)
            stop_timer(T203);
        change_state(teiAssigned);
        on_deactivate(error_status("remote error (DISC received)"));
        break;
    default:
        break;
    }
}

void LAPD::on_UA(bool command, bool f)
{
    if (logs(4))
        log() << "UA " << commandText(command) << std::endl;
    switch (state) {
    case teiAssigned:
    case multipleFrameEstablished:
    case timerRecovery:
        // Unsolicited: reported, and nothing else changes (the unacknowledged frames stay).
        on_error(f ? 4u : 8u);
        return;
    case awaitingEstablishment:
    case awaitingRelease:
        break;
    default:
        return;
    }
    VS = VA = VR = Sequence(0);
    ackQueue_.clear();
    if (!f) {
        on_error(8u);
        return;
    }
    if (state == awaitingEstablishment) {
        change_state(multipleFrameEstablished);
        stop_timer(T200);
        start_timer(T203);
        on_activate();
    } else {
        stop_timer(T200);
        change_state(teiAssigned);
        on_deactivate(new Protocol_status_success(this, "success (UA received)"));
    }
}

void LAPD::on_DM(bool command, bool f)
{
    if (logs(4))
        log() << "DM " << commandText(command) << std::endl;
    bool const finalResponse = !command && f;
    switch (state) {
    case teiAssigned:
        if (!command && !f && establishable) {
            establish_dl();
            L3initiated = true;
            change_state(awaitingEstablishment);
        }
        break;
    case awaitingEstablishment:
        if (finalResponse) {
            discard_queue();
            stop_timer(T200);
            change_state(teiAssigned);
            on_deactivate(error_status("error (DM received)"));
        }
        break;
    case awaitingRelease:
        if (finalResponse) {
            stop_timer(T200);
            change_state(teiAssigned);
            on_deactivate(error_status("error (DM received)"));
        }
        break;
    case multipleFrameEstablished:
        if (finalResponse) {
            on_error(2u);
            break;
        }
        on_error(16u);
        establish_dl();
        L3initiated = false;
        change_state(awaitingEstablishment);
        break;
    case timerRecovery:
        on_error(finalResponse ? 2u : 16u);
        establish_dl();
        L3initiated = false;
        change_state(awaitingEstablishment);
        break;
    default:
        break;
    }
}

void LAPD::on_FRMR(bool command, bool pf)
{
    if (logs(4))
        log() << "FRMR " << commandText(command) << " pf=" << pf << std::endl;
    if (state == multipleFrameEstablished || state == timerRecovery) {
        on_error(1024u);
        establish_dl();
        L3initiated = false;
        change_state(awaitingEstablishment);
    }
}

void LAPD::on_UI(Packet& info)
{
    if (!bri_ || info.null() || info.empty())
        return;
    if (logs(4))
        log() << "on_UI()" << std::endl;
    Packet const& field = info;
    if (field[0] == frame::kManagementEntity) {
        on_tei_management(field);
        return;
    }
    if (side_ == Side::user) {
        // A broadcast message from the network starts the establishment.
        if (state == awaitingEstablishment)
            change_state(teiAssigned);
        if (state == teiAssigned)
            local_activate();
    }
    on_message(info);
}

// Error reports

void LAPD::on_error(unsigned int code)
{
    char const* text = "Other - Unknown";
    switch (code) {
    case 1: text = "Supervisory (F = 1)"; break;
    case 2: text = "DM (F = 1)"; break;
    case 4: text = "UA (F = 1)"; break;
    case 8: text = "UA (F = 0)"; break;
    case 16: text = "Receipt of DM response (F = 0)"; break;
    case 32: text = "Peer initiated re-establishment - SABME"; break;
    case 64: text = "Unsuccessful retransmission (N200 times) - SABME"; break;
    case 128: text = "Unsuccessful retransmission (N200 times) - DISC"; break;
    case 256: text = "Unsuccessful retransmission (N200 times) - Status enquiry"; break;
    case 512: text = "Other - N(R) error"; break;
    case 1024: text = "Other - Receipt of FRMR response"; break;
    case 2048: text = "Other - Receipt of undefined frame"; break;
    case 4096: text = "Other - Receipt of I field not permitted"; break;
    case 8192: text = "Other - Receipt of frame with wrong size"; break;
    case 16384: text = "Other - N201 error"; break;
    case 32768: text = "Tei Assign - Tei denied"; break;
    default: break;
    }
    on_error(text);
}

void LAPD::on_error(char const* text) { on_status(error_status(text)); }

Protocol_status LAPD::error_status(char const* text) const
{
    return Protocol_status(new Status(this, text, *this));
}

}  // namespace ISDN
