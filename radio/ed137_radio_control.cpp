#include "radio/ed137_radio_control.h"

#include "asn1/value_notation.h"
#include "base/clock.h"
#include "runtime/inet4_addr.h"

#include <arpa/inet.h>
#include <poll.h>

#include <algorithm>
#include <iostream>
#include <utility>

namespace RTPSignalling {
namespace {

void takeHeader(TERM::ED137RadioHeader const& h, ED137RadioState& s)
{
    s.ptt = std::uint32_t(h.get_ptt().asInt());
    s.squ = std::uint32_t(h.get_squ().asInt());
    s.ptt_id = std::uint32_t(h.get_ptt_id().getValue());
    s.ptt_mute = h.get_ptt_mute() ? 1 : 0;
    s.ptt_summation = h.get_ptt_summation() ? 1 : 0;
    s.sct = h.get_sct() ? 1 : 0;
}

void takeSqi(TERM::ED137RadioExtensionSQI const& q, ED137RadioState& s)
{
    s.kind |= ED137RadioState::kSqi;
    s.bss_method = std::uint32_t(q.get_bss_method().asInt());
    s.bss_quality = std::uint32_t(q.get_bss_quality().getValue());
}

void putHeader(ED137RadioState const& s, TERM::ED137RadioHeader& h)
{
    h.set_ptt().setFromInt(int(s.ptt));
    h.set_squ().setFromInt(int(s.squ));
    h.set_ptt_id(s.ptt_id);
    h.set_ptt_mute(s.ptt_mute != 0);
    h.set_ptt_summation(s.ptt_summation != 0);
    h.set_sct(s.sct != 0);
}

void putSqi(ED137RadioState const& s, TERM::ED137RadioExtensionSQI& q)
{
    q.set_bss_method().setFromInt(int(s.bss_method));
    q.set_bss_quality(s.bss_quality);
}

// The controller's status of the state: the header and the SQI.
void EncodeStatusASN(ED137RadioState const& s, TERM::RtpRadioRequest& request)
{
    TERM::ED137RadioStatus& status = request.set_status().select_ed_137();
    putHeader(s, status.set_header());
    putSqi(s, status.set_sqi());
}

// A received payload as a state; -1 for a record that is neither tx nor rx.
int DecodeProto(r2s_proto const& rec, ED137RadioState& s)
{
    s.session_addr = rec.session_addr;
    s.session_ssrc = rec.session_ssrc;
    if (rec.type == R2S_PROTO_TX) {
        auto const& h = rec.header.tx;
        s.kind |= ED137RadioState::kTx;
        s.ptt = h.ptt;
        s.ptt_id = h.ptt_id;
        s.ptt_mute = h.ptt_mute;
        s.ptt_summation = h.ptt_summation;
        return 0;
    }
    if (rec.type != R2S_PROTO_RX)
        return -1;
    auto const& h = rec.header.rx;
    s.kind |= ED137RadioState::kRx;
    s.ptt = h.ptt;
    s.squ = h.squ;
    s.ptt_id = h.ptt_id;
    s.ptt_mute = h.ptt_mute;
    s.ptt_summation = h.ptt_summation;
    s.sct = h.sct;
    std::size_t const count = std::min<std::size_t>(rec.count, R2S_PROTO_MAX_ADDITIONALS);
    for (std::size_t i = 0; i < count; ++i) {
        if (rec.additional[i].type != R2S_PROTO_SQI)
            continue;
        // The quality index is the 5-bit value, the method the 3-bit one, both ways.
        s.kind |= ED137RadioState::kSqi;
        s.bss_quality = rec.additional[i].value.sqi.quality;
        s.bss_method = rec.additional[i].value.sqi.method;
    }
    return 0;
}

// Everything but the SQI, which only a state that carries one replaces.
void store(ED137RadioState& to, ED137RadioState const& from)
{
    ED137RadioState const old = to;
    to = from;
    if (!from.HasSqi()) {
        to.bss_method = old.bss_method;
        to.bss_quality = old.bss_quality;
    }
}

}  // namespace

void ED137RadioParams::Init(TERM::ED137RadioResponse const& r)
{
    if (r.transmission_depend_on_squ_isPresent())
        transmission_depend_on_squ = r.get_transmission_depend_on_squ();
    if (r.sigtime_isPresent())
        sigtime = std::uint32_t(r.get_sigtime().getValue());
    if (r.r2s_keepalive_period_isPresent())
        r2s_keepalive_period = std::uint32_t(r.get_r2s_keepalive_period().getValue());
    if (r.r2s_keepalive_multiplier_isPresent())
        r2s_keepalive_multiplier = std::uint32_t(r.get_r2s_keepalive_multiplier().getValue());
    type = r.get_type().asInt();
    txrxmode = r.get_txrxmode().asInt();
}

std::uint32_t ED137RadioParams::KeepAliveTimeout() const
{
    std::uint64_t const product = std::uint64_t(r2s_keepalive_period) * r2s_keepalive_multiplier;
    return std::uint32_t(std::clamp<std::uint64_t>(product, kMinKeepAlive, kMaxKeepAlive));
}

bool ED137RadioState::IsEqual(ED137RadioState const& o) const
{
    return kind == o.kind && ptt == o.ptt && squ == o.squ && ptt_id == o.ptt_id && ptt_mute == o.ptt_mute &&
           ptt_summation == o.ptt_summation && sct == o.sct && bss_method == o.bss_method &&
           bss_quality == o.bss_quality && session_addr == o.session_addr && session_ssrc == o.session_ssrc;
}

void ED137RadioState::EncodeASN(TERM::ED137RadioModifierParams& params) const
{
    if (IsRx()) {
        TERM::ED137RadioRxCommand& rx = params.select_rx();
        putHeader(*this, rx.set_header());
        if (HasSqi())
            putSqi(*this, rx.set_sqi());
    } else if (IsTx()) {
        putHeader(*this, params.select_tx().set_header());
    }
}

ED137RadioControl::ED137RadioControl(int channel, rtp_ext_attach_session_params const& attach,
                                     rtp_ext_init_params const& init)
    : RadioControl(channel, attach, init)
{
    Init();
}

ED137RadioControl::ED137RadioControl(rtp_ext_init_params const& init) : RadioControl(init) { Init(); }

ED137RadioControl::ED137RadioControl(int channel, Fd rtp, rtp_attach_session_params const& attach)
    : RadioControl(channel, std::move(rtp), attach)
{
    Init();
}

void ED137RadioControl::Init()
{
    lastSend_ = lastReport_ = lastReceived_ = Mux::milliseconds();
    r2s_proto_init(&record_, R2S_PROTO_NONE);
    r2s_proto_init(&previous_, R2S_PROTO_NONE);
}

bool ED137RadioControl::SendASNToChan(TERM::RadioStatus const& status)
{
    if (!status.ed_137_isSelected())
        return false;
    TERM::ED137RadioStatus const& s = status.get_ed_137();
    ED137RadioState state = current_;
    state.kind = ED137RadioState::kRx;
    takeHeader(s.get_header(), state);
    if (s.sqi_isPresent())
        takeSqi(s.get_sqi(), state);
    SendRadioStateToChan(state);
    return true;
}

bool ED137RadioControl::SendASNToChan(TERM::RadioModifier const& modifier)
{
    if (!modifier.ed_137_isSelected())
        return false;
    TERM::ED137RadioModifier const& m = modifier.get_ed_137();
    ED137RadioState state = current_;
    state.kind = 0;
    state.session_addr = ::inet_addr(m.get_addr().get_session_addr().c_str());
    state.session_ssrc = std::uint32_t(m.get_addr().get_session_ssrc().getValue());
    TERM::ED137RadioModifierParams const& p = m.get_params();
    if (p.rx_isSelected()) {
        state.kind |= ED137RadioState::kRx;
        takeHeader(p.get_rx().get_header(), state);
        if (p.get_rx().sqi_isPresent())
            takeSqi(p.get_rx().get_sqi(), state);
    } else if (p.tx_isSelected()) {
        state.kind |= ED137RadioState::kTx;
        takeHeader(p.get_tx().get_header(), state);
    }
    SendRadioStateToChan(state);
    return true;
}

void ED137RadioControl::OnRtpExtEvent(int fd, short revents)
{
    RadioControl::OnRtpExtEvent(fd, revents);
    if (revents & POLLIN)
        SetTickTime(Mux::milliseconds());
    r2s_proto_init(&previous_, R2S_PROTO_NONE);
    DrainPayloads(
        revents, record_, previous_,
        [this](r2s_proto& rec, std::uint8_t const* buf, std::size_t n) {
            r2s_proto_init(&rec, R2S_PROTO_NONE);
            if (r2s_proto_unpack_tx(&rec, buf, n) != 0)
                return false;
            lastReceived_ = TickTime();
            return true;
        },
        // A run of payloads from one sender is reported once, by its last payload.
        [](r2s_proto const& a, r2s_proto const& b) { return cmp_r2s_proto_source(&a, &b) == 0; },
        [this](r2s_proto const& rec) { OnRtpProtoRXEvent(rec); });
}

void ED137RadioControl::OnRtpProtoRXEvent(r2s_proto const& rec)
{
    ED137RadioState state;
    if (DecodeProto(rec, state) != 0 || !AccessFormChanToRadio(state))
        return;
    // The same state goes to the controller at most once an interval.
    if (state.IsEqual(fromChannel_) && TickTime() - lastReport_ < timerInterval())
        return;
    PutProtoFromChanToRadio(state);
    TERM::RtpRadioRequest request;
    EncodeStatusASN(current_, request);
    TERM::ED137RadioModifier& modifier = request.set_request().select_ed_137();
    modifier.set_addr().set_session_addr(INet4::dotted(state.session_addr));
    modifier.set_addr().set_session_ssrc(state.session_ssrc);
    state.EncodeASN(modifier.set_params());
    if (Debug())
        std::clog << GetPrefix() << " command=0x" << std::hex << state.kind << std::dec
                  << " send extension to controller: " << request << std::endl;
    lastReport_ = TickTime();
    if (Notify())
        Notify()->RadioControlNotify(request);
}

void ED137RadioControl::SendRadioStateToChan(ED137RadioState const& state)
{
    // With a signalling period and repetition in the init block, only a change is sent.
    rtp_ext_init_params const& init = InitParams();
    if (init.param[3] >= 1 && init.param[2] > 0 && state.IsEqual(current_))
        return;
    if (PutProtoFromRadioToChan(state) == 0)
        SendStateToChan(state);
    if (Debug()) {
        TERM::RtpRadioRequest request;
        EncodeStatusASN(current_, request);
        std::clog << GetPrefix() << "command=0x" << std::hex << state.kind << std::dec
                  << " receive extension from controller: " << request << std::endl;
    }
    UpdateOwnerAccess();
}

bool ED137RadioControl::SendStateToChan(ED137RadioState const& state)
{
    r2s_proto rec;
    if (EncodeProto(state, rec) != 0)
        return false;
    std::uint8_t buf[kMaxPayload];
    int const length = r2s_proto_pack(&rec, buf, sizeof buf);
    if (length > 0)
        WritePayload(buf, std::size_t(length));
    SetTickTime(Mux::milliseconds());
    if (Mode() == kGatewayMode && (state.kind & 0x1000) != 0)
        lastSend_ = TickTime();
    return true;
}

void ED137RadioControl::UpdateOwnerAccess()
{
    in_addr owner{};
    owner.s_addr = current_.session_addr;
    UpdateAccess(current_.ptt != 0, owner);
}

std::uint32_t ED137RadioGWControl::ProcessRadioStatus(std::uint32_t now, std::uint32_t interval)
{
    // Differences of the monotonic count modulo 2^32: a wrap never silences the supervision
    // or the re-send.
    if (now - lastReceived_ >= params_.KeepAliveTimeout() && Notify())
        Notify()->RadioControlNotify(kKeepAliveLost);
    if (now - lastSend_ >= interval) {
        current_.kind |= ED137RadioState::kRx;
        // The rx header is the far side's keep-alive: it goes out also after a tx command,
        // whose kind would encode to nothing.
        ED137RadioState rx = current_;
        rx.kind &= ~std::uint32_t(0x2000);  // the tx bit
        if (SendStateToChan(rx))
            lastSend_ = now;
    }
    std::uint32_t const since = now - lastSend_;
    return since != 0 && since < interval ? interval - since + 10 : interval;
}

int ED137RadioGWControl::PutProtoFromRadioToChan(ED137RadioState const& state)
{
    store(current_, state);
    return 0;
}

int ED137RadioGWControl::PutProtoFromChanToRadio(ED137RadioState const& state)
{
    store(fromChannel_, state);
    return 0;
}

bool ED137RadioGWControl::AccessFormChanToRadio(ED137RadioState const&)
{
    bool const type = params_.type == TERM::ED137RadioType::radio_txrx || params_.type == TERM::ED137RadioType::radio ||
                      params_.type == TERM::ED137RadioType::coupling;
    bool const mode = params_.txrxmode == TERM::ED137RadioTxRxMode::tx || params_.txrxmode == TERM::ED137RadioTxRxMode::txrx;
    return type && mode;
}

int ED137RadioGWControl::EncodeProto(ED137RadioState const& state, r2s_proto& rec)
{
    if (state.IsRx()) {
        r2s_proto_init(&rec, R2S_PROTO_RX);
        r2s_proto_set_rx_header(&rec, state.ptt, state.squ, state.ptt_id, state.ptt_mute, state.ptt_summation,
                                state.sct);
        if (state.HasSqi())
            r2s_proto_add_rx_sqi(&rec, state.bss_quality, state.bss_method);
        return 0;
    }
    if (state.IsTx()) {
        r2s_proto_init(&rec, R2S_PROTO_TX);
        r2s_proto_set_tx_header(&rec, state.ptt, state.ptt_id, state.ptt_mute, state.ptt_summation);
        return 0;
    }
    return -1;
}

}  // namespace RTPSignalling
