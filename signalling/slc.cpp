#include "signalling/slc.h"

#include "base/clock.h"
#include "base/ext.h"

#include <iostream>

namespace SS7 {

namespace {

constexpr unsigned kMaxLi = 63;
// An MSU's service information octet and signalling information field: at least 3 octets
// (a length indicator of 1 or 2 says LSSU, 0 FISU), at most 273 (272 of information).
constexpr unsigned kMinMsu = 3;
constexpr unsigned kMaxMsu = 273;

bool msuLength(Packet const& payload) { return !payload.null() && SLC::Carries(payload.length()); }

// The octets as " 0x" and their value in upper-case hexadecimal each.
struct Octets {
    Packet const& packet;
};

std::ostream& operator<<(std::ostream& os, Octets const& o)
{
    if (o.packet.null())
        return os;
    for (unsigned i = 0; i < o.packet.length(); ++i)
        os << ' ' << ext::hex(unsigned(o.packet[int(i)]), 0u);
    return os;
}

}  // namespace

SLC::TimerVal const SLC::T1{45000, &SLC::on_T1};
SLC::TimerVal const SLC::T2{7000, &SLC::on_T2};
SLC::TimerVal const SLC::T3{1500, &SLC::on_T3};
SLC::TimerVal const SLC::T4n{8200, &SLC::on_T4};
SLC::TimerVal const SLC::T4e{500, &SLC::on_T4};
SLC::TimerVal const SLC::T5{100, &SLC::on_T5};
SLC::TimerVal const SLC::T6{4500, &SLC::on_T6};
SLC::TimerVal const SLC::T7{12000, &SLC::on_T7};

SLC::SLC() : congestionTime_(Mux::milliseconds()) {}

SLC::~SLC() = default;

// Printing

std::ostream& operator<<(std::ostream& os, SLC::Indication indication)
{
    switch (indication) {
    case SLC::SIO: return os << "out of alignment";
    case SLC::SIN: return os << "normal alignment";
    case SLC::SIE: return os << "emergency alignment";
    case SLC::SIOS: return os << "out of service";
    }
    return os << "unknown:" << ext::hex(unsigned(indication), 0u);
}

std::ostream& operator<<(std::ostream& os, SLC::State::type type)
{
    switch (type) {
    case SLC::State::idle: return os << "idle";
    case SLC::State::not_aligned: return os << "not aligned";
    case SLC::State::aligned: return os << "aligned";
    case SLC::State::proving: return os << "proving";
    case SLC::State::aligned_ready: return os << "aligned ready";
    case SLC::State::in_service: return os << "worked";
    }
    return os << "unknown";
}

std::ostream& operator<<(std::ostream& os, SLC::State const& state) { return os << state.get_state_id(); }

std::ostream& operator<<(std::ostream& os, SLC::DumpPtr const& dump)
{
    SLC const& l = *dump.link;
    return os << " BSN=" << unsigned(l.rxBSN_) << " BIB=" << int(l.rxBIB_) << " FSN=" << unsigned(l.rxFSN_)
              << " FIB=" << int(l.rxFIB_);
}

void SLC::PutShortInfo(std::ostream& os) const
{
    os << "SS7/L2 " << "[" << "dpc=" << dpc_ << ", slc=" << slc_ << ", trunk=" << linkno_ << "]";
}

void SLC::PutHeader(std::ostream& os) const
{
    PutShortInfo(os);
    os << " (" << *state_ << "): ";
}

void SLC::protocol_info(std::ostream& os) { os << "MTP/L2"; }

std::ostream& SLC::log() const { return std::clog << ext::header(this); }

std::ostream& SLC::error() const { return std::cerr << ext::header(this); }

std::uint32_t const* SLC::statistics() const
{
    stats_[5] = rtbCount_;
    return stats_;
}

// States and timers

void SLC::next_state(State& to)
{
    if (trace_.state)
        std::clog << ext::shortinfo(this) << ": " << "change state from " << ext::quoted(*state_) << " to "
                  << ext::quoted(to) << std::endl;
    state_->on_leave(*this);
    state_ = &to;
    state_->on_enter(*this);
}

void SLC::set(TimerVal const& value) { timer_.set(value.period, value.handler, this); }

void SLC::on_leave(State&) { timer_.reset(); }

void SLC::expired(char const* text)
{
    if (trace_.timers)
        log() << text << std::endl;
    next_state(idle_);
}

void SLC::on_T1(Timer*) { expired("T1 expired"); }
void SLC::on_T2(Timer*) { expired("T2 expired"); }
void SLC::on_T3(Timer*) { expired("T3 expired"); }

void SLC::on_T4(Timer*)
{
    if (trace_.timers)
        log() << "T4 expired." << std::endl;
    next_state(alignedReady_);
}

void SLC::on_T7(Timer*)
{
    if (trace_.timers)
        log() << "T7 expired: " << rtbCount_ << " packets in RTB." << std::endl;
    next_state(idle_);
}

void SLC::on_enter(Idle&)
{
    // What waited for the channel is not sent once the link has left service: its packets
    // go back now, not when the link next enters service.
    if (!tb_.empty()) {
        error() << "discard " << tb_.count() << " msu in TB" << std::endl;
        tb_.clear();
    }
    reset();
    lssu(SIOS);
    on_deactivate(new Protocol_status_error(this, "impossible phasing"));
}

void SLC::lssu(Idle&, Indication indication)
{
    if (!enabled_)
        return;
    if (indication == SIO)
        next_state(aligned_);
    else if (indication == SIN || indication == SIE)
        next_state(proving_);
}

void SLC::on_enter(NotAligned&)
{
    reset();
    set(T2);
    lssu(SIO);
}

void SLC::lssu(NotAligned&, Indication indication)
{
    if (indication == SIO)
        next_state(aligned_);
    else if (indication == SIN || indication == SIE)
        next_state(proving_);
}

void SLC::on_enter(Aligned&)
{
    set(T3);
    if (trace_.timers)
        log() << "set T3" << std::endl;
    lssu(emergency_ ? SIE : SIN);
}

void SLC::lssu(Aligned&, Indication indication)
{
    if (indication == SIN || indication == SIE)
        next_state(proving_);
}

void SLC::on_enter(Proving&)
{
    set(emergency_ ? T4e : T4n);
    lssu(emergency_ ? SIE : SIN);
    if (trace_.timers)
        log() << "set T4" << std::endl;
}

void SLC::fisu(Proving&) { next_state(inService_); }

void SLC::lssu(Proving&, Indication indication)
{
    if (indication != SIN && indication != SIE)
        next_state(idle_);
}

void SLC::msu(Proving&, Packet&) { next_state(inService_); }

void SLC::on_enter(AlignedReady&)
{
    set(T1);
    fisu();
}

void SLC::on_enter(InService&)
{
    reset();
    fisu();
    process_tb();
    on_activate();
}

void SLC::lssu(InService&, Indication indication)
{
    error() << "receive lssu: " << indication << " " << DumpPtr{this} << std::endl;
    next_state(idle_);
}

// Requests of the host

bool SLC::local_activate()
{
    enabled_ = true;
    if (state_ == &idle_) {
        if (trace_.mtp_activate)
            log() << "local_activate: executing..." << std::endl;
        next_state(notAligned_);
        return true;
    }
    if (trace_.mtp_activate)
        log() << "local_activate: ignored." << std::endl;
    if (in_service())
        on_activate();
    return true;
}

void SLC::local_deactivate()
{
    enabled_ = false;
    if (trace_.mtp_activate)
        log() << "local_deactivate()" << std::endl;
    next_state(idle_);
}

void SLC::OnTrunkHardStatus(bool up)
{
    if (up)
        return;
    enabled_ = false;
    if (state_ == &idle_)
        return;
    log() << " transport OFF by low level terminated" << std::endl;
    next_state(idle_);
}

void SLC::on_hdlc_error(HDLC::Notify::Cause::Type cause)
{
    log() << "hdlc error [cause=" << int(cause) << "]" << std::endl;
}

void SLC::on_hdlc_ready()
{
    log() << "hdlc ready" << std::endl;
    process_tb();
}

bool SLC::Carries(std::size_t octets) { return octets >= kMinMsu && octets <= kMaxMsu; }

Handed SLC::hand_down(Packet& p)
{
    if (trace_.mtp_transmit)
        log() << " mtp tx" << Octets{p} << std::endl;
    return state_->message(*this, p);
}

Handed SLC::message(InService&, Packet& payload)
{
    if (!msuLength(payload)) {
        error() << "discard msu of " << (payload.null() ? 0 : payload.length()) << " octets: an MSU carries " << kMinMsu
                << " to " << kMaxMsu << std::endl;
        return Handed::notCarried;
    }
    if (!put_to_tb(payload))
        return Handed::full;
    process_tb();
    return Handed::taken;
}

// Sending

bool SLC::send(Packet const& payload)
{
    if (channel_ == nullptr) {
        log() << "no HDLC interface attached!!!" << std::endl;
        return false;
    }
    unsigned const length = payload.null() ? 0 : payload.length();
    Packet frame;
    if (!frame.try_reserve_head(0)) {
        error() << "no packet for a signal unit" << std::endl;
        return false;
    }
    frame.put8(static_cast<unsigned char>(unsigned(sendBSN_) | (sendBIB_ ? 0x80 : 0)));
    frame.put8(static_cast<unsigned char>(unsigned(sendFSN_) | (sendFIB_ ? 0x80 : 0)));
    frame.put8(static_cast<unsigned char>(length <= 62 ? length : kMaxLi));
    if (length > 0)
        frame.put(payload);
    if (!channel_->hdlc_transmit(frame)) {
        if (trace_.raw_transmit)
            log() << " tx full!" << std::endl;
        return false;
    }
    if (trace_.raw_transmit)
        log() << " tx raw" << Octets{frame} << std::endl;
    ++stats_[0];
    stats_[2] += frame.length();
    return true;
}

void SLC::fisu() { send(Packet()); }

bool SLC::send_msu(Packet& payload)
{
    if (!msuLength(payload)) {
        if (trace_.msu_processing)
            error() << "fail to send msu (bad packet)" << std::endl;
        return false;
    }
    return send(payload);
}

bool SLC::CoutCongestion()
{
    std::uint32_t const now = Mux::milliseconds();
    if (std::int32_t(now - congestionTime_) < std::int32_t(kCongestionReportMs))
        return true;
    congestionTime_ = now;
    return false;
}

// 0xFF 0xFF 0x01 and the indication, whatever the sequence numbers; not counted.
void SLC::lssu(Indication indication)
{
    Packet frame;
    if (channel_ == nullptr)
        return;
    if (!frame.try_reserve_head(0)) {
        error() << "no packet for a status unit" << std::endl;
        return;
    }
    frame.put8(0xFF);
    frame.put8(0xFF);
    frame.put8(0x01);
    frame.put8(indication);
    channel_->hdlc_transmit(frame);
}

void SLC::reset()
{
    for (Packet& p : rtb_)
        p.clear();
    rtbOldest_ = Sequence(0);
    rtbNewest_ = Sequence(127);
    rtbCount_ = 0;
    nackOutstanding_ = badBSN_ = badFIB_ = false;
    sendBSN_ = sendFSN_ = Sequence(127);
    sendFIB_ = sendBIB_ = true;
}

bool SLC::put_to_tb(Packet const& payload)
{
    if (tb_.count() >= kTbAccepts) {
        ++stats_[4];
        error() << "no space in TB buffer," << " TB=" << tb_.count() << " RTB=" << rtbCount_ << " ignoring msu: "
                << payload << std::endl;
        return false;
    }
    tb_.put(payload);
    return true;
}

// Sends what waits while fewer than 127 MSUs are unacknowledged; a frame the channel refuses
// stays first in the buffer, and the send FSN goes back to the last one sent.
void SLC::process_tb()
{
    if (!in_service())
        return;
    if (tb_.empty()) {
        fisu();
        return;
    }
    Packet head;
    while (rtbCount_ < kRtbLimit && tb_.preview(&head)) {
        Sequence const previous = sendFSN_;
        sendFSN_ = rtbNewest_ + Sequence(1);
        if (!send(head)) {
            sendFSN_ = previous;
            return;
        }
        tb_.get(head);
        rtbNewest_ = sendFSN_;
        rtb_[rtbNewest_] = head;
        if (++rtbCount_ == 1)
            set(T7);
    }
}

// Reception

void SLC::receive(Packet& p)
{
    if (p.null())
        return;
    if (trace_.raw_receive)
        log() << " rx raw" << Octets{p} << std::endl;
    stats_[3] += p.length();
    if (p.length() < 3) {
        error() << "ignore packet, length too small " << p << std::endl;
        return;
    }
    Packet const& f = p;
    rxBSN_ = Sequence(f[0] & 0x7F);
    rxBIB_ = f[0] & 0x80;
    rxFSN_ = Sequence(f[1] & 0x7F);
    rxFIB_ = f[1] & 0x80;
    unsigned const li = f[2];
    p.pull(3);
    unsigned const left = p.length();
    unsigned const n = left > kMaxLi ? kMaxLi : left;
    if (li != n) {
        error() << "invalid packet length," << " expected = " << li << ", received = " << left << std::endl;
        if (n == kMaxLi) {
            error() << "can't truncate signalling unit." << std::endl;
        } else if (li < n) {
            error() << "truncate " << n - li << " octet(s) : " << p << std::endl;
            p.trim(n - li);
        }
    }
    rxLI_ = p.length();
    ++stats_[1];
    if (rxLI_ == 0)
        state_->fisu(*this);
    else if (rxLI_ <= 2)
        state_->lssu(*this, static_cast<Indication>(f[0]));
    else
        state_->msu(*this, p);
}

void SLC::make_expected()
{
    lastAccepted_ = sendBSN_;
    expectedFIB_ = sendBIB_;
    expectedBIB_ = sendFIB_;
}

void SLC::msu(InService&, Packet& payload)
{
    make_expected();
    if (rxFSN_ == lastAccepted_) {
        if (trace_.msu_processing)
            log() << "discard msu due to 5.2.2/i Q.702" << " fsnr=" << unsigned(rxFSN_)
                  << " fsnx=" << unsigned(lastAccepted_) << std::endl;
        return;
    }
    if (rxFIB_ != expectedFIB_) {
        bad_fib();
        return;
    }
    nackOutstanding_ = badFIB_ = false;
    if (!process_bsnr())
        return;
    if (rxFSN_ == lastAccepted_ + Sequence(1)) {
        ack();
        if (trace_.mtp_receive)
            log() << " mtp rx" << Octets{payload} << std::endl;
        on_message(payload);
        return;
    }
    if (trace_.msu_processing)
        log() << "discard msu due to 5.2.2/ii Q.702" << " fsnr=" << unsigned(rxFSN_)
              << " fsnx=" << unsigned(lastAccepted_) << std::endl;
    nack();
}

void SLC::fisu(InService&)
{
    make_expected();
    if (rxFIB_ != expectedFIB_) {
        bad_fib();
        return;
    }
    nackOutstanding_ = badFIB_ = false;
    if (process_bsnr() && rxFSN_ != lastAccepted_)
        nack();
}

// A signal unit whose FIB is not the expected one.
void SLC::bad_fib()
{
    if (nackOutstanding_) {
        process_bsnr();
    } else if (badFIB_) {
        if (trace_.msu_processing)
            error() << "bad start of a retransmission: " << DumpPtr{this} << std::endl;
        next_state(idle_);
    } else {
        badFIB_ = true;
    }
}

void SLC::ack()
{
    sendBSN_ = rxFSN_;
    if (trace_.msu_processing)
        error() << "ack!" << std::endl;
    fisu();
}

void SLC::nack()
{
    sendBIB_ = !sendBIB_;
    expectedFIB_ = sendBIB_;
    nackOutstanding_ = true;
    fisu();
    ++stats_[7];
    if (trace_.msu_processing)
        error() << "nack!" << std::endl;
}

bool SLC::process_bsnr()
{
    Sequence const before = rtbOldest_ - Sequence(1);
    if (unsigned(rxBSN_ - before) > unsigned(rtbNewest_ - before)) {
        if (!badBSN_) {
            badBSN_ = true;
            return true;
        }
        if (trace_.msu_processing)
            error() << "bad su acknowledgement received: " << DumpPtr{this} << std::endl;
        next_state(idle_);
        return false;
    }
    badBSN_ = false;
    Sequence const next = rxBSN_ + Sequence(1);
    bool const released = rtbOldest_ != next;
    if (released)
        set(T7);
    while (rtbOldest_ != next) {
        rtb_[rtbOldest_].clear();
        ++rtbOldest_;
        --rtbCount_;
    }
    if (rtbOldest_ - Sequence(1) == rtbNewest_)
        timer_.reset();
    if (rxBIB_ != expectedBIB_)
        retransmit();
    else if (released && !tb_.empty())
        // Room in the RTB: what waits goes now, not with the next message from above.
        process_tb();
    return in_service();
}

void SLC::retransmit()
{
    if (trace_.msu_processing)
        error() << "retransmit" << " rtb=" << rtbCount_ << std::endl;
    ++stats_[6];
    sendFSN_ = rtbOldest_ - Sequence(1);
    sendFIB_ = rxBIB_;
    while (rtbNewest_ != sendFSN_) {
        tb_.append(rtb_[rtbNewest_]);
        rtb_[rtbNewest_].clear();
        --rtbNewest_;
    }
    rtbCount_ = 0;
    process_tb();
}

}  // namespace SS7
