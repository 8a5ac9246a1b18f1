// Fuzz target of the ZARN packet unpacker: any payload must decode or be refused without a
// read outside it, a refused payload must leave the record as it was (but for the type of an
// unknown one), and a decoded one must hold the fields its octets say and pack again to the
// same packet. The octets are read here on their own, by the packet's wire layout: the
// header's bit fields, the body's big-endian words (the session address reversed), and, for
// the packed packet, its length by type, the octets it carries as they came and its padding
// zero.

#include "radio/sig_proto.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

[[noreturn]] void breach(char const* what)
{
    std::fprintf(stderr, "sig_proto_unpack_fuzz: %s\n", what);
    std::abort();
}

std::uint32_t word(std::uint8_t const* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::uint32_t bits(float f)
{
    std::uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// The session address: its octets in memory are those of the wire reversed.
bool reversedAddress(std::uint32_t addr, std::uint8_t const* p)
{
    std::uint8_t const* a = reinterpret_cast<std::uint8_t const*>(&addr);
    return a[0] == p[3] && a[1] == p[2] && a[2] == p[1] && a[3] == p[0];
}

bool callerId(std::uint8_t length, std::uint8_t const* id, std::uint8_t const* p)
{
    return length == p[0] && std::memcmp(id, p + 1, length) == 0;
}

// Whether the record holds what the packet's octets say.
bool fieldsOf(sig_proto const& r, std::uint8_t const* p)
{
    bool const header = r.type == p[0] && r.priority == std::uint32_t(p[1] >> 4) && r.flag_t == (p[1] >> 3 & 1u)
                        && r.flag_p == (p[1] >> 2 & 1u) && r.flag_r == (p[1] >> 1 & 1u) && r.flag_s == (p[1] & 1u)
                        && r.flag_b == std::uint32_t(p[2] >> 7) && r.flag_rv == (p[2] >> 6 & 1u)
                        && r.flag_sh == (p[2] >> 5 & 1u) && r.flag_pw == (p[2] >> 4 & 1u)
                        && r.status == ((p[2] & 0xFu) << 5 | p[3] >> 3) && r.flag_c == (p[3] >> 1 & 3u)
                        && r.flag_rs == (p[3] & 1u);
    auto const& b = r.body;
    std::uint8_t const* body = p + 4;
    switch (r.type) {
    case GW_ADJUST_CHAN:
        return header && b.gw_adjust_chan.id == word(body) && bits(b.gw_adjust_chan.freq) == word(body + 4);
    case GW_SEL_CALL: return header && callerId(b.gw_sel_call.callerID_length, b.gw_sel_call.callerID, body);
    case GW_SELECT_RC_CHAN:
    case WM_SELECT_RC_CHAN:
        return header && b.gw_select_rc_chan.interface == body[0] && b.gw_select_rc_chan.channel == body[1];
    case GW_ADJUST_SQUELSHE: return header && b.gw_adjust_squelsh.squelsh == body[0];
    case GW_ADJUST_RTE: return header && b.gw_adjust_rte.rte == body[0];
    case GW_ADJUST_STANDBY: return header && b.gw_adjust_standby.state == body[0];
    case WM_TRANS: return header && reversedAddress(b.wm_trans.session_addr, body) && b.wm_trans.ssrc == word(body + 4);
    case WM_RADIO_QUALITY: return header && bits(b.wm_radio_quality.radio_quality) == word(body);
    case WM_CHAN:
        return header && b.wm_chan.id == word(body) && bits(b.wm_chan.freq) == word(body + 4)
               && b.wm_chan.squelsh == body[8] && b.wm_chan.rte == body[9];
    case WM_SEL_CALL_TRANS:
        return header && reversedAddress(b.wm_sel_call_trans.session_addr, body)
               && b.wm_sel_call_trans.ssrc == word(body + 4)
               && callerId(b.wm_sel_call_trans.callerID_length, b.wm_sel_call_trans.callerID, body + 8);
    case WM_STANDBY:
        return header && b.wm_standby.state == body[0] && b.wm_standby.group == body[1]
               && b.wm_standby.receiver_state == body[2];
    default: return header;
    }
}

// The length of the packet of the octets' type, and from which octet on it is padding.
struct Extent {
    std::size_t length;
    std::size_t padding;
};

Extent extentOf(std::uint8_t const* p)
{
    auto round = [](std::size_t n) { return (n + 3) & ~std::size_t(3); };
    switch (p[0]) {
    case GW_ADJUST_CHAN:
    case WM_TRANS: return {12, 12};
    case GW_SEL_CALL: return {round(5u + p[4]), 5u + p[4]};
    case GW_SELECT_RC_CHAN:
    case WM_SELECT_RC_CHAN: return {8, 6};
    case GW_ADJUST_SQUELSHE:
    case GW_ADJUST_RTE:
    case GW_ADJUST_STANDBY: return {8, 5};
    case WM_RADIO_QUALITY: return {8, 8};
    case WM_CHAN: return {16, 14};
    case WM_SEL_CALL_TRANS: return {round(13u + p[12]), 13u + p[12]};
    case WM_STANDBY: return {8, 7};
    default: return {4, 4};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    // An exact copy, so the address checker sees every read past the payload (never a null
    // pointer, even when empty).
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size]);
    if (size > 0)
        std::memcpy(copy.get(), data, size);
    sig_proto rec;
    std::memset(&rec, 0xA5, sizeof rec);
    sig_proto const before = rec;
    int r = sig_proto_unpack(&rec, copy.get(), size);
    if (r == SIG_PROTO_ERR_TYPE)
        rec.type = before.type;
    if (r != 0) {
        if (std::memcmp(&rec, &before, sizeof rec) != 0)
            breach("a refused payload changed the record");
        return 0;
    }
    if (!fieldsOf(rec, copy.get()))
        breach("a decoded record does not hold what its octets say");
    std::uint8_t packed[1024];
    int n = sig_proto_pack(&rec, packed, sizeof packed);
    Extent const extent = extentOf(copy.get());
    if (n < 0 || std::size_t(n) != extent.length)
        breach("a packet packed to another length than its type's");
    for (std::size_t i = 0; i < extent.length; ++i)
        if (packed[i] != (i < extent.padding ? copy[i] : 0))
            breach("a packed octet differs from the one it was decoded from");
    sig_proto again = before;
    if (sig_proto_unpack(&again, packed, std::size_t(n)) != 0 || std::memcmp(&again, &rec, sizeof rec) != 0)
        breach("a packed packet decodes to another record");
    char text[512];
    int length = sprintf_sig_proto(text, sizeof text, &rec, SIG_PROTO_PRINT_TYPE_NAME);
    if (length < 0 || std::size_t(length) >= sizeof text || text[length] != '\0')
        breach("a record's text is not ended within its buffer");
    return 0;
}
