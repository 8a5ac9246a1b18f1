#include "radio/r2s_proto.h"

#include "radio/radio_test_support.h"
#include "tests/pcap_writer.h"
#include "tests/tshark.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using radiotest::Bytes;
using radiotest::hex;
using radiotest::pack;


r2s_proto rxRecord(std::uint32_t ptt, std::uint32_t squ, std::uint32_t pttId)
{
    r2s_proto r;
    r2s_proto_init(&r, 0);
    r2s_proto_set_rx_header(&r, ptt, squ, pttId, 0, 0, 0);
    return r;
}

r2s_proto_rx_additional_rrc const kRrcShort{{1, 0, 1, 0, 0, 1, 1, 0}, 0, {0, 0}, {0, 0}};
r2s_proto_rx_additional_rrc const kRrcLong{{0, 1, 0, 0, 0, 0, 0, 1}, 1, {1, 0}, {0x12, 0xFE}};
r2s_proto_rx_additional_mam const kMam{1, 0x7ABCDE, 0, 0x012345, 0xBEEF, 0x0102, 0xFFFF};
r2s_proto_tx_additional_climax_time_delay const kDelay{0x9C};
r2s_proto_tx_additional_rrc const kTxRrc{{0, 0, 0, 0, 1, 1, 1, 1}};
r2s_proto_tx_additional_rrm const kRrm{1, 0x054321};

TEST(R2sProto, RxAndTxPayloadsPackByteExactAndUnpackToTheSameRecord)
{
    r2s_proto rx;
    r2s_proto_init(&rx, 0);
    r2s_proto_set_rx_header(&rx, 4, 1, 63, 1, 0, 1);
    r2s_proto_add_rx_sqi(&rx, 20, 2);
    r2s_proto_add_rx_rrc(&rx, &kRrcShort);
    r2s_proto_add_rx_rrc(&rx, &kRrcLong);
    r2s_proto_add_rx_mam(&rx, &kMam);
    r2s_proto_add_tx_time_delay(&rx, &kDelay);  // a tx feature: not sent on rx

    r2s_proto tx;
    r2s_proto_init(&tx, 0);
    r2s_proto_set_tx_header(&tx, 3, 0x15, 0, 1);
    r2s_proto_add_tx_time_delay(&tx, &kDelay);
    r2s_proto_add_tx_rrc(&tx, &kTxRrc);
    r2s_proto_add_tx_rrm(&tx, &kRrm);
    r2s_proto_add_rx_sqi(&tx, 1, 1);  // an rx feature: not sent on tx

    struct {
        r2s_proto const* rec;
        char const* wire;
        int (*unpack)(r2s_proto*, std::uint8_t const*, std::size_t);
    } const cases[] = {
        {&rx, "9f e9 11 a2 31 a6 34 41 80 12 fe 4c fa bc de 01 23 45 be ef 01 02 ff ff", r2s_proto_unpack_rx},
        {&tx, "65 51 21 9c 31 0f 43 85 43 21", r2s_proto_unpack_tx},
    };
    for (auto const& c : cases) {
        Bytes const bytes = hex(c.wire);
        EXPECT_EQ(pack(*c.rec), bytes);
        r2s_proto back;
        r2s_proto_init(&back, 0);
        back.session_addr = 0x0100007F;
        back.session_ssrc = 7;
        ASSERT_EQ(c.unpack(&back, bytes.data(), bytes.size()), 0);
        EXPECT_EQ(back.session_addr, 0x0100007Fu);
        EXPECT_EQ(back.session_ssrc, 7u);
        back.session_addr = back.session_ssrc = 0;
        r2s_proto expected = *c.rec;
        expected.count -= 1;  // the other direction's feature did not travel
        std::memset(&expected.additional[expected.count], 0, sizeof expected.additional[0]);
        EXPECT_EQ(std::memcmp(&back, &expected, sizeof back), 0) << c.wire;
    }
}

TEST(R2sProto, WireExamples)
{
    struct {
        r2s_proto rec;
        char const* wire;
    } cases[] = {
        {rxRecord(1, 1, 0x2A), "3a 80 00 00"},
        {rxRecord(0, 0, 63), "0f c0 00 00"},
        {rxRecord(0, 0, 0), "00 01 11 a2"},
    };
    r2s_proto_add_rx_sqi(&cases[2].rec, 20, 2);
    for (auto const& c : cases)
        EXPECT_EQ(pack(c.rec), hex(c.wire)) << c.wire;

    // The requirement counts 5 octets for an rrc of either form.
    r2s_proto r = rxRecord(0, 0, 0);
    r2s_proto_add_rx_rrc(&r, &kRrcShort);
    EXPECT_EQ(pack(r, 6).size(), 0u);
    Bytes buf(6);
    EXPECT_EQ(r2s_proto_pack(&r, buf.data(), buf.size()), R2S_PROTO_ERR_LENGTH);
    EXPECT_EQ(pack(r, 7), hex("00 01 31 a6"));

    // An unknown pair is stepped over whole; padding reads as empty features.
    r2s_proto back;
    r2s_proto_init(&back, 0);
    Bytes const mixed = hex("00 01 22 aa bb 11 a2 00 00");
    EXPECT_EQ(r2s_proto_unpack_rx(&back, mixed.data(), mixed.size()), 0);
    ASSERT_EQ(back.count, 1u);
    EXPECT_EQ(back.additional[0].type, std::uint32_t(R2S_PROTO_SQI));
    EXPECT_EQ(back.additional[0].value.sqi.quality, 20u);
    EXPECT_EQ(back.additional[0].value.sqi.method, 2u);

    // X clear: whatever follows is ignored.
    Bytes const plain = hex("3a 80 11 a2");
    EXPECT_EQ(r2s_proto_unpack_rx(&back, plain.data(), plain.size()), 0);
    EXPECT_EQ(back.count, 0u);
    EXPECT_EQ(back.header.rx.ptt_id, 0x2Au);
}

TEST(R2sProto, TruncatedAndOverfullInputs)
{
    r2s_proto back;
    struct {
        char const* wire;
        int result;
        std::uint32_t count;
    } const inputs[] = {
        {"00 01 11 a2 4c 01 02", R2S_PROTO_ERR_LENGTH, 1},  // the MAM announces 12 octets
        {"00 01 11", R2S_PROTO_ERR_LENGTH, 0},
        {"00 01 1f", R2S_PROTO_ERR_LENGTH, 0},
        {"00 01 11 01 11 02 11 03 11 04 11 05 11 06 11 07 11 08 11 09 11 0a 11 0b 11 0c 11 0d 11 0e 11 0f 11 10 11 11 11",
         0, 16},
    };
    for (auto const& in : inputs) {
        Bytes const bytes = hex(in.wire);
        r2s_proto_init(&back, 0);
        EXPECT_EQ(r2s_proto_unpack_rx(&back, bytes.data(), bytes.size()), in.result) << in.wire;
        EXPECT_EQ(back.count, in.count) << in.wire;
        EXPECT_EQ(back.type, std::uint32_t(R2S_PROTO_RX));
    }
    EXPECT_EQ(back.additional[15].value.sqi.method, 0u);  // 0x10: quality 2, method 0
    EXPECT_EQ(back.additional[15].value.sqi.quality, 2u);

    r2s_proto_init(&back, 0);
    back.header.rx.ptt = 5;
    Bytes const one = hex("ff");
    EXPECT_EQ(r2s_proto_unpack_tx(&back, one.data(), one.size()), R2S_PROTO_ERR_LENGTH);
    EXPECT_EQ(back.type, 0u);
    EXPECT_EQ(back.header.rx.ptt, 5u);
    EXPECT_EQ(r2s_proto_unpack_tx(nullptr, one.data(), 2), R2S_PROTO_ERR_NULL);
    EXPECT_EQ(r2s_proto_unpack_rx(&back, nullptr, 2), R2S_PROTO_ERR_NULL);

    // A 17th feature is not added.
    r2s_proto full = rxRecord(0, 0, 0);
    for (std::uint32_t i = 0; i < 17; ++i)
        r2s_proto_add_rx_sqi(&full, i, 0);
    EXPECT_EQ(full.count, 16u);
    EXPECT_EQ(full.additional[15].value.sqi.quality, 15u);
    EXPECT_EQ(pack(full).size(), 2u + 16 * 2);
}

TEST(R2sProto, PackerErrorsAndSourceComparison)
{
    r2s_proto r;
    r2s_proto_init(&r, R2S_PROTO_NONE);
    Bytes buf(16);
    EXPECT_EQ(r2s_proto_pack(&r, buf.data(), buf.size()), R2S_PROTO_ERR_TYPE);
    EXPECT_EQ(r2s_proto_pack(nullptr, buf.data(), buf.size()), R2S_PROTO_ERR_NULL);
    r2s_proto_set_type(&r, R2S_PROTO_TX);
    EXPECT_EQ(r2s_proto_pack(&r, nullptr, 16), 0);
    EXPECT_EQ(r2s_proto_pack(&r, buf.data(), 3), R2S_PROTO_ERR_LENGTH);
    EXPECT_EQ(r2s_proto_pack(&r, buf.data(), 1), R2S_PROTO_ERR_LENGTH);

    r2s_proto_rx_additional_rrc odd = kRrcShort;
    odd.form = 2;
    r = rxRecord(0, 0, 0);
    r2s_proto_add_rx_rrc(&r, &odd);
    EXPECT_EQ(r2s_proto_pack(&r, buf.data(), buf.size()), R2S_PROTO_ERR_TYPE);
    r2s_proto_reset_additionals(&r);
    EXPECT_EQ(pack(r).size(), 4u);

    r2s_proto a = rxRecord(0, 0, 0), b = rxRecord(1, 1, 1);
    EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 0);
    b.session_ssrc = 3;
    EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 3);
    b.type = R2S_PROTO_TX;
    EXPECT_EQ(cmp_r2s_proto_source(&a, &b), -1);
    b = a;
    b.session_addr = 2;
    EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 2);
    EXPECT_EQ(cmp_r2s_proto_source(nullptr, &b), -1);
}

// The payload as the extension driver frames it: an RTP packet with the extension bit, the
// profile 0x0167 and the payload padded to 32-bit words, then a few voice octets.
std::string rtpPacket(Bytes const& payload, std::uint16_t seq)
{
    Bytes ext = payload;
    ext.resize((ext.size() + 3) / 4 * 4);
    std::size_t const words = ext.size() / 4;
    Bytes packet = {0x90, 8, std::uint8_t(seq >> 8), std::uint8_t(seq), 0, 0, 0, 160, 0, 0, 0x12, 0x34,
                    0x01, 0x67, std::uint8_t(words >> 8), std::uint8_t(words)};
    packet.insert(packet.end(), ext.begin(), ext.end());
    packet.insert(packet.end(), 8, 0xD5);
    return std::string(packet.begin(), packet.end());
}

TEST(R2sProtoWire, PayloadsDecodedByTshark)
{
    if (testsupport::findTool("tshark").empty())
        GTEST_SKIP() << "tshark is not installed (scripts/setup installs it): no independent ED-137 dissector";
    r2s_proto sqi = rxRecord(4, 1, 63);
    sqi.header.rx.ptt_mute = 1;
    sqi.header.rx.sct = 1;
    r2s_proto_add_rx_sqi(&sqi, 20, 2);
    r2s_proto_add_rx_sqi(&sqi, 31, 7);
    r2s_proto plain = rxRecord(1, 0, 42);
    r2s_proto features = rxRecord(2, 1, 5);
    features.header.rx.ptt_summation = 1;
    r2s_proto_add_rx_rrc(&features, &kRrcShort);
    r2s_proto_add_rx_mam(&features, &kMam);
    r2s_proto tx;
    r2s_proto_init(&tx, 0);
    r2s_proto_set_tx_header(&tx, 3, 21, 1, 1);
    r2s_proto_add_tx_time_delay(&tx, &kDelay);
    r2s_proto_add_tx_rrc(&tx, &kTxRrc);
    r2s_proto_add_tx_rrm(&tx, &kRrm);

    testsupport::PcapWriter capture(testsupport::PcapWriter::kRawIp);
    std::uint16_t seq = 1;
    for (r2s_proto* r : {&sqi, &plain, &features, &tx})
        capture.addUdp(5004, 5004, rtpPacket(pack(*r), seq++));

    std::string const a = "rtp.ext.ed137a.", b = "rtp.ext.ed137b.ft.";
    std::vector<std::string> const fields = {
        "rtp.ext.profile", a + "ptt_type", a + "squ", a + "ptt_id", a + "pm", a + "ptts", a + "sct", a + "x",
        a + "ft.type", a + "ft.len",
        // The signal quality: the 5-bit value is the quality index, the 3-bit one its method.
        a + "ft.sqi.qidx", a + "ft.sqi.qidx-ml",
        // The delay's octet read as a mode bit and a 7-bit value.
        a + "ft.climax_delay.mode", a + "ft.climax_delay.absolute_value",
        b + "rrc.mstxf1", b + "rrc.msrxf1", b + "rrc.murxf2",
        b + "climax_ddc.mam_tqg", b + "climax_ddc.mam_t1", b + "climax_ddc.mam_nmr", b + "climax_ddc.mam_t2",
        b + "climax_ddc.mam_tsd", b + "climax_ddc.mam_tj1", b + "climax_ddc.mam_tid",
        b + "climax_ddc.rmm_tqv", b + "climax_ddc.rmm_t1"};
    using Row = std::vector<std::string>;
    std::vector<Row> const expected = {
        {"0x0167", "4", "1", "63", "1", "0", "1", "1", "0x01,0x01", "1,1", "20,31", "2,7", "", "", "", "", "", "", "", "",
         "", "", "", "", "", ""},
        {"0x0167", "1", "0", "42", "0", "0", "0", "0", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
         ""},
        {"0x0167", "2", "1", "5", "0", "1", "0", "1", "0x03,0x04", "1,12", "", "", "", "", "1", "0", "0", "1",
         "8043742", "0", "74565", "48879", "258", "65535", "", ""},
        {"0x0167", "3", "0", "21", "1", "1", "0", "1", "0x02,0x03,0x04", "1,1,3", "", "", "1", "28", "0", "0", "1", "",
         "", "", "", "", "", "", "1", "344865"},
    };
    std::vector<Row> rows;
    std::string error;
    ASSERT_TRUE(testsupport::tsharkFields(capture.bytes(), fields, rows, error, {"-d", "udp.port==5004,rtp"})) << error;
    EXPECT_EQ(rows, expected);
}

}  // namespace
