#include "radio/zarn_radio_state.h"

#include "messages/term.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace RTPSignalling {
namespace {

std::string dotted(in_addr a)
{
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

in_addr addr(char const* text)
{
    in_addr a{};
    a.s_addr = ::inet_addr(text);
    return a;
}

// Every field of a state as text, by name.
std::map<std::string, std::string> fields(ZarnRadioState const& s)
{
    auto n = [](auto v) {
        std::ostringstream os;
        os << v;
        return os.str();
    };
    return {
        {"type", n(s.type)},
        {"priority", n(s.priority)},
        {"flag_p", n(s.flag_p)},
        {"session_addr", dotted(s.session_addr)},
        {"ssrc", n(s.ssrc)},
        {"callerID", s.callerID},
        {"flag_b", n(s.flag_b)},
        {"flag_r", n(s.flag_r)},
        {"flag_t", n(s.flag_t)},
        {"flag_s", n(s.flag_s)},
        {"flag_sh", n(s.flag_sh)},
        {"flag_pw", n(s.flag_pw)},
        {"flag_rv", n(s.flag_rv)},
        {"flag_rs", n(s.flag_rs)},
        {"flag_c", n(s.flag_c)},
        {"status", n(s.status)},
        {"interface", n(s.interface)},
        {"channel", n(s.channel)},
        {"id", n(s.id)},
        {"freq", n(s.freq)},
        {"squelsh", n(s.squelsh)},
        {"rte", n(s.rte)},
        {"standby_state", n(s.standby_state)},
        {"standby_group", n(s.standby_group)},
        {"receiver_state", n(s.receiver_state)},
        {"radio_quality", n(s.radio_quality)},
        {"sender_addr", dotted(s.sender_addr)},
        {"sender_ssrc", n(s.sender_ssrc)},
    };
}

// The fields named in `carried` hold the source's values, every other field the base's.
void expectCarried(ZarnRadioState const& actual, ZarnRadioState const& source, ZarnRadioState const& base,
                   std::string const& carried)
{
    std::istringstream in(carried);
    std::set<std::string> names;
    for (std::string name; in >> name;)
        names.insert(name);
    auto const a = fields(actual), s = fields(source), b = fields(base);
    for (auto const& [name, value] : a)
        EXPECT_EQ(value, names.count(name) ? s.at(name) : b.at(name)) << name;
}

std::string const kHeader = " type priority flag_p flag_b flag_r flag_t flag_s flag_sh flag_pw flag_rv flag_rs flag_c status";
std::string const kSender = " sender_addr sender_ssrc";

// A state whose every field differs from the defaults and fits the wire and the
// controller's ranges.
ZarnRadioState full(std::int32_t type)
{
    ZarnRadioState s;
    s.type = type;
    s.priority = 5;
    s.flag_p = 1;
    s.session_addr = addr("10.0.0.1");
    s.ssrc = 0x1234;
    std::strcpy(s.callerID, "A7");
    s.flag_b = s.flag_r = s.flag_s = s.flag_pw = s.flag_rs = 1;
    s.flag_c = 2;
    s.status = 300;
    s.interface = 3;
    s.channel = 9;
    s.id = 12;
    s.freq = 151.5f;
    s.squelsh = 2;
    s.rte = 5;
    s.standby_state = 1;
    s.standby_group = 7;
    s.receiver_state = 0;
    s.radio_quality = 0.75f;
    s.sender_addr = addr("10.0.0.2");
    s.sender_ssrc = 77;
    return s;
}

TEST(ZarnRadioState, PacketsCarryTheirFields)
{
    struct {
        std::int32_t type;
        ZarnRadioSide side;
        char const* body;
    } const rows[] = {
        {GW_FLAG, ZarnRadioSide::workstation, ""},
        {GW_ADJUST_CHAN, ZarnRadioSide::workstation, "id freq"},
        {GW_FLAG_RS, ZarnRadioSide::workstation, ""},
        {GW_SEL_CALL, ZarnRadioSide::workstation, "callerID"},
        {GW_SELECT_RC_CHAN, ZarnRadioSide::workstation, "interface channel"},
        {GW_ADJUST_SQUELSHE, ZarnRadioSide::workstation, "squelsh"},
        {GW_ADJUST_RTE, ZarnRadioSide::workstation, "rte"},
        {GW_ADJUST_STANDBY, ZarnRadioSide::workstation, "standby_state"},
        {WM_FLAG, ZarnRadioSide::gateway, ""},
        {WM_TRANS, ZarnRadioSide::gateway, "session_addr ssrc"},
        {WM_RADIO_QUALITY, ZarnRadioSide::gateway, "radio_quality"},
        {WM_CHAN, ZarnRadioSide::gateway, "id freq squelsh rte"},
        {WM_SEL_CALL_TRANS, ZarnRadioSide::gateway, "session_addr ssrc callerID"},
        {WM_SELECT_RC_CHAN, ZarnRadioSide::gateway, "interface channel"},
        {WM_STANDBY, ZarnRadioSide::gateway, "standby_state standby_group receiver_state"},
    };
    for (auto const& row : rows) {
        SCOPED_TRACE(row.type);
        ZarnRadioState const source = full(row.type);
        // The codec's round trip of every type is its own test.
        sig_proto rec;
        ASSERT_EQ(EncodeProto(source, rec, row.side), 0);
        ZarnRadioState decoded;
        ASSERT_EQ(DecodeProto(rec, decoded), 0);
        expectCarried(decoded, source, ZarnRadioState(), kHeader + kSender + " " + row.body);
    }

    // Each side encodes only its own types; an undefined type decodes its header alone.
    sig_proto rec;
    EXPECT_EQ(EncodeProto(full(GW_ADJUST_CHAN), rec, ZarnRadioSide::gateway), -1);
    EXPECT_EQ(rec.type, std::uint32_t(GW_ADJUST_CHAN));
    EXPECT_EQ(rec.body.gw_adjust_chan.id, 0u);
    EXPECT_EQ(EncodeProto(full(WM_CHAN), rec, ZarnRadioSide::workstation), -1);
    EXPECT_EQ(EncodeProto(full(0), rec, ZarnRadioSide::gateway), -1);
    ZarnRadioState decoded;
    rec.type = 200;
    EXPECT_EQ(DecodeProto(rec, decoded), -1);
    expectCarried(decoded, full(200), ZarnRadioState(), kHeader + kSender);
}

TEST(ZarnRadioState, StatusRoundTripsThroughTheControllerType)
{
    ZarnRadioState source = full(WM_CHAN);
    TERM::RtpRadioRequest request;
    ASSERT_EQ(EncodeStatusASN(source, request), 0);
    ASSERT_TRUE(request.get_status().zarn_isSelected());
    TERM::ZarnRadioStatus const& status = request.get_status().get_zarn();
    EXPECT_EQ(std::string(status.get_freq().get_frequency()), "151.500000");
    EXPECT_FALSE(request.request_isPresent());

    ZarnRadioState base;
    base.type = GW_SEL_CALL;
    base.session_addr = addr("192.168.1.1");
    base.ssrc = 5;
    std::strcpy(base.callerID, "xyz");
    base.radio_quality = 0.25f;
    base.sender_addr = addr("192.168.1.2");
    base.sender_ssrc = 6;
    ZarnRadioState decoded = base;
    ASSERT_EQ(DecodeASN(status, decoded), 0);
    source.type = 0;
    expectCarried(decoded, source, base,
                  kHeader + " id freq interface channel squelsh rte standby_state standby_group receiver_state");

    // The controller's text forms.
    TERM::ZarnRadioStatus text = status;
    text.set_freq().set_frequency("abc");
    DecodeASN(text, decoded);
    EXPECT_EQ(decoded.freq, 0.0f);
}

TEST(ZarnRadioState, CommandsRoundTripThroughTheControllerType)
{
    std::string const flags = kHeader.substr(5);  // without the type
    struct {
        std::int32_t type;
        char const* alternative;
        std::string carried;
    } const rows[] = {
        {GW_FLAG, "gw-set-flags", flags},
        {GW_ADJUST_CHAN, "gw-set-freq", "id freq"},
        {GW_FLAG_PTT, "gw-set-ptt", flags},
        {GW_FLAG_BSS, "gw-set-bss", flags},
        {GW_FLAG_RV, "gw-set-rv", flags},
        {GW_FLAG_SH, "gw-set-sh", flags},
        {GW_FLAG_PW, "gw-set-pwr", flags},
        {GW_FLAG_RS, "gw-set-resv", flags},
        {GW_SEL_CALL, "gw-set-selcall", flags + " session_addr ssrc callerID"},
        {GW_SELECT_RC_CHAN, "gw-set-remote", "interface channel"},
        {GW_ADJUST_SQUELSHE, "gw-set-squelshe", "squelsh"},
        {GW_ADJUST_RTE, "gw-set-rte", "rte"},
        {GW_ADJUST_STANDBY, "gw-set-standby", "standby_state"},
        {WM_FLAG, "wm-flags", flags},
        {WM_TRANS, "wm-trans", flags + " session_addr ssrc"},
        {WM_RADIO_QUALITY, "wm-quality", "radio_quality"},
        {WM_CHAN, "wm-chan", "id freq squelsh rte"},
        {WM_SEL_CALL_TRANS, "wm-selcall", flags + " session_addr ssrc callerID"},
        {WM_SELECT_RC_CHAN, "wm-remote", "interface channel"},
        {WM_STANDBY, "wm-standby", "standby_state standby_group receiver_state"},
    };
    ZarnRadioState current;
    current.id = 4;
    for (auto const& row : rows) {
        SCOPED_TRACE(row.alternative);
        ZarnRadioState const received = full(row.type);
        TERM::RtpRadioRequest request;
        ASSERT_EQ(EncodeASN(current, received, request), 0);
        EXPECT_EQ(request.get_status().get_zarn().get_freq().get_channel().getValue(), 4);
        ASSERT_TRUE(request.request_isPresent());
        TERM::ZarnRadioModifier const& modifier = request.get_request().get_zarn();
        EXPECT_STREQ(modifier.get_params().getSelectionName(), row.alternative);
        EXPECT_EQ(std::string(modifier.get_addr().get_session_addr()), "10.0.0.2");
        ZarnRadioState decoded;
        ASSERT_EQ(DecodeASN(modifier, decoded), 0);
        expectCarried(decoded, received, ZarnRadioState(), "type" + kSender + " " + row.carried);
    }
}

TEST(ZarnRadioState, CommandTextsAndAnEmptyCommand)
{
    TERM::ZarnRadioModifier modifier;
    modifier.set_addr().set_session_addr("not an address");
    modifier.set_addr().set_session_ssrc(9);
    ZarnRadioState decoded = full(WM_CHAN);
    ZarnRadioState const before = decoded;
    DecodeASN(modifier, decoded);  // no command selected
    ZarnRadioState expected = before;
    expected.type = 0;
    expected.sender_addr = addr("255.255.255.255");
    expected.sender_ssrc = 9;
    expectCarried(decoded, expected, before, "type sender_addr sender_ssrc");

    modifier.set_params().select_wm_quality().set_bss_val("0.75");
    DecodeASN(modifier, decoded);
    EXPECT_EQ(decoded.radio_quality, 0.75f);
    TERM::RtpRadioRequest request;
    EncodeASN(decoded, decoded, request);
    EXPECT_EQ(std::string(request.get_request().get_zarn().get_params().get_wm_quality().get_bss_val()), "0.750000");

    auto& selcall = modifier.set_params().select_wm_selcall();
    selcall.set_cid(std::string(300, 'c'));
    selcall.set_ip("10.9.8.7");
    DecodeASN(modifier, decoded);
    EXPECT_EQ(std::string(decoded.callerID), std::string(255, 'c'));
    EXPECT_EQ(dotted(decoded.session_addr), "10.9.8.7");
    EXPECT_EQ(decoded.type, std::int32_t(WM_SEL_CALL_TRANS));

    // A type with no command leaves the command without an alternative.
    EncodeASN(decoded, full(0), request);
    EXPECT_EQ(request.get_request().get_zarn().get_params().currentSelection(), -1);
}

}  // namespace
}  // namespace RTPSignalling
