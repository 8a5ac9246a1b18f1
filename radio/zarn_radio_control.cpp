#include "radio/zarn_radio_control.h"

#include "asn1/value_notation.h"
#include "base/clock.h"
#include "base/errno.h"
#include "messages/term.h"

#include <poll.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <utility>

namespace RTPSignalling {
namespace {

// The header of a state: type, priority, status and the ten flags.
void storeHeader(ZarnRadioState& to, ZarnRadioState const& from)
{
    to.type = from.type;
    to.priority = from.priority;
    to.status = from.status;
    to.flag_p = from.flag_p;
    to.flag_b = from.flag_b;
    to.flag_r = from.flag_r;
    to.flag_t = from.flag_t;
    to.flag_s = from.flag_s;
    to.flag_sh = from.flag_sh;
    to.flag_pw = from.flag_pw;
    to.flag_rv = from.flag_rv;
    to.flag_rs = from.flag_rs;
    to.flag_c = from.flag_c;
}

// The bodies of the radio's state packets that a side keeps; a whole state keeps them all,
// and 133 only when asked (the workstation takes its owner from the sender instead).
void storeStateBody(ZarnRadioState& to, ZarnRadioState const& from, bool owner)
{
    bool const all = isDefaultInitCommand(from.type);
    if (all || from.type == WM_CHAN) {
        to.id = from.id;
        to.freq = from.freq;
        to.squelsh = from.squelsh;
        to.rte = from.rte;
    }
    if (all || from.type == WM_SELECT_RC_CHAN) {
        to.interface = from.interface;
        to.channel = from.channel;
    }
    if (all || (owner && (from.type == WM_TRANS || from.type == WM_SEL_CALL_TRANS))) {
        to.session_addr = from.session_addr;
        to.ssrc = from.ssrc;
    }
    if (all || from.type == WM_RADIO_QUALITY)
        to.radio_quality = from.radio_quality;
    if (all || from.type == WM_STANDBY) {
        to.standby_state = from.standby_state;
        to.standby_group = from.standby_group;
        to.receiver_state = from.receiver_state;
    }
}

// What a command of types 1-13 sets: the flags it names and its body.
void storeCommand(ZarnRadioState& to, ZarnRadioState const& from)
{
    to.type = from.type;
    to.priority = from.priority;
    bool const all = isDefaultInitCommand(from.type);
    if (all || from.type == GW_FLAG) {
        to.flag_p = from.flag_p;
        to.flag_b = from.flag_b;
        to.flag_sh = from.flag_sh;
        to.flag_rv = from.flag_rv;
        to.flag_pw = from.flag_pw;
        to.flag_rs = from.flag_rs;
    }
    switch (from.type) {
    case GW_FLAG_PTT: to.flag_p = from.flag_p; break;
    case GW_FLAG_BSS: to.flag_b = from.flag_b; break;
    case GW_FLAG_RV: to.flag_rv = from.flag_rv; break;
    case GW_FLAG_SH: to.flag_sh = from.flag_sh; break;
    case GW_FLAG_PW: to.flag_pw = from.flag_pw; break;
    case GW_FLAG_RS: to.flag_rs = from.flag_rs; break;
    default: break;
    }
    if (all || from.type == GW_ADJUST_CHAN) {
        to.id = from.id;
        to.freq = from.freq;
    }
    if (all || from.type == GW_SEL_CALL)
        std::memcpy(to.callerID, from.callerID, sizeof to.callerID);
    if (all || from.type == GW_SELECT_RC_CHAN) {
        to.interface = from.interface;
        to.channel = from.channel;
    }
    if (all || from.type == GW_ADJUST_SQUELSHE)
        to.squelsh = from.squelsh;
    if (all || from.type == GW_ADJUST_RTE)
        to.rte = from.rte;
    if (all || from.type == GW_ADJUST_STANDBY)
        to.standby_state = from.standby_state;
}

void takeSender(ZarnRadioState& to, ZarnRadioState const& from)
{
    to.session_addr = from.sender_addr;
    to.ssrc = from.sender_ssrc;
}

int initResult(ZarnRadioState const& state) { return isDefaultInitCommand(state.type) ? -1 : 0; }

}  // namespace

bool isPTTCommand(int type)
{
    switch (type) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_SEL_CALL:
    case WM_FLAG:
    case WM_TRANS:
    case WM_SEL_CALL_TRANS: return true;
    default: return false;
    }
}

bool isDefaultInitCommand(int type) { return type <= 0; }

ZarnRadioControl::ZarnRadioControl(int channel, rtp_ext_attach_session_params const& attach,
                                   rtp_ext_init_params const& init)
    : RadioControl(channel, attach, init)
{
    Init();
}

ZarnRadioControl::ZarnRadioControl(rtp_ext_init_params const& init) : RadioControl(init) { Init(); }

ZarnRadioControl::ZarnRadioControl(int channel, Fd rtp, rtp_attach_session_params const& attach)
    : RadioControl(channel, std::move(rtp), attach)
{
    Init();
}

void ZarnRadioControl::Init()
{
    SetTickTime(Mux::milliseconds());
    for (std::uint32_t& t : lastSend_)
        t = TickTime();
    sig_proto_init(&record_);
    sig_proto_init(&previous_);
}

bool ZarnRadioControl::SendASNToChan(TERM::RadioStatus const& status)
{
    if (!status.zarn_isSelected())
        return false;
    ZarnRadioState state = current_;
    DecodeASN(status.get_zarn(), state);
    SendRadioStateToChan(state);
    return true;
}

bool ZarnRadioControl::SendASNToChan(TERM::RadioModifier const& modifier)
{
    if (!modifier.zarn_isSelected())
        return false;
    ZarnRadioState state = current_;
    DecodeASN(modifier.get_zarn(), state);
    SendRadioStateToChan(state);
    return true;
}

void ZarnRadioControl::OnRtpExtEvent(int fd, short revents)
{
    RadioControl::OnRtpExtEvent(fd, revents);
    sig_proto_init(&previous_);
    DrainPayloads(
        revents, record_, previous_,
        [](sig_proto& rec, std::uint8_t const* buf, std::size_t n) {
            sig_proto_init(&rec);
            return sig_proto_unpack(&rec, buf, n) == 0;
        },
        // A run of one type from one sender is reported once, by its last packet.
        [](sig_proto const& a, sig_proto const& b) { return cmp_sig_proto_header(&a, &b) == 0; },
        [this](sig_proto const& rec) { OnRtpProtoRXEvent(rec); });
}

int ZarnRadioControl::OnRtpProtoRXEvent(sig_proto const& rec)
{
    ZarnRadioState state;
    DecodeProto(rec, state);
    if (AccessFormChanToRadio(state)) {
        PutProtoFromChanToRadio(state);
        TERM::RtpRadioRequest request;
        ZarnUnfit unfit;
        EncodeASN(current_, state, request, &unfit);
        LogUnfit(unfit);
        if (Debug())
            std::clog << GetPrefix() << "command=0x" << std::hex << state.type << std::dec
                      << " send extension to controller: " << request << std::endl;
        if (Notify())
            Notify()->RadioControlNotify(request);
    }
    UpdateOwnerAccess();
    return 0;
}

void ZarnRadioControl::LogUnfit(ZarnUnfit const& unfit)
{
    for (unsigned f = 0; f < ZarnUnfit::kFields; ++f) {
        std::uint32_t const bit = 1u << f;
        if (!(unfit.fields & bit) || (unfitLogged_ & bit))
            continue;
        unfitLogged_ |= bit;
        std::clog << GetPrefix() << " " << ZarnUnfit::Name(ZarnUnfit::Field(f)) << "=" << unfit.value[f]
                  << " cannot go to the controller, sent as " << unfit.sent[f] << std::endl;
    }
}

ZarnRadioControl::Group ZarnRadioControl::GroupOf(std::int32_t type)
{
    switch (type) {
    case WM_FLAG:
    case WM_TRANS:
    case WM_SEL_CALL_TRANS: return kTransmission;
    case WM_CHAN: return kChannel;
    case WM_SELECT_RC_CHAN: return kRemote;
    case WM_STANDBY: return kStandby;
    default: return kGroups;
    }
}

int ZarnRadioControl::SendRadioStateToChan(ZarnRadioState const& state)
{
    sig_proto rec;
    if (PutProtoFromRadioToChan(state) == 0 && EncodeProto(state, rec) == 0) {
        SendProtoToChan(rec);
        SetTickTime(Mux::milliseconds());
        Group const group = GroupOf(state.type);
        // A command delays its group's next periodic re-send.
        if (Mode() == kGatewayMode && group != kGroups)
            lastSend_[group] = TickTime();
    }
    if (Debug()) {
        TERM::RtpRadioRequest request;
        EncodeStatusASN(current_, request);
        std::clog << GetPrefix() << "command=0x" << std::hex << state.type << std::dec
                  << " receive extension from controller: " << request << std::endl;
    }
    UpdateOwnerAccess();
    return 0;
}

int ZarnRadioControl::SendProtoToChan(sig_proto& rec)
{
    std::uint8_t buf[kMaxPayload];
    int const length = sig_proto_pack(&rec, buf, sizeof buf);
    if (length < 1)
        return 0;
    ssize_t const written = WritePayload(buf, std::size_t(length));
    if (written < 0 && !writeFailed_) {
        Errno e;
        std::cerr << GetPrefix() << " write rtp_ext fail: " << e << std::endl;
    }
    writeFailed_ = written < 0;
    return int(written);
}

void ZarnRadioControl::UpdateOwnerAccess() { UpdateAccess(current_.flag_p != 0, current_.session_addr); }

std::uint32_t ZarnRadioGWControl::ProcessRadioStatus(std::uint32_t now, std::uint32_t interval)
{
    struct Resend {
        Group group;
        bool due;
        std::int32_t type;
    };
    ZarnRadioState const& s = current_;
    Resend const resends[] = {
        {kTransmission, true, s.flag_p == 0 ? std::int32_t(WM_FLAG) : std::int32_t(WM_TRANS)},
        {kChannel, s.id >= 0 && s.freq >= 0.0f, WM_CHAN},
        {kRemote, s.interface >= 0 && s.channel >= 0, WM_SELECT_RC_CHAN},
        {kStandby, s.standby_state >= 0 && s.standby_group >= 0 && s.receiver_state >= 0, WM_STANDBY},
    };
    // Times are compared by their difference modulo 2^32: every stamp was read from the same
    // monotonic clock before now, so a wrap of the count never makes a group look fresh.
    std::uint32_t since = 0;  // of the oldest last-send time
    for (Resend const& r : resends) {
        if (r.due && now - lastSend_[r.group] > 999) {
            current_.type = r.type;
            sig_proto rec;
            if (EncodeProto(current_, rec) == 0) {
                SendProtoToChan(rec);
                lastSend_[r.group] = now;
            }
        }
        since = std::max(since, now - lastSend_[r.group]);
    }
    return since == 0 || since >= interval ? interval : interval - since + 10;
}

int ZarnRadioGWControl::PutProtoFromRadioToChan(ZarnRadioState const& state)
{
    storeHeader(current_, state);
    storeStateBody(current_, state, true);
    return initResult(state);
}

int ZarnRadioGWControl::PutProtoFromChanToRadio(ZarnRadioState const& state)
{
    storeCommand(fromChannel_, state);
    takeSender(fromChannel_, state);
    return initResult(state);
}

bool ZarnRadioGWControl::AccessFormChanToRadio(ZarnRadioState const& state)
{
    if (current_.flag_p == 0)
        return true;
    // A PTT request of a higher priority (a lower number) takes the radio.
    if (isPTTCommand(state.type) && state.priority < current_.priority && state.flag_p != 0)
        return true;
    return state.sender_addr.s_addr == current_.session_addr.s_addr;
}

int ZarnRadioGWControl::EncodeProto(ZarnRadioState const& state, sig_proto& rec)
{
    return RTPSignalling::EncodeProto(state, rec, ZarnRadioSide::gateway);
}

int ZarnRadioWSControl::PutProtoFromRadioToChan(ZarnRadioState const& state)
{
    storeCommand(current_, state);
    return initResult(state);
}

int ZarnRadioWSControl::PutProtoFromChanToRadio(ZarnRadioState const& state)
{
    storeHeader(fromChannel_, state);
    takeSender(fromChannel_, state);
    storeStateBody(fromChannel_, state, state.type == WM_SEL_CALL_TRANS);
    return initResult(state);
}

int ZarnRadioWSControl::EncodeProto(ZarnRadioState const& state, sig_proto& rec)
{
    return RTPSignalling::EncodeProto(state, rec, ZarnRadioSide::workstation);
}

}  // namespace RTPSignalling
