#include "radio/r2s_proto.h"

#include "radio/codec_sender.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kHeader = 2;

// Type/length octets of the known features.
constexpr std::uint8_t kSqi = 0x11;
constexpr std::uint8_t kRrc = 0x31;
constexpr std::uint8_t kRrcExtended = 0x34;
constexpr std::uint8_t kMam = 0x4C;
constexpr std::uint8_t kTimeDelay = 0x21;
constexpr std::uint8_t kRrm = 0x43;

std::uint8_t bitsOctet(std::uint32_t const (&bit)[8])
{
    std::uint8_t o = 0;
    for (int i = 0; i < 8; ++i)
        o = std::uint8_t(o | (bit[i] & 1) << (7 - i));
    return o;
}

void octetBits(std::uint8_t o, std::uint32_t (&bit)[8])
{
    for (int i = 0; i < 8; ++i)
        bit[i] = (o >> (7 - i)) & 1;
}

// A flag in bit 7 and a 23-bit value over three octets.
void put23(std::uint8_t* p, std::uint32_t flag, std::uint32_t value)
{
    p[0] = std::uint8_t((flag & 1) << 7 | ((value >> 16) & 0x7F));
    p[1] = std::uint8_t(value >> 8);
    p[2] = std::uint8_t(value);
}

void get23(std::uint8_t const* p, std::uint32_t& flag, std::uint32_t& value)
{
    flag = p[0] >> 7;
    value = std::uint32_t(p[0] & 0x7F) << 16 | std::uint32_t(p[1]) << 8 | p[2];
}

void put16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v >> 8);
    p[1] = std::uint8_t(v);
}

std::uint32_t get16(std::uint8_t const* p) { return std::uint32_t(p[0]) << 8 | p[1]; }

// Header octets: ptt(3) squ(1) ptt_id(6) ptt_mute(1) ptt_summation(1) sct(1) 0(2) X(1); a tx
// header has squ and sct zero.
void packHeader(std::uint8_t* p, std::uint32_t ptt, std::uint32_t squ, std::uint32_t pttId, std::uint32_t mute,
                std::uint32_t summation, std::uint32_t sct, bool x)
{
    p[0] = std::uint8_t((ptt & 7) << 5 | (squ & 1) << 4 | ((pttId >> 2) & 0xF));
    p[1] = std::uint8_t((pttId & 3) << 6 | (mute & 1) << 5 | (summation & 1) << 4 | (sct & 1) << 3 | (x ? 1 : 0));
}

// The octets a feature adds to a payload's requirement in each direction (0: the feature
// does not travel in it). An rrc adds 5 on rx whichever its form.
std::size_t rxRequirement(std::uint32_t type)
{
    switch (type) {
    case R2S_PROTO_SQI: return 2;
    case R2S_PROTO_RRC: return 5;
    case R2S_PROTO_MAM: return 13;
    default: return 0;
    }
}

std::size_t txRequirement(std::uint32_t type)
{
    switch (type) {
    case R2S_PROTO_CLIMAX_TIME_DELAY: return 2;
    case R2S_PROTO_RRC: return 2;
    case R2S_PROTO_RRM: return 4;
    default: return 0;
    }
}

// Writes one feature (type/length octet and value) at p: the octets written, or -8 for an
// rx rrc of an unknown form.
int packRxFeature(r2s_proto_additional const& a, std::uint8_t* p)
{
    switch (a.type) {
    case R2S_PROTO_SQI:
        p[0] = kSqi;
        p[1] = std::uint8_t((a.value.sqi.quality % 32) << 3 | a.value.sqi.method % 8);
        return 2;
    case R2S_PROTO_RRC: {
        auto const& r = a.value.rx_rrc;
        if (r.form > 1)
            return R2S_PROTO_ERR_TYPE;
        p[1] = bitsOctet(r.bit);
        if (r.form == 0) {
            p[0] = kRrc;
            return 2;
        }
        p[0] = kRrcExtended;
        p[2] = std::uint8_t((r.ext_bit[0] & 1) << 7 | (r.ext_bit[1] & 1) << 6);
        p[3] = std::uint8_t(r.ext_octet[0]);
        p[4] = std::uint8_t(r.ext_octet[1]);
        return 5;
    }
    default: {  // MAM
        auto const& m = a.value.mam;
        p[0] = kMam;
        put23(p + 1, m.flag1, m.value1);
        put23(p + 4, m.flag2, m.value2);
        put16(p + 7, m.value3);
        put16(p + 9, m.value4);
        put16(p + 11, m.value5);
        return 13;
    }
    }
}

int packTxFeature(r2s_proto_additional const& a, std::uint8_t* p)
{
    switch (a.type) {
    case R2S_PROTO_CLIMAX_TIME_DELAY:
        p[0] = kTimeDelay;
        p[1] = std::uint8_t(a.value.time_delay.delay);
        return 2;
    case R2S_PROTO_RRC:
        p[0] = kRrc;
        p[1] = bitsOctet(a.value.tx_rrc.bit);
        return 2;
    default:  // RRM
        p[0] = kRrm;
        put23(p + 1, a.value.rrm.flag, a.value.rrm.value);
        return 4;
    }
}

// Writes the features after the header, in slot order, stopping at the first error; the
// running requirement is checked against size before each feature is written.
int packFeatures(r2s_proto const& rec, std::uint8_t* buf, std::size_t size, bool rx)
{
    std::size_t need = kHeader;
    std::size_t at = kHeader;
    std::size_t const count = std::min<std::size_t>(rec.count, R2S_PROTO_MAX_ADDITIONALS);
    for (std::size_t i = 0; i < count; ++i) {
        r2s_proto_additional const& a = rec.additional[i];
        std::size_t const adds = rx ? rxRequirement(a.type) : txRequirement(a.type);
        if (adds == 0)
            continue;
        need += adds;
        if (need > size)
            return R2S_PROTO_ERR_LENGTH;
        int written = rx ? packRxFeature(a, buf + at) : packTxFeature(a, buf + at);
        if (written < 0)
            return written;
        at += std::size_t(written);
    }
    return int(at);
}

int packPayload(r2s_proto const* rec, std::uint8_t* buf, std::size_t size, bool rx)
{
    if (rec == nullptr || buf == nullptr)
        return 0;
    if (size < kHeader)
        return R2S_PROTO_ERR_LENGTH;
    std::memset(buf, 0, size);
    if (rx) {
        auto const& h = rec->header.rx;
        packHeader(buf, h.ptt, h.squ, h.ptt_id, h.ptt_mute, h.ptt_summation, h.sct, rec->count != 0);
    } else {
        auto const& h = rec->header.tx;
        packHeader(buf, h.ptt, 0, h.ptt_id, h.ptt_mute, h.ptt_summation, 0, rec->count != 0);
    }
    if (rec->count == 0)
        return size >= 4 ? 4 : R2S_PROTO_ERR_LENGTH;
    return packFeatures(*rec, buf, size, rx);
}

// Decodes one known feature's value into the slot; false for a pair this direction does
// not know.
bool unpackRxFeature(std::uint8_t tl, std::uint8_t const* v, r2s_proto_additional& a)
{
    switch (tl) {
    case kSqi:
        a.type = R2S_PROTO_SQI;
        a.value.sqi.quality = v[0] >> 3;
        a.value.sqi.method = v[0] & 7;
        return true;
    case kRrc:
    case kRrcExtended: {
        auto& r = a.value.rx_rrc;
        a.type = R2S_PROTO_RRC;
        octetBits(v[0], r.bit);
        r.form = tl == kRrcExtended ? 1 : 0;
        if (r.form == 1) {
            r.ext_bit[0] = v[1] >> 7;
            r.ext_bit[1] = (v[1] >> 6) & 1;
            r.ext_octet[0] = v[2];
            r.ext_octet[1] = v[3];
        }
        return true;
    }
    case kMam: {
        auto& m = a.value.mam;
        a.type = R2S_PROTO_MAM;
        get23(v, m.flag1, m.value1);
        get23(v + 3, m.flag2, m.value2);
        m.value3 = get16(v + 6);
        m.value4 = get16(v + 8);
        m.value5 = get16(v + 10);
        return true;
    }
    default: return false;
    }
}

bool unpackTxFeature(std::uint8_t tl, std::uint8_t const* v, r2s_proto_additional& a)
{
    switch (tl) {
    case kTimeDelay:
        a.type = R2S_PROTO_CLIMAX_TIME_DELAY;
        a.value.time_delay.delay = v[0];
        return true;
    case kRrc:
        a.type = R2S_PROTO_RRC;
        octetBits(v[0], a.value.tx_rrc.bit);
        return true;
    case kRrm:
        a.type = R2S_PROTO_RRM;
        get23(v, a.value.rrm.flag, a.value.rrm.value);
        return true;
    default: return false;
    }
}

int unpackPayload(r2s_proto* rec, std::uint8_t const* buf, std::size_t len, bool rx)
{
    if (rec == nullptr || buf == nullptr)
        return R2S_PROTO_ERR_NULL;
    if (len < kHeader)
        return R2S_PROTO_ERR_LENGTH;
    std::uint32_t const ptt = buf[0] >> 5, pttId = std::uint32_t(buf[0] & 0xF) << 2 | buf[1] >> 6;
    std::uint32_t const mute = (buf[1] >> 5) & 1, summation = (buf[1] >> 4) & 1;
    if (rx) {
        rec->type = R2S_PROTO_RX;
        rec->header.rx = {ptt, std::uint32_t(buf[0] >> 4) & 1, pttId, mute, summation, std::uint32_t(buf[1] >> 3) & 1};
    } else {
        rec->type = R2S_PROTO_TX;
        rec->header.tx.ptt = ptt;
        rec->header.tx.ptt_id = pttId;
        rec->header.tx.ptt_mute = mute;
        rec->header.tx.ptt_summation = summation;
    }
    rec->count = 0;
    if ((buf[1] & 1) == 0)
        return 0;
    auto const unpack = rx ? unpackRxFeature : unpackTxFeature;
    int result = 0;
    for (std::size_t at = kHeader; at < len && rec->count < R2S_PROTO_MAX_ADDITIONALS;) {
        std::uint8_t const tl = buf[at];
        std::size_t const length = tl & 0xF;
        if (length > len - at - 1) {
            result = R2S_PROTO_ERR_LENGTH;
            break;
        }
        if (unpack(tl, buf + at + 1, rec->additional[rec->count]))
            ++rec->count;
        at += 1 + length;
    }
    return result;
}

template <class Value>
int addFeature(r2s_proto* rec, std::uint32_t type, Value const* value)
{
    if (rec == nullptr || value == nullptr || rec->count >= R2S_PROTO_MAX_ADDITIONALS)
        return 0;
    r2s_proto_additional& a = rec->additional[rec->count++];
    a.type = type;
    std::memset(&a.value, 0, sizeof a.value);
    std::memcpy(&a.value, value, sizeof *value);
    return 0;
}

}  // namespace

int r2s_proto_init(r2s_proto* rec, std::uint32_t type)
{
    if (rec != nullptr) {
        std::memset(rec, 0, sizeof *rec);
        rec->type = type;
    }
    return 0;
}

int r2s_proto_pack(r2s_proto const* rec, std::uint8_t* buf, std::size_t size)
{
    if (rec == nullptr)
        return R2S_PROTO_ERR_NULL;
    switch (rec->type) {
    case R2S_PROTO_TX: return r2s_proto_pack_tx(rec, buf, size);
    case R2S_PROTO_RX: return r2s_proto_pack_rx(rec, buf, size);
    default: return R2S_PROTO_ERR_TYPE;
    }
}

int r2s_proto_pack_rx(r2s_proto const* rec, std::uint8_t* buf, std::size_t size)
{
    return packPayload(rec, buf, size, true);
}

int r2s_proto_pack_tx(r2s_proto const* rec, std::uint8_t* buf, std::size_t size)
{
    return packPayload(rec, buf, size, false);
}

int r2s_proto_unpack_rx(r2s_proto* rec, std::uint8_t const* buf, std::size_t len)
{
    return unpackPayload(rec, buf, len, true);
}

int r2s_proto_unpack_tx(r2s_proto* rec, std::uint8_t const* buf, std::size_t len)
{
    return unpackPayload(rec, buf, len, false);
}

int cmp_r2s_proto_source(r2s_proto const* a, r2s_proto const* b) { return compareRecordSender(a, b); }

int r2s_proto_set_type(r2s_proto* rec, std::uint32_t type)
{
    if (rec != nullptr)
        rec->type = type;
    return 0;
}

int r2s_proto_set_tx_header(r2s_proto* rec, std::uint32_t ptt, std::uint32_t ptt_id, std::uint32_t ptt_mute,
                            std::uint32_t ptt_summation)
{
    if (rec != nullptr) {
        rec->type = R2S_PROTO_TX;
        rec->header.tx.ptt = ptt;
        rec->header.tx.ptt_id = ptt_id;
        rec->header.tx.ptt_mute = ptt_mute;
        rec->header.tx.ptt_summation = ptt_summation;
    }
    return 0;
}

int r2s_proto_set_rx_header(r2s_proto* rec, std::uint32_t ptt, std::uint32_t squ, std::uint32_t ptt_id,
                            std::uint32_t ptt_mute, std::uint32_t ptt_summation, std::uint32_t sct)
{
    if (rec != nullptr) {
        rec->type = R2S_PROTO_RX;
        rec->header.rx = {ptt, squ, ptt_id, ptt_mute, ptt_summation, sct};
    }
    return 0;
}

int r2s_proto_reset_additionals(r2s_proto* rec)
{
    if (rec != nullptr)
        rec->count = 0;
    return 0;
}

int r2s_proto_add_rx_sqi(r2s_proto* rec, r2s_proto_rx_additional_sqi const* sqi)
{
    return addFeature(rec, R2S_PROTO_SQI, sqi);
}

int r2s_proto_add_rx_sqi(r2s_proto* rec, std::uint32_t quality, std::uint32_t method)
{
    r2s_proto_rx_additional_sqi const sqi{quality, method};
    return r2s_proto_add_rx_sqi(rec, &sqi);
}

int r2s_proto_add_rx_rrc(r2s_proto* rec, r2s_proto_rx_additional_rrc const* rrc)
{
    return addFeature(rec, R2S_PROTO_RRC, rrc);
}

int r2s_proto_add_rx_mam(r2s_proto* rec, r2s_proto_rx_additional_mam const* mam)
{
    return addFeature(rec, R2S_PROTO_MAM, mam);
}

int r2s_proto_add_tx_time_delay(r2s_proto* rec, r2s_proto_tx_additional_climax_time_delay const* delay)
{
    return addFeature(rec, R2S_PROTO_CLIMAX_TIME_DELAY, delay);
}

int r2s_proto_add_tx_rrc(r2s_proto* rec, r2s_proto_tx_additional_rrc const* rrc)
{
    return addFeature(rec, R2S_PROTO_RRC, rrc);
}

int r2s_proto_add_tx_rrm(r2s_proto* rec, r2s_proto_tx_additional_rrm const* rrm)
{
    return addFeature(rec, R2S_PROTO_RRM, rrm);
}
