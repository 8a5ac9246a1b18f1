// Fuzz target of the ED-137 extension unpackers: any payload, read in either direction, must
// decode or be refused without a read outside it, hold the header and the known features its
// octets say (at most 16), and, when it decoded completely, pack again to the same octets and
// decode again to the same record. The octets are read here on their own, by the payload's
// layout: the header's bit fields, then the features, each a type/length octet and a value,
// those of the direction's known pairs kept, the others stepped over.

#include "radio/r2s_proto.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using Unpacker = int (*)(r2s_proto*, std::uint8_t const*, std::size_t);

[[noreturn]] void breach(char const* what)
{
    std::fprintf(stderr, "r2s_proto_unpack_fuzz: %s\n", what);
    std::abort();
}

// Eight one-bit values, bit 7 first.
bool octetBits(std::uint32_t const (&bit)[8], std::uint8_t o)
{
    for (int i = 0; i < 8; ++i)
        if (bit[i] != (o >> (7 - i) & 1u))
            return false;
    return true;
}

// A flag in bit 7 and a 23-bit value over three octets.
bool flagged(std::uint32_t flag, std::uint32_t value, std::uint8_t const* v)
{
    return flag == std::uint32_t(v[0] >> 7) && value == ((v[0] & 0x7Fu) << 16 | std::uint32_t(v[1]) << 8 | v[2]);
}

std::uint32_t half(std::uint8_t const* v) { return std::uint32_t(v[0]) << 8 | v[1]; }

// Whether the feature slot holds what a known pair's value says; false for a pair the
// direction does not know.
bool known(bool rx, std::uint8_t tl, std::uint8_t const* v, r2s_proto_additional const& a, bool& holds)
{
    auto const& w = a.value;
    switch (rx ? tl : tl | 0x100) {
    case 0x11:
        holds = a.type == R2S_PROTO_SQI && w.sqi.quality == std::uint32_t(v[0] >> 3) && w.sqi.method == (v[0] & 7u);
        break;
    case 0x31:
        holds = a.type == R2S_PROTO_RRC && octetBits(w.rx_rrc.bit, v[0]) && w.rx_rrc.form == 0;
        break;
    case 0x34:
        holds = a.type == R2S_PROTO_RRC && octetBits(w.rx_rrc.bit, v[0]) && w.rx_rrc.form == 1
                && w.rx_rrc.ext_bit[0] == std::uint32_t(v[1] >> 7) && w.rx_rrc.ext_bit[1] == (v[1] >> 6 & 1u)
                && w.rx_rrc.ext_octet[0] == v[2] && w.rx_rrc.ext_octet[1] == v[3];
        break;
    case 0x4C:
        holds = a.type == R2S_PROTO_MAM && flagged(w.mam.flag1, w.mam.value1, v)
                && flagged(w.mam.flag2, w.mam.value2, v + 3) && w.mam.value3 == half(v + 6)
                && w.mam.value4 == half(v + 8) && w.mam.value5 == half(v + 10);
        break;
    case 0x121: holds = a.type == R2S_PROTO_CLIMAX_TIME_DELAY && w.time_delay.delay == v[0]; break;
    case 0x131: holds = a.type == R2S_PROTO_RRC && octetBits(w.tx_rrc.bit, v[0]); break;
    case 0x143: holds = a.type == R2S_PROTO_RRM && flagged(w.rrm.flag, w.rrm.value, v); break;
    default: return false;
    }
    return true;
}

// Checks the record against the payload's octets; returns the octets a packer must give of
// it (the header as the direction carries it, then the known features' pairs as they came,
// the bits an extended RRC does not use cleared).
std::vector<std::uint8_t> layout(bool rx, std::uint8_t const* p, std::size_t size, r2s_proto const& r, int result)
{
    std::uint32_t const ptt = p[0] >> 5, pttId = (p[0] & 0xFu) << 2 | p[1] >> 6;
    std::uint32_t const mute = p[1] >> 5 & 1u, summation = p[1] >> 4 & 1u;
    bool const header = rx ? r.type == R2S_PROTO_RX && r.header.rx.ptt == ptt && r.header.rx.squ == (p[0] >> 4 & 1u)
                                 && r.header.rx.ptt_id == pttId && r.header.rx.ptt_mute == mute
                                 && r.header.rx.ptt_summation == summation && r.header.rx.sct == (p[1] >> 3 & 1u)
                           : r.type == R2S_PROTO_TX && r.header.tx.ptt == ptt && r.header.tx.ptt_id == pttId
                                 && r.header.tx.ptt_mute == mute && r.header.tx.ptt_summation == summation;
    if (!header)
        breach("a decoded header does not hold what its octets say");
    std::vector<std::uint8_t> out{std::uint8_t(rx ? p[0] : p[0] & ~0x10), std::uint8_t(p[1] & (rx ? 0xF8 : 0xF0))};
    std::size_t count = 0;
    bool truncated = false;
    for (std::size_t at = 2; (p[1] & 1) && at < size && count < R2S_PROTO_MAX_ADDITIONALS; at += 1 + (p[at] & 0xF)) {
        if ((p[at] & 0xFu) > size - at - 1) {
            truncated = true;
            break;
        }
        bool holds = false;
        if (!known(rx, p[at], p + at + 1, r.additional[count], holds))
            continue;
        if (count >= r.count || !holds)
            breach("a decoded feature does not hold what its octets say");
        out.insert(out.end(), p + at, p + at + 1 + (p[at] & 0xF));
        if (p[at] == 0x34)
            out[out.size() - 3] &= 0xC0;
        ++count;
    }
    if (r.count != count || (result != 0) != truncated)
        breach("a payload decoded to another count of features or another result than its octets say");
    if (count == 0)
        out.resize(4, 0);
    else
        out[1] |= 1;
    return out;
}

void check(std::uint8_t const* payload, std::size_t size, Unpacker unpack, bool rx)
{
    r2s_proto rec;
    r2s_proto_init(&rec, 0);
    int r = unpack(&rec, payload, size);
    if (rec.count > R2S_PROTO_MAX_ADDITIONALS || (r != 0 && r != R2S_PROTO_ERR_LENGTH))
        breach("a payload decoded to more than 16 features or an error of its own");
    if (size < 2)
        return;
    std::vector<std::uint8_t> const expected = layout(rx, payload, size, rec, r);
    if (r != 0)
        return;
    std::uint8_t packed[1024];
    int n = r2s_proto_pack(&rec, packed, sizeof packed);
    if (n < 0 || std::size_t(n) != expected.size() || std::memcmp(packed, expected.data(), expected.size()) != 0)
        breach("a record packed to other octets than those it was decoded from");
    r2s_proto again;
    r2s_proto_init(&again, 0);
    if (unpack(&again, packed, std::size_t(n)) != 0 || std::memcmp(&again, &rec, sizeof rec) != 0)
        breach("a packed payload decodes to another record");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    // An exact copy, so the address checker sees every read past the payload (never a null
    // pointer, even when empty).
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size]);
    if (size > 0)
        std::memcpy(copy.get(), data, size);
    check(copy.get(), size, r2s_proto_unpack_rx, true);
    check(copy.get(), size, r2s_proto_unpack_tx, false);
    return 0;
}
