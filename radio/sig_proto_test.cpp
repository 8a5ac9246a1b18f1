#include "radio/sig_proto.h"

#include "radio/radio_test_support.h"
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

using radiotest::Bytes;
using radiotest::hex;
using radiotest::pack;

std::uint32_t addr(char const* dotted) { return ::inet_addr(dotted); }


std::uint8_t const* id(char const* text) { return reinterpret_cast<std::uint8_t const*>(text); }

// A record of the type with the common header: priority 9, t r b sh rs set, c 2, status 0x155
// (octets 9a aa ad after the type).
sig_proto record(std::uint32_t type)
{
    sig_proto r;
    sig_proto_init(&r);
    r.type = type;
    sig_proto_set_base(&r, 9, 1, 0, 1, 0, 1, 0, 1, 0, 1, 2, 0x155);
    switch (type) {
    case GW_ADJUST_CHAN: sig_proto_set_gw_adjust_chan(&r, 7, 151.5f); break;
    case GW_SEL_CALL: sig_proto_set_gw_selcall(&r, id("AB1"), 3); break;
    case GW_SELECT_RC_CHAN: sig_proto_set_gw_select_rc_chan(&r, 1, 2); break;
    case GW_ADJUST_SQUELSHE: sig_proto_set_gw_adjust_squelsh(&r, 2); break;
    case GW_ADJUST_RTE: sig_proto_set_gw_adjust_rte(&r, 5); break;
    case GW_ADJUST_STANDBY: sig_proto_set_gw_adjust_standby(&r, 1); break;
    case WM_TRANS: sig_proto_set_wm_transmite(&r, addr("10.1.2.3"), 0x11223344); break;
    case WM_RADIO_QUALITY: sig_proto_set_wm_radio_quality(&r, 0.75f); break;
    case WM_CHAN: sig_proto_set_wm_chan(&r, 5, 151.5f, 1, 3); break;
    case WM_SEL_CALL_TRANS: sig_proto_set_wm_selcall_transmite(&r, addr("192.168.0.9"), 0xCAFEBABE, id("4711"), 4); break;
    case WM_SELECT_RC_CHAN: sig_proto_set_wm_select_rc_chan(&r, 3, 4); break;
    case WM_STANDBY: sig_proto_set_wm_standby(&r, 1, 7, 0); break;
    }
    return r;
}

struct Packet {
    std::uint32_t type;
    char const* wire;    // after the type octet and the common header octets
    char const* body;    // the printer's body lines
};

Packet const kPackets[] = {
    {GW_FLAG, "", ""},
    {GW_ADJUST_CHAN, "00 00 00 07 43 17 80 00", "gw_adjust_chan.id   : 7,\ngw_adjust_chan.freq : 151.5000,\n"},
    {GW_FLAG_PTT, "", ""},
    {GW_FLAG_BSS, "", ""},
    {GW_FLAG_RV, "", ""},
    {GW_FLAG_SH, "", ""},
    {GW_FLAG_PW, "", ""},
    {GW_FLAG_RS, "", ""},
    {GW_SEL_CALL, "03 41 42 31",
     "gw_sel_call.callerID_length: 3,\ngw_sel_call.callerID : \n[0] : 0x41,\n[1] : 0x42,\n[2] : 0x31,\n"},
    {GW_SELECT_RC_CHAN, "01 02 00 00", "gw_select_rc_chan.interface : 1,\ngw_select_rc_chan.channel   : 2,\n"},
    {GW_ADJUST_SQUELSHE, "02 00 00 00", "gw_adjust_squelsh.squelsh   : 2,\n"},
    {GW_ADJUST_RTE, "05 00 00 00", "gw_adjust_rte.rte   : 5,\n"},
    {GW_ADJUST_STANDBY, "01 00 00 00", "gw_adjust_standby.state   : 1,\n"},
    {WM_FLAG, "", ""},
    {WM_TRANS, "03 02 01 0a 11 22 33 44", "wm_trans.session_addr : 10.1.2.3,\nwm_trans.ssrc         : 0x11223344,\n"},
    {WM_RADIO_QUALITY, "3f 40 00 00", "wm_radio_quality.radio_quality : 0.75000,\n"},
    {WM_CHAN, "00 00 00 05 43 17 80 00 01 03 00 00",
     "wm_chan.id   : 5,\nwm_chan.freq : 151.5000,\nwm_chan.squelsh : 1,\nwm_chan.rte     : 3,\n"},
    {WM_SEL_CALL_TRANS, "09 00 a8 c0 ca fe ba be 04 34 37 31 31 00 00 00",
     "wm_sel_call_trans.session_addr : 192.168.0.9,\nwm_sel_call_trans.ssrc         : 0xCAFEBABE,\n"
     "wm_sel_call_trans.callerID_length: 4,\nwm_sel_call_trans.callerID : \n"
     "[0] : 0x34,\n[1] : 0x37,\n[2] : 0x31,\n[3] : 0x31,\n"},
    {WM_SELECT_RC_CHAN, "03 04 00 00", "wm_select_rc_chan.interface : 3,\nwm_select_rc_chan.channel   : 4,\n"},
    {WM_STANDBY, "01 07 00 00",
     "wm_standby.state           : 1,\nwm_standby.group           : 7,\nwm_standby.receiver_state  : 0,\n"},
};

Bytes wire(Packet const& p)
{
    std::ostringstream text;
    text << std::hex << p.type << " 9a aa ad " << p.wire;
    return hex(text.str());
}

TEST(SigProto, EveryTypePacksByteExactAndRoundTripsLeavingTheSenderWords)
{
    for (Packet const& p : kPackets) {
        SCOPED_TRACE(p.type);
        sig_proto const r = record(p.type);
        EXPECT_EQ(pack(r), wire(p));

        Bytes const bytes = wire(p);
        sig_proto back;
        sig_proto_init(&back);
        back.session_addr = addr("172.16.0.1");
        back.session_ssrc = 99;
        ASSERT_EQ(sig_proto_unpack(&back, bytes.data(), bytes.size()), 0);
        EXPECT_EQ(back.session_addr, addr("172.16.0.1"));
        EXPECT_EQ(back.session_ssrc, 99u);
        back.session_addr = back.session_ssrc = 0;
        EXPECT_EQ(std::memcmp(&back, &r, sizeof r), 0);
    }
}

TEST(SigProto, PrintersWriteTheirLines)
{
    std::string const base = "type      : WM_CHAN,\nflag_t   : 1,\nflag_p   : 0,\nflag_r   : 1,\nflag_s   : 0,\n"
                             "flag_b   : 1,\nflag_rv  : 0,\nflag_sh  : 1,\nflag_rs  : 1,\nflag_pw  : 0,\nflag_c   : 2,\n"
                             "priority : 9,\nstatus   : 341,\n";
    char text[2048];
    sig_proto const chan = record(WM_CHAN);
    int const length = sprintf_sig_proto(text, sizeof text, &chan, SIG_PROTO_PRINT_TYPE_NAME);
    EXPECT_EQ(std::string(text), base + kPackets[16].body);
    EXPECT_EQ(std::size_t(length), std::strlen(text));

    for (Packet const& p : kPackets) {
        SCOPED_TRACE(p.type);
        sig_proto const r = record(p.type);
        int n = sprintf_sig_proto(text, sizeof text, &r, 0);
        std::string const all(text);
        EXPECT_EQ(std::size_t(n), all.size());
        EXPECT_EQ(all.substr(all.find("status   : 341,\n") + 16), p.body);
    }

    struct {
        std::uint32_t type;
        int mode;
        std::size_t size;
        char const* expected;  // the beginning of the text; null: nothing printed
    } const cases[] = {
        {WM_CHAN, SIG_PROTO_PRINT_TYPE_HEX, 2048, "type      : 0x00000084,\nflag_t   : 1,\n"},
        {WM_CHAN, 0, 2048, "flag_t   : 1,\n"},
        {0, SIG_PROTO_PRINT_TYPE_NAME, 2048, "type      : 0x00000000,\nflag_t"},
        {200, SIG_PROTO_PRINT_TYPE_NAME, 2048, nullptr},
        {WM_CHAN, SIG_PROTO_PRINT_TYPE_HEX, 20, "type      : 0x00000"},
        {WM_CHAN, 0, 1, ""},
    };
    for (auto const& c : cases) {
        sig_proto const r = record(c.type);
        int n = sprintf_sig_proto(text, c.size, &r, c.mode);
        if (c.expected == nullptr) {
            EXPECT_EQ(n, 0);
            continue;
        }
        EXPECT_EQ(std::string(text).rfind(c.expected, 0), 0u) << text;
        EXPECT_LE(std::size_t(n), c.size - 1);
    }
    sig_proto const flag = record(GW_FLAG_PTT);
    sprintf_sig_proto(text, sizeof text, &flag, SIG_PROTO_PRINT_FLAGS_ONLY);
    EXPECT_EQ(std::string(text), base.substr(base.find("flag_t"), base.find("priority") - base.find("flag_t")));
    EXPECT_EQ(sprintf_sig_proto(nullptr, 10, &flag, 0), 0);
    EXPECT_EQ(sprintf_sig_proto(text, 0, &flag, 0), 0);
}

TEST(SigProto, WireExamples)
{
    // A caller id of 3, 4 and 0 octets.
    struct {
        char const* id;
        std::size_t length;
    } const selcalls[] = {{"abc", 8}, {"abcd", 12}, {"", 8}};
    for (auto const& s : selcalls) {
        sig_proto r;
        sig_proto_init(&r);
        r.type = GW_SEL_CALL;
        sig_proto_set_gw_selcall(&r, id(s.id), static_cast<unsigned char>(std::strlen(s.id)));
        EXPECT_EQ(pack(r).size(), s.length) << s.id;
    }

    // The status bits over octets 2 and 3.
    sig_proto r;
    sig_proto_init(&r);
    r.type = GW_FLAG;
    r.status = 0x1FF;
    EXPECT_EQ(pack(r), hex("01 00 0f f8"));
    r.status = 0x20;
    EXPECT_EQ(pack(r), hex("01 00 01 00"));

    // Undefined types pack their header alone and do not unpack.
    for (std::uint32_t type : {0u, 200u}) {
        r.type = type;
        r.status = 0;
        Bytes const bytes = pack(r);
        EXPECT_EQ(bytes.size(), 4u);
        sig_proto back;
        sig_proto_init(&back);
        back.flag_p = 1;
        EXPECT_EQ(sig_proto_unpack(&back, bytes.data(), bytes.size()), SIG_PROTO_ERR_TYPE);
        EXPECT_EQ(back.type, type);
        EXPECT_EQ(back.flag_p, 1u);
    }
}

TEST(SigProto, ShortInputsAndBuffersAreRefused)
{
    Bytes chan = wire(kPackets[16]);
    chan.resize(20);
    sig_proto back;
    sig_proto_init(&back);
    back.priority = 3;
    sig_proto const before = back;
    struct {
        Bytes bytes;
        int result;
    } const inputs[] = {
        {Bytes(chan.begin(), chan.begin() + 15), SIG_PROTO_ERR_LENGTH},
        {hex("09 00 00 00 05 41 42 43"), SIG_PROTO_ERR_LENGTH},   // five octets announced, three arrived
        {hex("85 00 00 00 09 00 a8 c0 ca fe ba be"), SIG_PROTO_ERR_LENGTH},
        {hex("82 00 00"), SIG_PROTO_ERR_LENGTH},
    };
    for (auto const& in : inputs) {
        EXPECT_EQ(sig_proto_unpack(&back, in.bytes.data(), in.bytes.size()), in.result);
        EXPECT_EQ(std::memcmp(&back, &before, sizeof back), 0);
    }
    EXPECT_EQ(sig_proto_unpack(&back, chan.data(), chan.size()), 0);  // the 4 extra octets are ignored
    EXPECT_EQ(back.body.wm_chan.id, 5u);
    EXPECT_EQ(sig_proto_unpack(nullptr, chan.data(), chan.size()), SIG_PROTO_ERR_NULL);
    EXPECT_EQ(sig_proto_unpack(&back, nullptr, 4), SIG_PROTO_ERR_NULL);

    struct {
        std::uint32_t type;
        std::size_t size;
    } const tooSmall[] = {{WM_CHAN, 15}, {WM_TRANS, 11}, {GW_SEL_CALL, 14}, {WM_SEL_CALL_TRANS, 23}, {GW_FLAG, 3}};
    for (auto const& t : tooSmall) {
        sig_proto const r = record(t.type);
        Bytes buf(t.size);
        EXPECT_EQ(sig_proto_pack(&r, buf.data(), buf.size()), SIG_PROTO_ERR_LENGTH) << t.type;
    }
    sig_proto const r = record(WM_CHAN);
    Bytes buf(16);
    EXPECT_EQ(sig_proto_pack(nullptr, buf.data(), buf.size()), 0);
    EXPECT_EQ(sig_proto_pack(&r, nullptr, 16), 0);
}

TEST(SigProto, ComparisonsAndNames)
{
    sig_proto a = record(WM_TRANS), b = record(WM_TRANS);
    b.flag_p = 1;
    EXPECT_EQ(cmp_sig_proto_header(&a, &b), 0);
    EXPECT_NE(cmp_sig_proto_flags(&a, &b), 0);
    b = a;
    b.body.wm_trans.ssrc = 1;
    EXPECT_EQ(cmp_sig_proto_flags(&a, &b), 0);
    EXPECT_NE(cmp_sig_proto(&a, &b), 0);
    b = a;
    b.session_ssrc = 5;
    EXPECT_EQ(cmp_sig_proto_header(&a, &b), 5);
    EXPECT_EQ(cmp_sig_proto(&a, &b), 0);
    b = record(WM_FLAG);
    EXPECT_EQ(cmp_sig_proto_header(&a, &b), -1);
    EXPECT_LT(cmp_sig_proto(&a, &b), 0);  // the shorter text second
    EXPECT_EQ(cmp_sig_proto_header(&a, nullptr), -1);

    EXPECT_EQ(sig_proto_find_id_by_name(sig_proto_packet_const_name, "WM_STANDBY"), 135);
    EXPECT_EQ(sig_proto_find_id_by_name(sig_proto_packet_const_name, "WM_STANDBYX"), -1);
    EXPECT_EQ(sig_proto_find_id_by_name(nullptr, "WM_STANDBY"), -1);
    EXPECT_STREQ(sig_proto_find_name_by_id(sig_proto_packet_const_name, 2), "GW_ADJUST_CHAN");
    EXPECT_EQ(sig_proto_find_name_by_id(sig_proto_packet_const_name, 14), nullptr);
    EXPECT_EQ(sig_proto_find_name_by_id(sig_proto_packet_const_name, -1), nullptr);

    int ptt = 0;
    for (Packet const& p : kPackets) {
        sig_proto const r = record(p.type);
        ptt += sig_proto_is_ptt_command(&r);
    }
    EXPECT_EQ(ptt, 6);
}

TEST(SigProto, SettersStoreOnlyWhatTheyName)
{
    sig_proto r;
    sig_proto_init(&r);
    sig_proto_set_base(&r, 3, 1, 1, 1, 1, 1, 1, 1, 1, 0, 3, 7);
    sig_proto_set_base(&r, -1, -1, 0, -1, -1, -1, -1, -1, 0, 1, -1, -1);
    EXPECT_EQ(r.priority, 3u);
    EXPECT_EQ(r.flag_p, 0u);
    EXPECT_EQ(r.flag_pw, 0u);
    EXPECT_EQ(r.flag_rs, 1u);
    EXPECT_EQ(r.flag_c, 3u);
    EXPECT_EQ(r.status, 7u);
    sig_proto_set_ptt(&r, -1);
    EXPECT_EQ(r.flag_p, 0u);

    sig_proto_set_gw_selcall(&r, id("0123456789"), 10);
    sig_proto_set_gw_selcall(&r, id("xy"), 2);
    EXPECT_STREQ(reinterpret_cast<char const*>(r.body.gw_sel_call.callerID), "xy");
    sig_proto_set_wm_selcall_transmite(&r, addr("1.2.3.4"), 1, nullptr, 9);
    EXPECT_EQ(r.body.wm_sel_call_trans.callerID_length, 0);
    EXPECT_EQ(r.body.wm_sel_call_trans.callerID[0], 0);
    EXPECT_EQ(r.type, 0u);

    sig_proto_queue queue;
    init_sig_proto_queue(&queue);
    EXPECT_EQ(queue.records[7].type, std::uint32_t(GW_ADJUST_CHAN));
    EXPECT_EQ(queue.records[16].type, std::uint32_t(WM_STANDBY));
    EXPECT_EQ(queue.records[17].type, 0xFFFFFFFFu);
}

}  // namespace
