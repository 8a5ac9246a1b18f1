#pragma once

#include <cstddef>
#include <cstdint>

// The ZARN radio signalling packet: the payload of an RTP header extension of profile 0x1337.
//
// A 4-octet header (type, priority, flags, status) and a body laid out by the type. Every
// 32-bit integer and float of the body is big-endian on the wire, except `session_addr`
// (types 130 and 133), whose four octets go in the reverse of their order in memory. The
// functions are plain, allocate nothing and never log; the unpacker treats its input as
// hostile and changes the record only on success.

// Packet types: 1-13 the gateway receives from the IP side, 129-135 it sends.
enum sig_proto_type : std::uint32_t {
    GW_FLAG = 1,
    GW_ADJUST_CHAN = 2,
    GW_FLAG_PTT = 3,
    GW_FLAG_BSS = 4,
    GW_FLAG_RV = 5,
    GW_FLAG_SH = 6,
    GW_FLAG_PW = 7,
    GW_FLAG_RS = 8,
    GW_SEL_CALL = 9,
    GW_SELECT_RC_CHAN = 10,
    GW_ADJUST_SQUELSHE = 11,
    GW_ADJUST_RTE = 12,
    GW_ADJUST_STANDBY = 13,
    WM_FLAG = 129,
    WM_TRANS = 130,
    WM_RADIO_QUALITY = 131,
    WM_CHAN = 132,
    WM_SEL_CALL_TRANS = 133,
    WM_SELECT_RC_CHAN = 134,
    WM_STANDBY = 135,
};

// Error results.
constexpr int SIG_PROTO_ERR_NULL = -7;
constexpr int SIG_PROTO_ERR_TYPE = -8;
constexpr int SIG_PROTO_ERR_LENGTH = -9;

// Room for a caller id: 255 octets and a terminating zero.
constexpr std::size_t SIG_PROTO_CALLER_ID_SIZE = 256;

// Bodies, in host order; IPv4 addresses in network order.
struct sig_proto_gw_adjust_chan {
    std::uint32_t id;
    float freq;
};

struct sig_proto_gw_sel_call {
    std::uint8_t callerID_length;
    std::uint8_t callerID[SIG_PROTO_CALLER_ID_SIZE];
};

struct sig_proto_select_rc_chan {
    std::uint8_t interface;
    std::uint8_t channel;
};

struct sig_proto_gw_adjust_squelsh {
    std::uint8_t squelsh;
};

struct sig_proto_gw_adjust_rte {
    std::uint8_t rte;
};

struct sig_proto_gw_adjust_standby {
    std::uint8_t state;
};

struct sig_proto_wm_trans {
    std::uint32_t session_addr;
    std::uint32_t ssrc;
};

struct sig_proto_wm_radio_quality {
    float radio_quality;
};

struct sig_proto_wm_chan {
    std::uint32_t id;
    float freq;
    std::uint8_t squelsh;
    std::uint8_t rte;
};

struct sig_proto_wm_sel_call_trans {
    std::uint32_t session_addr;
    std::uint32_t ssrc;
    std::uint8_t callerID_length;
    std::uint8_t callerID[SIG_PROTO_CALLER_ID_SIZE];
};

struct sig_proto_wm_standby {
    std::uint8_t state;
    std::uint8_t group;
    std::uint8_t receiver_state;
};

// One packet in memory. Words 0 and 1 name the sender as the extension device reports it;
// the codec neither reads nor writes them.
struct sig_proto {
    std::uint32_t session_addr;  // network order
    std::uint32_t session_ssrc;
    std::uint32_t type;
    std::uint32_t priority;  // 4 bits on the wire
    std::uint32_t flag_t;
    std::uint32_t flag_p;
    std::uint32_t flag_r;
    std::uint32_t flag_s;
    std::uint32_t flag_b;
    std::uint32_t flag_rv;
    std::uint32_t flag_sh;
    std::uint32_t flag_rs;
    std::uint32_t flag_pw;
    std::uint32_t flag_c;  // 2 bits on the wire
    std::uint32_t status;  // 9 bits on the wire
    union {
        sig_proto_gw_adjust_chan gw_adjust_chan;
        sig_proto_gw_sel_call gw_sel_call;
        sig_proto_select_rc_chan gw_select_rc_chan;
        sig_proto_gw_adjust_squelsh gw_adjust_squelsh;
        sig_proto_gw_adjust_rte gw_adjust_rte;
        sig_proto_gw_adjust_standby gw_adjust_standby;
        sig_proto_wm_trans wm_trans;
        sig_proto_wm_radio_quality wm_radio_quality;
        sig_proto_wm_chan wm_chan;
        sig_proto_wm_sel_call_trans wm_sel_call_trans;
        sig_proto_select_rc_chan wm_select_rc_chan;
        sig_proto_wm_standby wm_standby;
    } body;
};

static_assert(sizeof(sig_proto_gw_sel_call) == 257);
static_assert(offsetof(sig_proto_wm_chan, squelsh) == 8);
static_assert(offsetof(sig_proto_wm_sel_call_trans, callerID_length) == 8);
static_assert(offsetof(sig_proto_wm_sel_call_trans, callerID) == 9);
static_assert(offsetof(sig_proto, body) == 60);
static_assert(sizeof(sig_proto) == 60 + 268);

// A queue of packets nothing uses beyond its initialisation.
struct sig_proto_queue {
    sig_proto records[32];
    std::uint32_t reserved[32];
};

// One row of the name table: a type and its name; a negative id ends the table.
struct sig_proto_packet_name {
    std::int32_t id;
    char const* name;
};

constexpr std::size_t SIG_PROTO_NAME_TABLE_SIZE = 128;

// The 20 packet types with their names in ascending type order, then {-1, ""}.
extern sig_proto_packet_name const sig_proto_packet_const_name[SIG_PROTO_NAME_TABLE_SIZE];

// Zeroes the record; 0.
int sig_proto_init(sig_proto* rec);
// Writes the packet into buf: its length, 0 for a null record or buffer, or -9 when the
// buffer is too small (a header that fitted is written all the same).
int sig_proto_pack(sig_proto const* rec, std::uint8_t* buf, std::size_t size);
// Decodes len octets into rec: 0, -7 (null), -8 (unknown type, then stored in `type`
// alone) or -9 (too few octets). Octets beyond those the type needs are ignored.
int sig_proto_unpack(sig_proto* rec, std::uint8_t const* buf, std::size_t len);

// 0 for the same type from the same sender; -1 when a pointer is null; otherwise the first
// nonzero difference b minus a of type, session_ssrc and session_addr.
int cmp_sig_proto_header(sig_proto const* a, sig_proto const* b);
// Compare the printed texts: all lines, or the ten flag lines only. 0 when equal.
int cmp_sig_proto(sig_proto const* a, sig_proto const* b);
int cmp_sig_proto_flags(sig_proto const* a, sig_proto const* b);

// Modes of sprintf_sig_proto, or-ed.
constexpr int SIG_PROTO_PRINT_TYPE_HEX = 0x1;   // the type line in hexadecimal
constexpr int SIG_PROTO_PRINT_TYPE_NAME = 0x2;  // the type line by name (wins over 0x1)
constexpr int SIG_PROTO_PRINT_FLAGS_ONLY = 0x4; // stop after the flag lines

// Prints rec as text into buf, never more than size - 1 characters (what does not fit is
// cut): the characters written, 0 for a null argument, a size below 1 or an unknown type.
int sprintf_sig_proto(char* buf, std::size_t size, sig_proto const* rec, int mode);

// The name of a type, or null; the type of a name, or -1. The scans stop at the first
// negative id.
char const* sig_proto_find_name_by_id(sig_proto_packet_name const* table, std::int32_t id);
std::int32_t sig_proto_find_id_by_name(sig_proto_packet_name const* table, char const* name);

// 1 for the types whose packet is the header alone (1, 3-8 and 129), else 0.
int sig_proto_is_header_only(std::uint32_t type);
// 1 for the transmission types 1, 3, 9, 129, 130 and 133, else 0.
int sig_proto_is_ptt_command(sig_proto const* rec);
// Zeroes the queue and gives its first 17 records the start-up types; the rest -1.
int init_sig_proto_queue(sig_proto_queue* queue);

// Setters: each stores only what it names and returns 0 (also for a null record). The base
// setter leaves a field unchanged for a negative argument; note pw before rs here.
int sig_proto_set_base(sig_proto* rec, int priority, int t, int p, int r, int s, int b, int rv, int sh, int pw,
                       int rs, int c, int status);
int sig_proto_set_ptt(sig_proto* rec, int p);
int sig_proto_set_gw_adjust_chan(sig_proto* rec, unsigned id, float freq);
// Clears the caller id, copies length octets (at most 255); a null id stores length 0.
int sig_proto_set_gw_selcall(sig_proto* rec, std::uint8_t const* callerID, unsigned char length);
int sig_proto_set_gw_select_rc_chan(sig_proto* rec, unsigned char interface, unsigned char channel);
int sig_proto_set_wm_select_rc_chan(sig_proto* rec, unsigned char interface, unsigned char channel);
int sig_proto_set_gw_adjust_squelsh(sig_proto* rec, unsigned char squelsh);
int sig_proto_set_gw_adjust_rte(sig_proto* rec, unsigned char rte);
int sig_proto_set_gw_adjust_standby(sig_proto* rec, unsigned char state);
int sig_proto_set_wm_radio_quality(sig_proto* rec, float quality);
// addr in network order.
int sig_proto_set_wm_transmite(sig_proto* rec, std::uint32_t addr, unsigned ssrc);
int sig_proto_set_wm_selcall_transmite(sig_proto* rec, std::uint32_t addr, unsigned ssrc,
                                       std::uint8_t const* callerID, unsigned char length);
int sig_proto_set_wm_chan(sig_proto* rec, unsigned id, float freq, unsigned char squelsh, unsigned char rte);
int sig_proto_set_wm_standby(sig_proto* rec, unsigned char state, unsigned char group, unsigned char receiver_state);
