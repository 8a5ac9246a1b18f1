// The TEI management of a basic-rate user side, and the link's reports: figures for the
// controller, state and statistics dumps, status snapshots.
#include "signalling/lapd.h"

#include "base/random.h"

#include <cstdlib>
#include <iostream>

namespace ISDN {

namespace {

constexpr int kGroupTei = 127;
// Identity requests are repeated while RC is this or less.
constexpr int kN202 = 3;

unsigned short newRi()
{
    SeedRandomOnce();
    return static_cast<unsigned short>(std::rand() & 0xFFFF);
}

char const* runningText(bool running) { return running ? "running" : "stopped"; }

}  // namespace

// TEI assignment

void LAPD::BeginTeiAssignProcedure()
{
    if (!bri_ || side_ != Side::user)
        return;
    change_state(assignAwaitingTei);
    on_mdl_assign();
    Ri_ = newRi();
    tx_identity(Ri_, kGroupTei, frame::identityRequest);
    RC = 0;
    stop_timer(T200);
    stop_timer(T203);
    start_timer(T202);
}

bool LAPD::tx_identity(unsigned short Ri, int Ai, unsigned char type)
{
    if (!bri_)
        return false;
    Packet frame;
    if (!new_frame(frame))
        return false;
    frame::putIdentity(frame, side_ == Side::network, Ri, unsigned(Ai), type);
    return xmit(frame);
}

void LAPD::on_T202A()
{
    if (state != assignAwaitingTei && state != establishAwaitingTei)
        return;
    if (RC > kN202) {
        state = teiUnassigned;
        on_deactivate(error_status("link error (T202 expired N202 times)"));
        return;
    }
    Ri_ = newRi();
    tx_identity(Ri_, kGroupTei, frame::identityRequest);
    start_timer(T202);
    ++RC;
}

void LAPD::mdl_assign(unsigned char tei)
{
    if (logs(2))
        log() << "MDL-ASSIGN" << " (tei=" << unsigned(tei) << ")" << std::endl;
    selfTEI = tei;
    if (state == establishAwaitingTei) {
        establish_dl();
        L3initiated = true;
        change_state(awaitingEstablishment);
    } else {
        change_state(teiAssigned);
    }
}

void LAPD::mdl_remove()
{
    log() << "MDL-REMOVE" << std::endl;
    char const* const text = "error (MDL-REMOVE received)";
    switch (state) {
    case teiAssigned:
        discard_queue();
        change_state(teiUnassigned);
        break;
    case awaitingEstablishment:
        discard_queue();
        stop_timer(T200);
        change_state(teiUnassigned);
        on_deactivate(error_status(text));
        break;
    case awaitingRelease:
        stop_timer(T200);
        change_state(teiUnassigned);
        on_deactivate(error_status(text));
        break;
    case multipleFrameEstablished:
    case timerRecovery:
        discard_queue();
        stop_timer(T200);
        if (state == multipleFrameEstablished)
            stop_timer(T203);
        change_state(teiUnassigned);
        on_deactivate(error_status(text));
        break;
    default:
        break;
    }
}

// A UI frame of the management entity: identifier, Ri (low octet first), type, Ai.
void LAPD::on_tei_management(Packet const& info)
{
    if (info.length() <= 4)
        return;
    unsigned short const Ri = static_cast<unsigned short>(info[1] | info[2] << 8);
    unsigned char const type = info[3];
    int const Ai = info[4] >> 1;
    if (logs(4))
        log() << "on_UI() type=" << unsigned(type) << " Ai=" << Ai << std::endl;
    switch (type) {
    case frame::identityAssigned:
        // The group TEI is every terminal's: taken as its own, the link would send its data
        // link frames to the broadcast address. Such an assignment is ignored; T202 goes on.
        if ((state == assignAwaitingTei || state == establishAwaitingTei) && Ri == Ri_ && Ai != kGroupTei) {
            mdl_assign(static_cast<unsigned char>(Ai));
            stop_timer(T202);
            start_timer(T200);
        }
        break;
    case frame::identityDenied:
        if (state == assignAwaitingTei && Ri == Ri_) {
            if (Ai == kGroupTei)
                log() << "ASP returned: All TEI's used" << std::endl;
            else
                log() << "ASP returned: TEI " << Ai << " denied" << std::endl;
            on_error(32768u);
        }
        break;
    case frame::identityCheckRequest:
        if (state >= teiAssigned && state <= timerRecovery && (Ai == kGroupTei || Ai == selfTEI))
            tx_identity(Ri_, selfTEI, frame::identityCheckResponse);
        break;
    case frame::identityRemove:
        if (Ai == kGroupTei || Ai == selfTEI) {
            mdl_remove();
            BeginTeiAssignProcedure();
        }
        break;
    default:
        break;
    }
}

// Reports

bool LAPD::GetInfo(ACP::IsdnLinkInfo& info) const
{
    info.set_side(side_ == Side::network ? ACP::IsdnSide::network : ACP::IsdnSide::user);
    info.set_msuTxCount(int(stats_.txMessages));
    info.set_msuRxCount(int(stats_.rxInSequence));
    info.set_mT200(int(stats_.T200));
    info.set_mT203(int(stats_.T203));
    info.set_errors(int(stats_.errors));
    info.set_retrains(int(stats_.retrains));
    info.set_outOverflows(int(stats_.outOverflows));
    info.set_ackOverflows(int(stats_.ackOverflows));
    info.set_rejected(int(stats_.rxRejected));
    info.set_badconfirm(int(stats_.nrErrors));
    info.set_lapdState(static_cast<ACP::LAPDState::NamedNumber>(state));
    info.set_rc(RC);
    info.set_peerBusy(peerBusy);
    info.set_ownBusy(ownBusy);
    info.set_rejException(rejectException);
    info.set_ackPending(false);
    info.set_l3Initiated(L3initiated);
    info.set_establishable(establishable);
    info.set_queuedUpRQ(QueuedUp);
    info.set_retrRQ(RetrRQ);
    info.set_ackRQ(AckRQ);
    info.set_t200run(T200running);
    info.set_t203run(T203running);
    info.set_vs(int(unsigned(VS)));
    info.set_va(int(unsigned(VA)));
    info.set_vr(int(unsigned(VR)));
    info.set_queueOut(int(outQueue_.count()));
    info.set_queueAck(int(ackQueue_.count()));
    if (infoGiven_ && info == lastInfo_)
        return false;
    lastInfo_ = info;
    infoGiven_ = true;
    return true;
}

Protocol_status LAPD::status() const { return error_status("current status"); }

void LAPD::show_stat() const
{
    std::cout << " - current state: " << static_cast<LAPDFullState const&>(*this) << "\n";
    std::cout << " - statistics: " << stats_ << std::endl;
}

void LAPDFullState::out(std::ostream& os) const
{
    os << "\n   - state: " << statetext(static_cast<unsigned char>(state));
    os << "\n   - self: TEI=" << selfTEI << ", SAPI=" << selfSAPI << ", busy=" << ownBusy;
    os << "\n   - peer: TEI=" << peerTEI << ", SAPI=" << peerSAPI << ", busy=" << peerBusy;
    os << "\n   - counters: VS=" << unsigned(VS) << ", VA=" << unsigned(VA) << ", VR=" << unsigned(VR) << ", RC=" << RC;
    os << "\n   - internal signals: AckRQ=" << AckRQ << ", RetrRQ=" << RetrRQ << ", QueuedUp=" << QueuedUp;
    os << "\n   - flags: L3Initiated=" << L3initiated << ", Establishable=" << establishable
       << ", RejectException=" << rejectException;
    os << "\n   - timers: T200 " << runningText(T200running) << ", T202 " << runningText(T202running) << ", T203 "
       << runningText(T203running);
}

std::ostream& operator<<(std::ostream& os, LAPDFullState const& s)
{
    s.out(os);
    return os;
}

void LAPD::Stats::out(std::ostream& os) const
{
    os << "\n   - timers expire count: T200: " << T200 << ", T202: " << T202 << ", T203: " << T203;
    os << "\n   - errors: " << errors << ", retrains: " << retrains;
    os << "\n   - queue overflows: out: " << outOverflows << ", ack: " << ackOverflows;
}

std::ostream& operator<<(std::ostream& os, LAPD::Stats const& s)
{
    s.out(os);
    return os;
}

void LAPD::Status::out(std::ostream& os) const
{
    os << message();
    LAPDFullState::out(os);
}

}  // namespace ISDN
