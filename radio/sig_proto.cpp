#include "radio/sig_proto.h"

#include "radio/codec_sender.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

sig_proto_packet_name const sig_proto_packet_const_name[SIG_PROTO_NAME_TABLE_SIZE] = {
    {GW_FLAG, "GW_FLAG"},
    {GW_ADJUST_CHAN, "GW_ADJUST_CHAN"},
    {GW_FLAG_PTT, "GW_FLAG_PTT"},
    {GW_FLAG_BSS, "GW_FLAG_BSS"},
    {GW_FLAG_RV, "GW_FLAG_RV"},
    {GW_FLAG_SH, "GW_FLAG_SH"},
    {GW_FLAG_PW, "GW_FLAG_PW"},
    {GW_FLAG_RS, "GW_FLAG_RS"},
    {GW_SEL_CALL, "GW_SEL_CALL"},
    {GW_SELECT_RC_CHAN, "GW_SELECT_RC_CHAN"},
    {GW_ADJUST_SQUELSHE, "GW_ADJUST_SQUELSHE"},
    {GW_ADJUST_RTE, "GW_ADJUST_RTE"},
    {GW_ADJUST_STANDBY, "GW_ADJUST_STANDBY"},
    {WM_FLAG, "WM_FLAG"},
    {WM_TRANS, "WM_TRANS"},
    {WM_RADIO_QUALITY, "WM_RADIO_QUALITY"},
    {WM_CHAN, "WM_CHAN"},
    {WM_SEL_CALL_TRANS, "WM_SEL_CALL_TRANS"},
    {WM_SELECT_RC_CHAN, "WM_SELECT_RC_CHAN"},
    {WM_STANDBY, "WM_STANDBY"},
    {-1, ""},
};

namespace {

// The types the queue's records start with.
constexpr std::uint32_t init_sig_proto_type[] = {GW_FLAG,           GW_FLAG_PTT, GW_FLAG_BSS, GW_FLAG_RV, GW_FLAG_SH,
                                                 GW_FLAG_PW,        GW_FLAG_RS,  GW_ADJUST_CHAN, GW_SEL_CALL,
                                                 GW_SELECT_RC_CHAN, GW_ADJUST_STANDBY, WM_FLAG, WM_TRANS, WM_CHAN,
                                                 WM_RADIO_QUALITY,  WM_SEL_CALL_TRANS, WM_STANDBY};

constexpr std::size_t kHeader = 4;

// Octets a type's packet needs before its variable part; 0 for a type that is not defined.
std::size_t fixedLength(std::uint32_t type)
{
    if (sig_proto_is_header_only(type))
        return kHeader;
    switch (type) {
    case GW_SEL_CALL: return 5;
    case GW_SELECT_RC_CHAN:
    case GW_ADJUST_SQUELSHE:
    case GW_ADJUST_RTE:
    case GW_ADJUST_STANDBY:
    case WM_RADIO_QUALITY:
    case WM_SELECT_RC_CHAN:
    case WM_STANDBY: return 8;
    case GW_ADJUST_CHAN:
    case WM_TRANS: return 12;
    case WM_SEL_CALL_TRANS: return 13;
    case WM_CHAN: return 16;
    default: return 0;
    }
}

// Big-endian 32-bit words and floats.
void put32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

std::uint32_t get32(std::uint8_t const* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void putFloat(std::uint8_t* p, float f)
{
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    put32(p, bits);
}

float getFloat(std::uint8_t const* p)
{
    std::uint32_t bits = get32(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// An IPv4 address held in network order (a.b.c.d in memory as a, b, c, d) goes on the wire
// reversed: d, c, b, a, whatever the host's byte order.
void putReversedAddr(std::uint8_t* p, std::uint32_t addr)
{
    std::uint32_t v = ntohl(addr);  // a << 24 | b << 16 | c << 8 | d
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

std::uint32_t getReversedAddr(std::uint8_t const* p)
{
    return htonl(std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24);
}

std::size_t roundUp4(std::size_t n) { return (n + 3) & ~std::size_t(3); }

void packHeader(sig_proto const& r, std::uint8_t* p)
{
    p[0] = std::uint8_t(r.type);
    p[1] = std::uint8_t((r.priority & 0xF) << 4 | (r.flag_t & 1) << 3 | (r.flag_p & 1) << 2 | (r.flag_r & 1) << 1 |
                        (r.flag_s & 1));
    p[2] = std::uint8_t((r.flag_b & 1) << 7 | (r.flag_rv & 1) << 6 | (r.flag_sh & 1) << 5 | (r.flag_pw & 1) << 4 |
                        ((r.status >> 5) & 0xF));
    p[3] = std::uint8_t((r.status & 0x1F) << 3 | (r.flag_c & 3) << 1 | (r.flag_rs & 1));
}

void unpackHeader(std::uint8_t const* p, sig_proto& r)
{
    r.type = p[0];
    r.priority = p[1] >> 4;
    r.flag_t = (p[1] >> 3) & 1;
    r.flag_p = (p[1] >> 2) & 1;
    r.flag_r = (p[1] >> 1) & 1;
    r.flag_s = p[1] & 1;
    r.flag_b = p[2] >> 7;
    r.flag_rv = (p[2] >> 6) & 1;
    r.flag_sh = (p[2] >> 5) & 1;
    r.flag_pw = (p[2] >> 4) & 1;
    r.status = std::uint32_t(p[2] & 0xF) << 5 | p[3] >> 3;
    r.flag_c = (p[3] >> 1) & 3;
    r.flag_rs = p[3] & 1;
}

// The body of rec's type into p (the packet's octet 4 on); the packet length, or -9.
int packBody(sig_proto const& r, std::uint8_t* p, std::size_t size)
{
    auto const& b = r.body;
    std::size_t need = fixedLength(r.type);
    if (r.type == GW_SEL_CALL)
        need = b.gw_sel_call.callerID_length + 12;
    else if (r.type == WM_SEL_CALL_TRANS)
        need = b.wm_sel_call_trans.callerID_length + 20;
    if (need == 0 || need == kHeader)
        return int(kHeader);
    if (size < need)
        return SIG_PROTO_ERR_LENGTH;
    switch (r.type) {
    case GW_ADJUST_CHAN:
        put32(p, b.gw_adjust_chan.id);
        putFloat(p + 4, b.gw_adjust_chan.freq);
        break;
    case GW_SEL_CALL:
        p[0] = b.gw_sel_call.callerID_length;
        std::memcpy(p + 1, b.gw_sel_call.callerID, b.gw_sel_call.callerID_length);
        return int(roundUp4(kHeader + 1 + b.gw_sel_call.callerID_length));
    case GW_SELECT_RC_CHAN:
    case WM_SELECT_RC_CHAN:
        p[0] = b.gw_select_rc_chan.interface;
        p[1] = b.gw_select_rc_chan.channel;
        break;
    case GW_ADJUST_SQUELSHE: p[0] = b.gw_adjust_squelsh.squelsh; break;
    case GW_ADJUST_RTE: p[0] = b.gw_adjust_rte.rte; break;
    case GW_ADJUST_STANDBY: p[0] = b.gw_adjust_standby.state; break;
    case WM_TRANS:
        putReversedAddr(p, b.wm_trans.session_addr);
        put32(p + 4, b.wm_trans.ssrc);
        break;
    case WM_RADIO_QUALITY: putFloat(p, b.wm_radio_quality.radio_quality); break;
    case WM_CHAN:
        put32(p, b.wm_chan.id);
        putFloat(p + 4, b.wm_chan.freq);
        p[8] = b.wm_chan.squelsh;
        p[9] = b.wm_chan.rte;
        break;
    case WM_SEL_CALL_TRANS:
        putReversedAddr(p, b.wm_sel_call_trans.session_addr);
        put32(p + 4, b.wm_sel_call_trans.ssrc);
        p[8] = b.wm_sel_call_trans.callerID_length;
        std::memcpy(p + 9, b.wm_sel_call_trans.callerID, b.wm_sel_call_trans.callerID_length);
        return int(roundUp4(kHeader + 9 + b.wm_sel_call_trans.callerID_length));
    case WM_STANDBY:
        p[0] = b.wm_standby.state;
        p[1] = b.wm_standby.group;
        p[2] = b.wm_standby.receiver_state;
        break;
    }
    return int(fixedLength(r.type));
}

// The body of a known type from the len octets at p (the packet's octet 4 on) into body;
// false when they are too few.
bool unpackBody(std::uint32_t type, std::uint8_t const* p, std::size_t len, decltype(sig_proto::body)& b)
{
    if (len + kHeader < fixedLength(type))
        return false;
    switch (type) {
    case GW_ADJUST_CHAN:
        b.gw_adjust_chan.id = get32(p);
        b.gw_adjust_chan.freq = getFloat(p + 4);
        break;
    case GW_SEL_CALL:
        if (len < 1u + p[0])
            return false;
        b.gw_sel_call.callerID_length = p[0];
        std::memcpy(b.gw_sel_call.callerID, p + 1, p[0]);
        break;
    case GW_SELECT_RC_CHAN:
    case WM_SELECT_RC_CHAN:
        b.gw_select_rc_chan.interface = p[0];
        b.gw_select_rc_chan.channel = p[1];
        break;
    case GW_ADJUST_SQUELSHE: b.gw_adjust_squelsh.squelsh = p[0]; break;
    case GW_ADJUST_RTE: b.gw_adjust_rte.rte = p[0]; break;
    case GW_ADJUST_STANDBY: b.gw_adjust_standby.state = p[0]; break;
    case WM_TRANS:
        b.wm_trans.session_addr = getReversedAddr(p);
        b.wm_trans.ssrc = get32(p + 4);
        break;
    case WM_RADIO_QUALITY: b.wm_radio_quality.radio_quality = getFloat(p); break;
    case WM_CHAN:
        b.wm_chan.id = get32(p);
        b.wm_chan.freq = getFloat(p + 4);
        b.wm_chan.squelsh = p[8];
        b.wm_chan.rte = p[9];
        break;
    case WM_SEL_CALL_TRANS:
        if (len < 9u + p[8])
            return false;
        b.wm_sel_call_trans.session_addr = getReversedAddr(p);
        b.wm_sel_call_trans.ssrc = get32(p + 4);
        b.wm_sel_call_trans.callerID_length = p[8];
        std::memcpy(b.wm_sel_call_trans.callerID, p + 9, p[8]);
        break;
    case WM_STANDBY:
        b.wm_standby.state = p[0];
        b.wm_standby.group = p[1];
        b.wm_standby.receiver_state = p[2];
        break;
    }
    return true;
}

// Bounded text output: what does not fit in size - 1 characters is cut.
struct Text {
    char* buf;
    std::size_t size;
    std::size_t length = 0;

    __attribute__((format(printf, 2, 3))) void printf(char const* format, ...)
    {
        if (length + 1 >= size)
            return;
        va_list args;
        va_start(args, format);
        int n = std::vsnprintf(buf + length, size - length, format, args);
        va_end(args);
        if (n > 0)
            length = std::min(length + std::size_t(n), size - 1);
    }
};

std::string_view addrText(std::uint32_t addr, char (&out)[INET_ADDRSTRLEN])
{
    in_addr a{};
    a.s_addr = addr;
    ::inet_ntop(AF_INET, &a, out, sizeof out);
    return out;
}

void printCallerId(Text& t, std::uint8_t length, std::uint8_t const* id)
{
    for (int i = 0; i < length; ++i)
        t.printf("[%d] : 0x%02X,\n", i, id[i]);
}

void sprintf_gw_adjust_chan(Text& t, sig_proto const& r)
{
    t.printf("gw_adjust_chan.id   : %lu,\n", static_cast<unsigned long>(r.body.gw_adjust_chan.id));
    t.printf("gw_adjust_chan.freq : %4.4f,\n", double(r.body.gw_adjust_chan.freq));
}

void sprintf_gw_selcall(Text& t, sig_proto const& r)
{
    t.printf("gw_sel_call.callerID_length: %d,\n", r.body.gw_sel_call.callerID_length);
    t.printf("gw_sel_call.callerID : \n");
    printCallerId(t, r.body.gw_sel_call.callerID_length, r.body.gw_sel_call.callerID);
}

void sprintf_gw_select_rc_chan(Text& t, sig_proto const& r)
{
    t.printf("gw_select_rc_chan.interface : %d,\n", r.body.gw_select_rc_chan.interface);
    t.printf("gw_select_rc_chan.channel   : %d,\n", r.body.gw_select_rc_chan.channel);
}

void sprintf_gw_adjust_squelsh(Text& t, sig_proto const& r)
{
    t.printf("gw_adjust_squelsh.squelsh   : %d,\n", r.body.gw_adjust_squelsh.squelsh);
}

void sprintf_gw_adjust_rte(Text& t, sig_proto const& r) { t.printf("gw_adjust_rte.rte   : %d,\n", r.body.gw_adjust_rte.rte); }

void sprintf_gw_adjust_standby(Text& t, sig_proto const& r)
{
    t.printf("gw_adjust_standby.state   : %d,\n", r.body.gw_adjust_standby.state);
}

void sprintf_wm_trans(Text& t, sig_proto const& r)
{
    char addr[INET_ADDRSTRLEN];
    t.printf("wm_trans.session_addr : %s,\n", addrText(r.body.wm_trans.session_addr, addr).data());
    t.printf("wm_trans.ssrc         : 0x%08lX,\n", static_cast<unsigned long>(r.body.wm_trans.ssrc));
}

void sprintf_wm_radio_qulity(Text& t, sig_proto const& r)
{
    t.printf("wm_radio_quality.radio_quality : %4.5f,\n", double(r.body.wm_radio_quality.radio_quality));
}

void sprintf_wm_chan(Text& t, sig_proto const& r)
{
    t.printf("wm_chan.id   : %lu,\n", static_cast<unsigned long>(r.body.wm_chan.id));
    t.printf("wm_chan.freq : %4.4f,\n", double(r.body.wm_chan.freq));
    t.printf("wm_chan.squelsh : %d,\n", r.body.wm_chan.squelsh);
    t.printf("wm_chan.rte     : %d,\n", r.body.wm_chan.rte);
}

void sprintf_wm_selcall(Text& t, sig_proto const& r)
{
    auto const& b = r.body.wm_sel_call_trans;
    char addr[INET_ADDRSTRLEN];
    t.printf("wm_sel_call_trans.session_addr : %s,\n", addrText(b.session_addr, addr).data());
    t.printf("wm_sel_call_trans.ssrc         : 0x%08lX,\n", static_cast<unsigned long>(b.ssrc));
    t.printf("wm_sel_call_trans.callerID_length: %d,\n", b.callerID_length);
    t.printf("wm_sel_call_trans.callerID : \n");
    printCallerId(t, b.callerID_length, b.callerID);
}

void sprintf_wm_select_rc_chan(Text& t, sig_proto const& r)
{
    t.printf("wm_select_rc_chan.interface : %d,\n", r.body.wm_select_rc_chan.interface);
    t.printf("wm_select_rc_chan.channel   : %d,\n", r.body.wm_select_rc_chan.channel);
}

void sprintf_wm_standby(Text& t, sig_proto const& r)
{
    t.printf("wm_standby.state           : %d,\n", r.body.wm_standby.state);
    t.printf("wm_standby.group           : %d,\n", r.body.wm_standby.group);
    t.printf("wm_standby.receiver_state  : %d,\n", r.body.wm_standby.receiver_state);
}

struct Printer {
    std::uint32_t type;
    void (*body)(Text&, sig_proto const&);  // null: the base lines only
};

constexpr Printer sig_proto_sprintf_table[] = {
    {0, nullptr},
    {GW_FLAG, nullptr},
    {GW_ADJUST_CHAN, sprintf_gw_adjust_chan},
    {GW_FLAG_PTT, nullptr},
    {GW_FLAG_BSS, nullptr},
    {GW_FLAG_RV, nullptr},
    {GW_FLAG_SH, nullptr},
    {GW_FLAG_PW, nullptr},
    {GW_FLAG_RS, nullptr},
    {GW_SEL_CALL, sprintf_gw_selcall},
    {GW_SELECT_RC_CHAN, sprintf_gw_select_rc_chan},
    {GW_ADJUST_SQUELSHE, sprintf_gw_adjust_squelsh},
    {GW_ADJUST_RTE, sprintf_gw_adjust_rte},
    {GW_ADJUST_STANDBY, sprintf_gw_adjust_standby},
    {WM_FLAG, nullptr},
    {WM_TRANS, sprintf_wm_trans},
    {WM_RADIO_QUALITY, sprintf_wm_radio_qulity},
    {WM_CHAN, sprintf_wm_chan},
    {WM_SEL_CALL_TRANS, sprintf_wm_selcall},
    {WM_SELECT_RC_CHAN, sprintf_wm_select_rc_chan},
    {WM_STANDBY, sprintf_wm_standby},
};

// The lines every printer begins with; false when the text ends after the flags.
bool printBase(Text& t, sig_proto const& r, int mode)
{
    auto type = static_cast<unsigned long>(r.type);
    if (mode & SIG_PROTO_PRINT_TYPE_NAME) {
        if (char const* name = sig_proto_find_name_by_id(sig_proto_packet_const_name, std::int32_t(r.type)))
            t.printf("type      : %s,\n", name);
        else
            t.printf("type      : 0x%08lX,\n", type);
    } else if (mode & SIG_PROTO_PRINT_TYPE_HEX) {
        t.printf("type      : 0x%08lX,\n", type);
    }
    struct {
        char const* format;
        std::uint32_t value;
    } const flags[] = {
        {"flag_t   : %lu,\n", r.flag_t},   {"flag_p   : %lu,\n", r.flag_p},   {"flag_r   : %lu,\n", r.flag_r},
        {"flag_s   : %lu,\n", r.flag_s},   {"flag_b   : %lu,\n", r.flag_b},   {"flag_rv  : %lu,\n", r.flag_rv},
        {"flag_sh  : %lu,\n", r.flag_sh},  {"flag_rs  : %lu,\n", r.flag_rs},  {"flag_pw  : %lu,\n", r.flag_pw},
        {"flag_c   : %lu,\n", r.flag_c},
    };
    for (auto const& f : flags)
        t.printf(f.format, static_cast<unsigned long>(f.value));
    if (mode & SIG_PROTO_PRINT_FLAGS_ONLY)
        return false;
    t.printf("priority : %lu,\n", static_cast<unsigned long>(r.priority));
    t.printf("status   : %lu,\n", static_cast<unsigned long>(r.status));
    return true;
}

int compareTexts(sig_proto const* a, sig_proto const* b, int mode)
{
    if (a == nullptr || b == nullptr)
        return -1;
    char textA[8192];
    char textB[8192];
    int lengthA = sprintf_sig_proto(textA, sizeof textA, a, mode);
    int lengthB = sprintf_sig_proto(textB, sizeof textB, b, mode);
    if (lengthA != lengthB)
        return lengthB - lengthA;
    return std::strncmp(textA, textB, std::size_t(lengthA));
}

}  // namespace

int sig_proto_init(sig_proto* rec)
{
    if (rec != nullptr)
        std::memset(rec, 0, sizeof *rec);
    return 0;
}

int sig_proto_pack(sig_proto const* rec, std::uint8_t* buf, std::size_t size)
{
    if (rec == nullptr || buf == nullptr)
        return 0;
    if (size < kHeader)
        return SIG_PROTO_ERR_LENGTH;
    std::memset(buf, 0, size);
    packHeader(*rec, buf);
    return packBody(*rec, buf + kHeader, size);
}

int sig_proto_unpack(sig_proto* rec, std::uint8_t const* buf, std::size_t len)
{
    if (rec == nullptr || buf == nullptr)
        return SIG_PROTO_ERR_NULL;
    if (len < kHeader)
        return SIG_PROTO_ERR_LENGTH;
    sig_proto header{};
    unpackHeader(buf, header);
    if (fixedLength(header.type) == 0) {
        rec->type = header.type;
        return SIG_PROTO_ERR_TYPE;
    }
    auto body = rec->body;
    if (!unpackBody(header.type, buf + kHeader, len - kHeader, body))
        return SIG_PROTO_ERR_LENGTH;
    header.session_addr = rec->session_addr;
    header.session_ssrc = rec->session_ssrc;
    header.body = body;
    *rec = header;
    return 0;
}

int cmp_sig_proto_header(sig_proto const* a, sig_proto const* b) { return compareRecordSender(a, b); }

int cmp_sig_proto(sig_proto const* a, sig_proto const* b) { return compareTexts(a, b, SIG_PROTO_PRINT_TYPE_HEX); }

int cmp_sig_proto_flags(sig_proto const* a, sig_proto const* b)
{
    return compareTexts(a, b, SIG_PROTO_PRINT_FLAGS_ONLY);
}

int sprintf_sig_proto(char* buf, std::size_t size, sig_proto const* rec, int mode)
{
    if (buf == nullptr || rec == nullptr || size < 1)
        return 0;
    std::memset(buf, 0, size);
    for (Printer const& p : sig_proto_sprintf_table) {
        if (p.type != rec->type)
            continue;
        Text t{buf, size};
        if (printBase(t, *rec, mode) && p.body != nullptr)
            p.body(t, *rec);
        return int(t.length);
    }
    return 0;
}

char const* sig_proto_find_name_by_id(sig_proto_packet_name const* table, std::int32_t id)
{
    if (table == nullptr)
        return nullptr;
    for (std::size_t i = 0; i < SIG_PROTO_NAME_TABLE_SIZE && table[i].id >= 0; ++i)
        if (table[i].id == id)
            return table[i].name;
    return nullptr;
}

std::int32_t sig_proto_find_id_by_name(sig_proto_packet_name const* table, char const* name)
{
    if (table == nullptr || name == nullptr)
        return -1;
    for (std::size_t i = 0; i < SIG_PROTO_NAME_TABLE_SIZE && table[i].id >= 0; ++i)
        if (table[i].name != nullptr && std::strcmp(table[i].name, name) == 0)
            return table[i].id;
    return -1;
}

int sig_proto_is_header_only(std::uint32_t type)
{
    switch (type) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_FLAG_BSS:
    case GW_FLAG_RV:
    case GW_FLAG_SH:
    case GW_FLAG_PW:
    case GW_FLAG_RS:
    case WM_FLAG: return 1;
    default: return 0;
    }
}

int sig_proto_is_ptt_command(sig_proto const* rec)
{
    if (rec == nullptr)
        return 0;
    switch (rec->type) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_SEL_CALL:
    case WM_FLAG:
    case WM_TRANS:
    case WM_SEL_CALL_TRANS: return 1;
    default: return 0;
    }
}

int init_sig_proto_queue(sig_proto_queue* queue)
{
    if (queue == nullptr)
        return 0;
    std::memset(queue, 0, sizeof *queue);
    constexpr std::size_t starting = sizeof init_sig_proto_type / sizeof init_sig_proto_type[0];
    for (std::size_t i = 0; i < 32; ++i)
        queue->records[i].type = i < starting ? init_sig_proto_type[i] : std::uint32_t(-1);
    return 0;
}

namespace {

void setIfGiven(std::uint32_t& field, int value)
{
    if (value >= 0)
        field = std::uint32_t(value);
}

// Clears the caller-id area and copies length octets (a null id: none).
std::uint8_t setCallerId(std::uint8_t (&area)[SIG_PROTO_CALLER_ID_SIZE], std::uint8_t const* id, unsigned char length)
{
    std::memset(area, 0, sizeof area);
    if (id == nullptr)
        return 0;
    std::memcpy(area, id, length);  // length <= 255 < the area
    return length;
}

}  // namespace

int sig_proto_set_base(sig_proto* rec, int priority, int t, int p, int r, int s, int b, int rv, int sh, int pw,
                       int rs, int c, int status)
{
    if (rec == nullptr)
        return 0;
    setIfGiven(rec->priority, priority);
    setIfGiven(rec->flag_t, t);
    setIfGiven(rec->flag_p, p);
    setIfGiven(rec->flag_r, r);
    setIfGiven(rec->flag_s, s);
    setIfGiven(rec->flag_b, b);
    setIfGiven(rec->flag_rv, rv);
    setIfGiven(rec->flag_sh, sh);
    setIfGiven(rec->flag_rs, rs);
    setIfGiven(rec->flag_pw, pw);
    setIfGiven(rec->flag_c, c);
    setIfGiven(rec->status, status);
    return 0;
}

int sig_proto_set_ptt(sig_proto* rec, int p)
{
    if (rec != nullptr)
        setIfGiven(rec->flag_p, p);
    return 0;
}

int sig_proto_set_gw_adjust_chan(sig_proto* rec, unsigned id, float freq)
{
    if (rec != nullptr)
        rec->body.gw_adjust_chan = {id, freq};
    return 0;
}

int sig_proto_set_gw_selcall(sig_proto* rec, std::uint8_t const* callerID, unsigned char length)
{
    if (rec != nullptr) {
        auto& b = rec->body.gw_sel_call;
        b.callerID_length = setCallerId(b.callerID, callerID, length);
    }
    return 0;
}

int sig_proto_set_gw_select_rc_chan(sig_proto* rec, unsigned char interface, unsigned char channel)
{
    if (rec != nullptr)
        rec->body.gw_select_rc_chan = {interface, channel};
    return 0;
}

int sig_proto_set_wm_select_rc_chan(sig_proto* rec, unsigned char interface, unsigned char channel)
{
    if (rec != nullptr)
        rec->body.wm_select_rc_chan = {interface, channel};
    return 0;
}

int sig_proto_set_gw_adjust_squelsh(sig_proto* rec, unsigned char squelsh)
{
    if (rec != nullptr)
        rec->body.gw_adjust_squelsh.squelsh = squelsh;
    return 0;
}

int sig_proto_set_gw_adjust_rte(sig_proto* rec, unsigned char rte)
{
    if (rec != nullptr)
        rec->body.gw_adjust_rte.rte = rte;
    return 0;
}

int sig_proto_set_gw_adjust_standby(sig_proto* rec, unsigned char state)
{
    if (rec != nullptr)
        rec->body.gw_adjust_standby.state = state;
    return 0;
}

int sig_proto_set_wm_radio_quality(sig_proto* rec, float quality)
{
    if (rec != nullptr)
        rec->body.wm_radio_quality.radio_quality = quality;
    return 0;
}

int sig_proto_set_wm_transmite(sig_proto* rec, std::uint32_t addr, unsigned ssrc)
{
    if (rec != nullptr)
        rec->body.wm_trans = {addr, ssrc};
    return 0;
}

int sig_proto_set_wm_selcall_transmite(sig_proto* rec, std::uint32_t addr, unsigned ssrc,
                                       std::uint8_t const* callerID, unsigned char length)
{
    if (rec != nullptr) {
        auto& b = rec->body.wm_sel_call_trans;
        b.session_addr = addr;
        b.ssrc = ssrc;
        b.callerID_length = setCallerId(b.callerID, callerID, length);
    }
    return 0;
}

int sig_proto_set_wm_chan(sig_proto* rec, unsigned id, float freq, unsigned char squelsh, unsigned char rte)
{
    if (rec != nullptr) {
        // Field by field: the padding after rte keeps what the record held (zeros after
        // sig_proto_init), so a record stays comparable as bytes.
        auto& b = rec->body.wm_chan;
        b.id = id;
        b.freq = freq;
        b.squelsh = squelsh;
        b.rte = rte;
    }
    return 0;
}

int sig_proto_set_wm_standby(sig_proto* rec, unsigned char state, unsigned char group, unsigned char receiver_state)
{
    if (rec != nullptr)
        rec->body.wm_standby = {state, group, receiver_state};
    return 0;
}
