#pragma once

#include <cstddef>
#include <cstdint>

// The ED-137 radio header extension payload (profile 0x0167; the extension driver frames it
// into RTP): a 2-octet header, then, when its X bit is set, additional features of one
// type/length octet (type in bits 7-4, value octets in bits 3-0) and a value each.
//
// The directions are named from the radio: a tx payload carries PTT towards the radio, an
// rx payload the radio's squelch and signal quality back. Only the features listed below
// are decoded; any other is stepped over. The functions are plain, allocate nothing and
// never log; the unpackers treat their input as hostile.

enum r2s_proto_type : std::uint32_t {
    R2S_PROTO_NONE = 0,
    R2S_PROTO_TX = 1,
    R2S_PROTO_RX = 2,
};

// Feature types.
enum r2s_proto_feature : std::uint32_t {
    R2S_PROTO_SQI = 1,                // rx
    R2S_PROTO_CLIMAX_TIME_DELAY = 2,  // tx
    R2S_PROTO_RRC = 3,                // rx and tx
    R2S_PROTO_MAM = 4,                // rx
    R2S_PROTO_RRM = 4,                // tx
};

constexpr int R2S_PROTO_ERR_NULL = -7;
constexpr int R2S_PROTO_ERR_TYPE = -8;
constexpr int R2S_PROTO_ERR_LENGTH = -9;

constexpr std::size_t R2S_PROTO_MAX_ADDITIONALS = 16;

// Signal quality (1 octet): the 5-bit value in bits 7-3 is the quality index, the 3-bit
// value in bits 2-0 the method by which it was measured.
struct r2s_proto_rx_additional_sqi {
    std::uint32_t quality;  // 5 bits
    std::uint32_t method;   // 3 bits
};

// Radio remote control, rx: one octet of eight bits (bit 7 first), or in its extended form
// (form 1, 4 octets) also two bits (octet 2 bits 7 and 6) and two octets.
struct r2s_proto_rx_additional_rrc {
    std::uint32_t bit[8];
    std::uint32_t form;  // 0: 1 octet, 1: 4 octets
    std::uint32_t ext_bit[2];
    std::uint32_t ext_octet[2];
};

// Measurement answer (12 octets): two flags each with a 23-bit value, then three 16-bit
// values.
struct r2s_proto_rx_additional_mam {
    std::uint32_t flag1;
    std::uint32_t value1;  // 23 bits
    std::uint32_t flag2;
    std::uint32_t value2;  // 23 bits
    std::uint32_t value3;  // 16 bits
    std::uint32_t value4;  // 16 bits
    std::uint32_t value5;  // 16 bits
};

struct r2s_proto_tx_additional_climax_time_delay {
    std::uint32_t delay;  // 8 bits
};

struct r2s_proto_tx_additional_rrc {
    std::uint32_t bit[8];
};

// Measurement request (3 octets): a flag and a 23-bit value.
struct r2s_proto_tx_additional_rrm {
    std::uint32_t flag;
    std::uint32_t value;  // 23 bits
};

// One feature slot: its type and up to 13 value words.
struct r2s_proto_additional {
    std::uint32_t type;
    union {
        r2s_proto_rx_additional_sqi sqi;
        r2s_proto_rx_additional_rrc rx_rrc;
        r2s_proto_rx_additional_mam mam;
        r2s_proto_tx_additional_climax_time_delay time_delay;
        r2s_proto_tx_additional_rrc tx_rrc;
        r2s_proto_tx_additional_rrm rrm;
        std::uint32_t word[13];
    } value;
};

struct r2s_proto_rx_header {
    std::uint32_t ptt;  // 3 bits
    std::uint32_t squ;
    std::uint32_t ptt_id;  // 6 bits
    std::uint32_t ptt_mute;
    std::uint32_t ptt_summation;
    std::uint32_t sct;
};

struct r2s_proto_tx_header {
    std::uint32_t ptt;
    std::uint32_t ptt_id;
    std::uint32_t ptt_mute;
    std::uint32_t ptt_summation;
    std::uint32_t unused[2];
};

// One payload in memory. Words 0 and 1 name the sender as the extension device reports it;
// the codec neither reads nor writes them.
struct r2s_proto {
    std::uint32_t session_addr;  // network order
    std::uint32_t session_ssrc;
    std::uint32_t type;  // r2s_proto_type
    union {
        r2s_proto_rx_header rx;
        r2s_proto_tx_header tx;
    } header;
    std::uint32_t count;  // features held, 0 to 16
    r2s_proto_additional additional[R2S_PROTO_MAX_ADDITIONALS];
};

static_assert(sizeof(r2s_proto_rx_additional_rrc) == 13 * 4);
static_assert(sizeof(r2s_proto_additional) == 14 * 4);
static_assert(offsetof(r2s_proto, count) == 9 * 4);
static_assert(sizeof(r2s_proto) == (10 + 16 * 14) * 4);

// Zeroes the record and sets its type; 0.
int r2s_proto_init(r2s_proto* rec, std::uint32_t type);
// Packs by type (1 tx, 2 rx): the length, -7 for a null record, -8 for another type, or the
// packer's error.
int r2s_proto_pack(r2s_proto const* rec, std::uint8_t* buf, std::size_t size);
// The length, 0 for a null record or buffer, -8 (an rrc form other than 0 or 1) or -9 (the
// buffer is too small).
int r2s_proto_pack_rx(r2s_proto const* rec, std::uint8_t* buf, std::size_t size);
int r2s_proto_pack_tx(r2s_proto const* rec, std::uint8_t* buf, std::size_t size);
// Decodes len octets into rec, which the caller has initialised: 0, -7 (null) or -9 (a
// truncated payload; the header and the features before the error are kept).
int r2s_proto_unpack_rx(r2s_proto* rec, std::uint8_t const* buf, std::size_t len);
int r2s_proto_unpack_tx(r2s_proto* rec, std::uint8_t const* buf, std::size_t len);

// 0 for the same direction from the same sender; -1 when a pointer is null; otherwise the
// first nonzero difference b minus a of type, session_ssrc and session_addr.
int cmp_r2s_proto_source(r2s_proto const* a, r2s_proto const* b);

// Setters: each returns 0 and does nothing for a null record.
int r2s_proto_set_type(r2s_proto* rec, std::uint32_t type);
int r2s_proto_set_tx_header(r2s_proto* rec, std::uint32_t ptt, std::uint32_t ptt_id, std::uint32_t ptt_mute,
                            std::uint32_t ptt_summation);
int r2s_proto_set_rx_header(r2s_proto* rec, std::uint32_t ptt, std::uint32_t squ, std::uint32_t ptt_id,
                            std::uint32_t ptt_mute, std::uint32_t ptt_summation, std::uint32_t sct);
int r2s_proto_reset_additionals(r2s_proto* rec);
// Each appends one feature unless 16 are held or the value is null.
int r2s_proto_add_rx_sqi(r2s_proto* rec, r2s_proto_rx_additional_sqi const* sqi);
int r2s_proto_add_rx_sqi(r2s_proto* rec, std::uint32_t quality, std::uint32_t method);
int r2s_proto_add_rx_rrc(r2s_proto* rec, r2s_proto_rx_additional_rrc const* rrc);
int r2s_proto_add_rx_mam(r2s_proto* rec, r2s_proto_rx_additional_mam const* mam);
int r2s_proto_add_tx_time_delay(r2s_proto* rec, r2s_proto_tx_additional_climax_time_delay const* delay);
int r2s_proto_add_tx_rrc(r2s_proto* rec, r2s_proto_tx_additional_rrc const* rrc);
int r2s_proto_add_tx_rrm(r2s_proto* rec, r2s_proto_tx_additional_rrm const* rrm);
