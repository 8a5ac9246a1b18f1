#include "radio/zarn_radio_state.h"

#include "messages/term.h"
#include "runtime/inet4_addr.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace RTPSignalling {
namespace {

using Params = TERM::ZarnRadioModifierParams;

// The packet types and the command alternatives that carry them; the alternatives of the
// flag commands are not in type order.
struct Command {
    std::int32_t type;
    int alternative;
};

constexpr Command kCommands[] = {
    {GW_FLAG, Params::gw_set_flags::id},
    {GW_ADJUST_CHAN, Params::gw_set_freq::id},
    {GW_FLAG_PTT, Params::gw_set_ptt::id},
    {GW_FLAG_BSS, Params::gw_set_bss::id},
    {GW_FLAG_RV, Params::gw_set_rv::id},
    {GW_FLAG_SH, Params::gw_set_sh::id},
    {GW_FLAG_PW, Params::gw_set_pwr::id},
    {GW_FLAG_RS, Params::gw_set_resv::id},
    {GW_SEL_CALL, Params::gw_set_selcall::id},
    {GW_SELECT_RC_CHAN, Params::gw_set_remote::id},
    {GW_ADJUST_SQUELSHE, Params::gw_set_squelshe::id},
    {GW_ADJUST_RTE, Params::gw_set_rte::id},
    {GW_ADJUST_STANDBY, Params::gw_set_standby::id},
    {WM_FLAG, Params::wm_flags::id},
    {WM_TRANS, Params::wm_trans::id},
    {WM_RADIO_QUALITY, Params::wm_quality::id},
    {WM_CHAN, Params::wm_chan::id},
    {WM_SEL_CALL_TRANS, Params::wm_selcall::id},
    {WM_SELECT_RC_CHAN, Params::wm_remote::id},
    {WM_STANDBY, Params::wm_standby::id},
};

int alternativeOf(std::int32_t type)
{
    for (Command const& c : kCommands)
        if (c.type == type)
            return c.alternative;
    return -1;
}

std::int32_t typeOf(int alternative)
{
    for (Command const& c : kCommands)
        if (c.alternative == alternative)
            return c.type;
    return 0;
}

// The types whose packet is the header alone.
bool isFlagsOnly(std::int32_t type) { return type > 0 && sig_proto_is_header_only(std::uint32_t(type)); }

// A float as the controller's text ("%4.6f") and back.
std::string floatText(float value)
{
    char text[255];
    std::snprintf(text, sizeof text, "%4.6f", double(value));
    return text;
}

float textFloat(std::string const& text) { return float(std::atof(text.c_str())); }

// A text that is not a dotted address gives 255.255.255.255, as inet_addr does.
in_addr address(std::string const& text)
{
    in_addr a{};
    a.s_addr = ::inet_addr(text.c_str());
    return a;
}

// At most 255 octets, ended with a zero character.
void setCallerId(char (&out)[SIG_PROTO_CALLER_ID_SIZE], char const* id, std::size_t length)
{
    length = std::min(length, SIG_PROTO_CALLER_ID_SIZE - 1);
    std::memcpy(out, id, length);
    out[length] = '\0';
}

// A value for a field of the controller's types: one outside the field's range becomes the
// neutral value when the type has one, else the nearest end of the range, and is noted.
std::int32_t fitted(std::int32_t value, std::int32_t lo, std::int32_t hi, std::optional<std::int32_t> neutral,
                    ZarnUnfit::Field field, ZarnUnfit* unfit)
{
    if (value >= lo && value <= hi)
        return value;
    std::int32_t const put = neutral ? *neutral : std::clamp(value, lo, hi);
    if (unfit)
        unfit->Note(field, value, put);
    return put;
}

void putEnum(ASN1::ENUMERATED& e, std::int32_t value, ZarnUnfit::Field field, ZarnUnfit* unfit,
             std::optional<std::int32_t> neutral = std::nullopt)
{
    e.setFromInt(fitted(value, 0, e.getMaximum(), neutral, field, unfit));
}

void putRange(ASN1::INTEGER& i, std::int32_t value, ZarnUnfit::Field field, ZarnUnfit* unfit)
{
    i.setValue(fitted(value, i.getLowerLimit(), std::int32_t(i.getUpperLimit()), std::nullopt, field, unfit));
}

void putSquelch(ZarnRadioState const& s, TERM::RadioSquelshe& e, ZarnUnfit* unfit)
{
    putEnum(e, s.squelsh, ZarnUnfit::squelshe, unfit, TERM::RadioSquelshe::no_config);
}

void putRte(ZarnRadioState const& s, TERM::RadioRTE& e, ZarnUnfit* unfit)
{
    putEnum(e, s.rte, ZarnUnfit::rte, unfit, TERM::RadioRTE::no_config);
}

void putFlags(ZarnRadioState const& s, TERM::RadioFlags& f, ZarnUnfit* unfit)
{
    f.set_prio(s.priority);
    f.set_ptt(s.flag_p != 0);
    f.set_bss(s.flag_b != 0);
    f.set_vad_rx(s.flag_r != 0);
    f.set_vad_tx(s.flag_t != 0);
    f.set_sql(s.flag_s != 0);
    f.set_sh(s.flag_sh != 0);
    f.set_pwr(s.flag_pw != 0);
    f.set_rv(s.flag_rv != 0);
    f.set_resv(s.flag_rs != 0);
    putRange(f.set_selcall(), s.flag_c, ZarnUnfit::selcall, unfit);
    putRange(f.set_li(), s.status, ZarnUnfit::li, unfit);
}

void takeFlags(TERM::RadioFlags const& f, ZarnRadioState& s)
{
    s.priority = f.get_prio().getValue();
    s.flag_p = f.get_ptt() ? 1 : 0;
    s.flag_b = f.get_bss() ? 1 : 0;
    s.flag_r = f.get_vad_rx() ? 1 : 0;
    s.flag_t = f.get_vad_tx() ? 1 : 0;
    s.flag_s = f.get_sql() ? 1 : 0;
    s.flag_sh = f.get_sh() ? 1 : 0;
    s.flag_pw = f.get_pwr() ? 1 : 0;
    s.flag_rv = f.get_rv() ? 1 : 0;
    s.flag_rs = f.get_resv() ? 1 : 0;
    s.flag_c = std::int32_t(f.get_selcall().getValue());
    s.status = std::int32_t(f.get_li().getValue());
}

void putFreq(ZarnRadioState const& s, TERM::RadioFrequency& f)
{
    f.set_channel(s.id);
    f.set_frequency(floatText(s.freq));
}

void takeFreq(TERM::RadioFrequency const& f, ZarnRadioState& s)
{
    s.id = f.get_channel().getValue();
    s.freq = textFloat(f.get_frequency());
}

void putRemote(ZarnRadioState const& s, TERM::RadioRemote& r, ZarnUnfit* unfit)
{
    putRange(r.set_no(), s.interface, ZarnUnfit::remoteNo, unfit);
    putRange(r.set_ch(), s.channel, ZarnUnfit::remoteCh, unfit);
}

void takeRemote(TERM::RadioRemote const& r, ZarnRadioState& s)
{
    s.interface = std::int32_t(r.get_no().getValue());
    s.channel = std::int32_t(r.get_ch().getValue());
}

// The transmission owner of the selective-call and transmission commands.
template <class Command>
void putOwner(ZarnRadioState const& s, Command& c, ZarnUnfit* unfit)
{
    putFlags(s, c.set_flags(), unfit);
    c.set_ip(INet4::dotted(s.session_addr.s_addr));
    c.set_ssrc(s.ssrc);
}

template <class Command>
void takeOwner(Command const& c, ZarnRadioState& s)
{
    takeFlags(c.get_flags(), s);
    s.session_addr = address(c.get_ip());
    s.ssrc = c.get_ssrc().getValue();
}

void putStandby(ZarnRadioState const& s, TERM::RadioStandby& channel, ASN1::INTEGER& group,
                TERM::RadioStandby& receiver, ZarnUnfit* unfit)
{
    putEnum(channel, s.standby_state, ZarnUnfit::standbyStateChannel, unfit);
    putRange(group, s.standby_group, ZarnUnfit::standbyGroup, unfit);
    putEnum(receiver, s.receiver_state, ZarnUnfit::standbyStateReceiver, unfit);
}

void putParams(ZarnRadioState const& s, Params& p, ZarnUnfit* unfit)
{
    if (s.type == WM_FLAG) {
        putFlags(s, p.select_wm_flags().set_flags(), unfit);
        return;
    }
    if (isFlagsOnly(s.type)) {
        TERM::RadioCommandGWSetFlags flags;
        putFlags(s, flags.set_flags(), unfit);
        p.setSelection(alternativeOf(s.type), flags.clone());
        return;
    }
    switch (s.type) {
    case GW_ADJUST_CHAN: putFreq(s, p.select_gw_set_freq().set_freq()); break;
    case GW_SEL_CALL: {
        auto& c = p.select_gw_set_selcall();
        putOwner(s, c, unfit);
        c.set_cid(s.callerID);
        break;
    }
    case GW_SELECT_RC_CHAN: putRemote(s, p.select_gw_set_remote().set_remote(), unfit); break;
    case GW_ADJUST_SQUELSHE: putSquelch(s, p.select_gw_set_squelshe().set_squelshe(), unfit); break;
    case GW_ADJUST_RTE: putRte(s, p.select_gw_set_rte().set_rte(), unfit); break;
    case GW_ADJUST_STANDBY:
        putEnum(p.select_gw_set_standby().set_state(), s.standby_state, ZarnUnfit::standbyStateChannel, unfit);
        break;
    case WM_TRANS: putOwner(s, p.select_wm_trans(), unfit); break;
    case WM_RADIO_QUALITY: p.select_wm_quality().set_bss_val(floatText(s.radio_quality)); break;
    case WM_CHAN: {
        auto& c = p.select_wm_chan();
        putFreq(s, c.set_freq());
        putSquelch(s, c.set_squelshe(), unfit);
        putRte(s, c.set_rte(), unfit);
        break;
    }
    case WM_SEL_CALL_TRANS: {
        auto& c = p.select_wm_selcall();
        putOwner(s, c, unfit);
        c.set_cid(s.callerID);
        break;
    }
    case WM_SELECT_RC_CHAN: putRemote(s, p.select_wm_remote().set_remote(), unfit); break;
    case WM_STANDBY: {
        auto& c = p.select_wm_standby();
        putStandby(s, c.set_state_channel(), c.set_group(), c.set_state_receiver(), unfit);
        break;
    }
    default: break;  // no command of this type: params stay unselected
    }
}

void takeParams(Params const& p, ZarnRadioState& s)
{
    s.type = typeOf(p.currentSelection());
    if (s.type == WM_FLAG) {
        takeFlags(p.get_wm_flags().get_flags(), s);
        return;
    }
    if (isFlagsOnly(s.type)) {
        takeFlags(static_cast<TERM::RadioCommandGWSetFlags const&>(*p.getSelection()).get_flags(), s);
        return;
    }
    switch (s.type) {
    case GW_ADJUST_CHAN: takeFreq(p.get_gw_set_freq().get_freq(), s); break;
    case GW_SEL_CALL: {
        auto const& c = p.get_gw_set_selcall();
        takeOwner(c, s);
        setCallerId(s.callerID, c.get_cid().data(), c.get_cid().size());
        break;
    }
    case GW_SELECT_RC_CHAN: takeRemote(p.get_gw_set_remote().get_remote(), s); break;
    case GW_ADJUST_SQUELSHE: s.squelsh = p.get_gw_set_squelshe().get_squelshe().asInt(); break;
    case GW_ADJUST_RTE: s.rte = p.get_gw_set_rte().get_rte().asInt(); break;
    case GW_ADJUST_STANDBY: s.standby_state = p.get_gw_set_standby().get_state().asInt(); break;
    case WM_TRANS: takeOwner(p.get_wm_trans(), s); break;
    case WM_RADIO_QUALITY: s.radio_quality = textFloat(p.get_wm_quality().get_bss_val()); break;
    case WM_CHAN: {
        auto const& c = p.get_wm_chan();
        takeFreq(c.get_freq(), s);
        s.squelsh = c.get_squelshe().asInt();
        s.rte = c.get_rte().asInt();
        break;
    }
    case WM_SEL_CALL_TRANS: {
        auto const& c = p.get_wm_selcall();
        takeOwner(c, s);
        setCallerId(s.callerID, c.get_cid().data(), c.get_cid().size());
        break;
    }
    case WM_SELECT_RC_CHAN: takeRemote(p.get_wm_remote().get_remote(), s); break;
    case WM_STANDBY: {
        auto const& c = p.get_wm_standby();
        s.standby_state = c.get_state_channel().asInt();
        s.standby_group = std::int32_t(c.get_group().getValue());
        s.receiver_state = c.get_state_receiver().asInt();
        break;
    }
    default: break;
    }
}

void encodeHeader(ZarnRadioState const& s, sig_proto& r)
{
    r.session_addr = s.sender_addr.s_addr;
    r.session_ssrc = s.sender_ssrc;
    r.type = std::uint32_t(s.type);
    r.priority = std::uint32_t(s.priority);
    r.flag_t = std::uint32_t(s.flag_t);
    r.flag_p = std::uint32_t(s.flag_p);
    r.flag_r = std::uint32_t(s.flag_r);
    r.flag_s = std::uint32_t(s.flag_s);
    r.flag_b = std::uint32_t(s.flag_b);
    r.flag_rv = std::uint32_t(s.flag_rv);
    r.flag_sh = std::uint32_t(s.flag_sh);
    r.flag_rs = std::uint32_t(s.flag_rs);
    r.flag_pw = std::uint32_t(s.flag_pw);
    r.flag_c = std::uint32_t(s.flag_c);
    r.status = std::uint32_t(s.status);
}

std::uint8_t const* octets(char const* text) { return reinterpret_cast<std::uint8_t const*>(text); }

unsigned char callerIdLength(ZarnRadioState const& s)
{
    return static_cast<unsigned char>(::strnlen(s.callerID, SIG_PROTO_CALLER_ID_SIZE - 1));
}

// The gateway's packets.
int encodeGatewayBody(ZarnRadioState const& s, sig_proto& r)
{
    switch (s.type) {
    case WM_FLAG: break;
    case WM_TRANS: sig_proto_set_wm_transmite(&r, s.session_addr.s_addr, s.ssrc); break;
    case WM_RADIO_QUALITY: sig_proto_set_wm_radio_quality(&r, s.radio_quality); break;
    case WM_CHAN:
        sig_proto_set_wm_chan(&r, unsigned(s.id), s.freq, static_cast<unsigned char>(s.squelsh),
                              static_cast<unsigned char>(s.rte));
        break;
    case WM_SEL_CALL_TRANS:
        sig_proto_set_wm_selcall_transmite(&r, s.session_addr.s_addr, s.ssrc, octets(s.callerID), callerIdLength(s));
        break;
    case WM_SELECT_RC_CHAN:
        sig_proto_set_wm_select_rc_chan(&r, static_cast<unsigned char>(s.interface),
                                        static_cast<unsigned char>(s.channel));
        break;
    case WM_STANDBY:
        sig_proto_set_wm_standby(&r, static_cast<unsigned char>(s.standby_state),
                                 static_cast<unsigned char>(s.standby_group),
                                 static_cast<unsigned char>(s.receiver_state));
        break;
    default: return -1;
    }
    return 0;
}

// The workstation's packets.
int encodeWorkstationBody(ZarnRadioState const& s, sig_proto& r)
{
    if (isFlagsOnly(s.type) && s.type != WM_FLAG)
        return 0;
    switch (s.type) {
    case GW_ADJUST_CHAN: sig_proto_set_gw_adjust_chan(&r, unsigned(s.id), s.freq); break;
    case GW_SEL_CALL: sig_proto_set_gw_selcall(&r, octets(s.callerID), callerIdLength(s)); break;
    case GW_SELECT_RC_CHAN:
        sig_proto_set_gw_select_rc_chan(&r, static_cast<unsigned char>(s.interface),
                                        static_cast<unsigned char>(s.channel));
        break;
    case GW_ADJUST_SQUELSHE: sig_proto_set_gw_adjust_squelsh(&r, static_cast<unsigned char>(s.squelsh)); break;
    case GW_ADJUST_RTE: sig_proto_set_gw_adjust_rte(&r, static_cast<unsigned char>(s.rte)); break;
    case GW_ADJUST_STANDBY: sig_proto_set_gw_adjust_standby(&r, static_cast<unsigned char>(s.standby_state)); break;
    default: return -1;
    }
    return 0;
}

}  // namespace

char const* ZarnUnfit::Name(Field field)
{
    static char const* const names[kFields] = {
        "squelshe", "rte", "standby-state-channel", "standby-group", "standby-state-receiver", "selcall", "li", "no", "ch",
    };
    return field < kFields ? names[field] : "?";
}

void ZarnUnfit::Note(Field field, std::int32_t met, std::int32_t put)
{
    fields |= 1u << field;
    value[field] = met;
    sent[field] = put;
}

int DecodeProto(sig_proto const& rec, ZarnRadioState& s)
{
    s.type = std::int32_t(rec.type);
    s.priority = std::int32_t(rec.priority);
    s.flag_p = std::int32_t(rec.flag_p);
    s.flag_b = std::int32_t(rec.flag_b);
    s.flag_r = std::int32_t(rec.flag_r);
    s.flag_t = std::int32_t(rec.flag_t);
    s.flag_s = std::int32_t(rec.flag_s);
    s.flag_sh = std::int32_t(rec.flag_sh);
    s.flag_pw = std::int32_t(rec.flag_pw);
    s.flag_rv = std::int32_t(rec.flag_rv);
    s.flag_rs = std::int32_t(rec.flag_rs);
    s.flag_c = std::int32_t(rec.flag_c);
    s.status = std::int32_t(rec.status);
    s.sender_addr.s_addr = rec.session_addr;
    s.sender_ssrc = rec.session_ssrc;

    if (isFlagsOnly(s.type))
        return 0;
    auto const& b = rec.body;
    switch (rec.type) {
    case GW_ADJUST_CHAN:
        s.id = std::int32_t(b.gw_adjust_chan.id);
        s.freq = b.gw_adjust_chan.freq;
        break;
    case GW_SEL_CALL:
        setCallerId(s.callerID, reinterpret_cast<char const*>(b.gw_sel_call.callerID), b.gw_sel_call.callerID_length);
        break;
    case GW_SELECT_RC_CHAN:
    case WM_SELECT_RC_CHAN:
        s.interface = b.gw_select_rc_chan.interface;
        s.channel = b.gw_select_rc_chan.channel;
        break;
    case GW_ADJUST_SQUELSHE: s.squelsh = b.gw_adjust_squelsh.squelsh; break;
    case GW_ADJUST_RTE: s.rte = b.gw_adjust_rte.rte; break;
    case GW_ADJUST_STANDBY: s.standby_state = b.gw_adjust_standby.state; break;
    case WM_TRANS:
        s.session_addr.s_addr = b.wm_trans.session_addr;
        s.ssrc = b.wm_trans.ssrc;
        break;
    case WM_RADIO_QUALITY: s.radio_quality = b.wm_radio_quality.radio_quality; break;
    case WM_CHAN:
        s.id = std::int32_t(b.wm_chan.id);
        s.freq = b.wm_chan.freq;
        s.squelsh = b.wm_chan.squelsh;
        s.rte = b.wm_chan.rte;
        break;
    case WM_SEL_CALL_TRANS:
        s.session_addr.s_addr = b.wm_sel_call_trans.session_addr;
        s.ssrc = b.wm_sel_call_trans.ssrc;
        setCallerId(s.callerID, reinterpret_cast<char const*>(b.wm_sel_call_trans.callerID),
                    b.wm_sel_call_trans.callerID_length);
        break;
    case WM_STANDBY:
        s.standby_state = b.wm_standby.state;
        s.standby_group = b.wm_standby.group;
        s.receiver_state = b.wm_standby.receiver_state;
        break;
    default: return -1;
    }
    return 0;
}

int EncodeProto(ZarnRadioState const& state, sig_proto& rec, ZarnRadioSide side)
{
    sig_proto_init(&rec);
    encodeHeader(state, rec);
    return side == ZarnRadioSide::gateway ? encodeGatewayBody(state, rec) : encodeWorkstationBody(state, rec);
}

int EncodeStatusASN(ZarnRadioState const& s, TERM::RtpRadioRequest& request, ZarnUnfit* unfit)
{
    TERM::ZarnRadioStatus& status = request.set_status().select_zarn();
    putFlags(s, status.set_flags(), unfit);
    putFreq(s, status.set_freq());
    putRemote(s, status.set_remote(), unfit);
    putSquelch(s, status.set_squelshe(), unfit);
    putRte(s, status.set_rte(), unfit);
    putStandby(s, status.set_standby_state_channel(), status.set_standby_group(), status.set_standby_state_receiver(),
               unfit);
    return 0;
}

int EncodeASN(ZarnRadioState const& current, ZarnRadioState const& received, TERM::RtpRadioRequest& request,
              ZarnUnfit* unfit)
{
    EncodeStatusASN(current, request, unfit);
    TERM::ZarnRadioModifier& modifier = request.set_request().select_zarn();
    modifier.set_addr().set_session_addr(INet4::dotted(received.sender_addr.s_addr));
    modifier.set_addr().set_session_ssrc(received.sender_ssrc);
    putParams(received, modifier.set_params(), unfit);
    return 0;
}

int DecodeASN(TERM::ZarnRadioStatus const& status, ZarnRadioState& s)
{
    s.type = 0;
    takeFlags(status.get_flags(), s);
    takeFreq(status.get_freq(), s);
    takeRemote(status.get_remote(), s);
    s.squelsh = status.get_squelshe().asInt();
    s.rte = status.get_rte().asInt();
    s.standby_state = status.get_standby_state_channel().asInt();
    s.standby_group = std::int32_t(status.get_standby_group().getValue());
    s.receiver_state = status.get_standby_state_receiver().asInt();
    return 0;
}

int DecodeASN(TERM::ZarnRadioModifier const& modifier, ZarnRadioState& s)
{
    s.type = 0;
    s.sender_addr = address(modifier.get_addr().get_session_addr());
    s.sender_ssrc = modifier.get_addr().get_session_ssrc().getValue();
    takeParams(modifier.get_params(), s);
    return 0;
}

}  // namespace RTPSignalling
