#pragma once

#include "radio/sig_proto.h"

#include <netinet/in.h>

#include <cstdint>

namespace TERM {
class RtpRadioRequest;
class ZarnRadioModifier;
class ZarnRadioStatus;
}

namespace RTPSignalling {

// The decoded state of a ZARN radio, or one packet or command of it: a plain record copied by
// value. A state of type 0 or below stands for a whole state rather than one packet.
struct ZarnRadioState {
    std::int32_t type = 0;        // packet type (sig_proto_type)
    std::int32_t priority = 15;   // lower numbers win
    std::int32_t flag_p = 0;      // PTT: the radio transmits
    in_addr session_addr{};       // transmission owner, network order
    std::uint32_t ssrc = 0;       // transmission owner's SSRC
    char callerID[SIG_PROTO_CALLER_ID_SIZE] = {};  // ends in a zero character
    std::int32_t flag_b = 0;
    std::int32_t flag_r = 0;
    std::int32_t flag_t = 0;
    std::int32_t flag_s = 0;
    std::int32_t flag_sh = 0;
    std::int32_t flag_pw = 0;
    std::int32_t flag_rv = 0;
    std::int32_t flag_rs = 0;
    std::int32_t flag_c = 0;
    std::int32_t status = 0;
    std::int32_t interface = 0;  // remote radio selection
    std::int32_t channel = 0;
    std::int32_t id = 0;  // channel number
    float freq = 0.0f;
    // -1: not set.
    std::int32_t squelsh = -1;
    std::int32_t rte = -1;
    std::int32_t standby_state = -1;
    std::int32_t standby_group = -1;
    std::int32_t receiver_state = -1;
    float radio_quality = 0.0f;
    in_addr sender_addr{};  // who sent the packet or the command, network order
    std::uint32_t sender_ssrc = 0;
};

// The values that a conversion to the controller's ZARN types met and could not carry (a
// packet from the IP side may hold any octet where those types take a few values), with what
// went in their place: the type's neutral value where it has one (no-config for the squelch
// and the emission class), else the nearest value it carries.
struct ZarnUnfit {
    enum Field : unsigned {
        squelshe, rte, standbyStateChannel, standbyGroup, standbyStateReceiver, selcall, li, remoteNo, remoteCh,
        kFields
    };
    // The field's name in the controller's types.
    static char const* Name(Field field);

    void Note(Field field, std::int32_t met, std::int32_t put);

    std::uint32_t fields = 0;  // a bit per field met
    std::int32_t value[kFields] = {};
    std::int32_t sent[kFields] = {};
};

// Which packet types a side sends: the gateway 129-135, the workstation 1-13.
enum class ZarnRadioSide { gateway, workstation };

// Packet to state: the header fields and the sender always, the body by type. 0 for the
// defined types, -1 for any other.
int DecodeProto(sig_proto const& rec, ZarnRadioState& state);
// State to packet: the record is cleared, then takes the header fields, the sender and the
// body of the state's type when the side sends that type (0); -1 for another type, without
// a body.
int EncodeProto(ZarnRadioState const& state, sig_proto& rec, ZarnRadioSide side);

// The state as the controller's ZARN status, stored as the request's status; 0. Values the
// status cannot carry are put as ZarnUnfit says, and noted in unfit when given.
int EncodeStatusASN(ZarnRadioState const& state, TERM::RtpRadioRequest& request, ZarnUnfit* unfit = nullptr);
// The current state as the request's status and the received one as its ZARN command; 0.
// Values they cannot carry as for EncodeStatusASN.
int EncodeASN(ZarnRadioState const& current, ZarnRadioState const& received, TERM::RtpRadioRequest& request,
              ZarnUnfit* unfit = nullptr);
// A status over the state: type 0 and every status field; the other fields stay. 0.
int DecodeASN(TERM::ZarnRadioStatus const& status, ZarnRadioState& state);
// A command over the state: the sender, the command's type and the fields it carries; the
// other fields stay (type 0 when no command is selected). 0.
int DecodeASN(TERM::ZarnRadioModifier const& modifier, ZarnRadioState& state);

}  // namespace RTPSignalling
