// How the types of TERM, HSP, BASE, ACP and ZARNGW code in aligned PER: enumerations by
// value (not by position) in 0 to their largest value, values without a name, values the
// coder refuses, and extension values and alternatives of a later version.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "messages/acp.h"
#include "messages/base.h"
#include "messages/hsp.h"
#include "messages/term.h"
#include "messages/wire_test_support.h"
#include "messages/zarngw.h"
#include "messages/zgcp.h"

namespace {

using MessagesTest::decodeHex;
using MessagesTest::encode;
using MessagesTest::encodedHex;

// Encodes the value to exactly `hex` and decodes `hex` to an equal value of its class.
template <class T>
T expectWire(T const& value, std::string const& hex) {
    EXPECT_EQ(hex, encodedHex(value));
    T decoded;
    EXPECT_TRUE(decodeHex(hex, decoded)) << hex;
    EXPECT_TRUE(decoded == value) << hex;
    return decoded;
}

TEST(TermWire, PayloadIsCodedByValueInSevenBits) {
    EXPECT_TRUE(expectWire(TERM::Payload(TERM::Payload::ptR2S), "F6").is_ptR2S());
    EXPECT_TRUE(expectWire(TERM::Payload(TERM::Payload::ptG711_Ulaw), "02").is_ptG711_Ulaw());
    TERM::Payload unnamed;
    unnamed.setFromInt(57);
    TERM::Payload const decoded = expectWire(unnamed, "72");
    EXPECT_EQ(57, decoded.asInt());
    EXPECT_TRUE(decoded.getName().empty());
    EXPECT_EQ("57", decoded.asValueNotation());
    unnamed.setFromInt(124);
    EXPECT_EQ("no encoding", encodedHex(unnamed)) << "above the largest value of a type without extension";
}

TEST(TermWire, RadioStandbyNotUseIsRefusedAndFailsTheWholeMessage) {
    EXPECT_TRUE(expectWire(TERM::RadioStandby(TERM::RadioStandby::active), "00").is_active());
    EXPECT_TRUE(expectWire(TERM::RadioStandby(TERM::RadioStandby::standby), "80").is_standby());
    EXPECT_EQ("no encoding", encodedHex(TERM::RadioStandby(TERM::RadioStandby::not_use)));

    // The same value deep inside a controller message: the message cannot be sent.
    ZGCP::Message message;
    TERM::ZarnRadioModifierParams& params =
        message.set_pdu().select_command().select_ioctl().select_rtpExt().select_zarn().set_params();
    params.select_gw_set_standby().set_state(TERM::RadioStandby::standby);
    std::vector<char> out;
    EXPECT_TRUE(encode(message, out));
    params.select_gw_set_standby().set_state(TERM::RadioStandby::not_use);
    out.clear();
    EXPECT_FALSE(encode(message, out));
    EXPECT_TRUE(out.empty());
}

TEST(TermWire, DnameOutsideItsSizeIsRefused) {
    TERM::RtpParams params;
    params.set_dname(std::string(64, 'a'));
    std::vector<char> out;
    EXPECT_TRUE(encode(params, out));
    params.set_dname(std::string(65, 'a'));
    EXPECT_FALSE(encode(params, out));
    params.set_dname("");
    EXPECT_FALSE(encode(params, out));
}

TEST(TermWire, TermParamsExtensionAdditionsAreOptional) {
    // Extension bit, six clear optional bits; 12 extension bits with mute (10) and pd (11)
    // set; each present addition as an open type.
    TERM::TermParams params;
    params.set_mute(true);
    params.set_pd(5);
    TERM::TermParams const decoded = expectWire(params, "80 2C 00 C0 01 80 02 01 05");
    EXPECT_TRUE(decoded.mute_isPresent());
    EXPECT_TRUE(decoded.get_mute());
    EXPECT_EQ(5, decoded.get_pd().getValue());
    EXPECT_FALSE(decoded.traceLevel_isPresent());
    EXPECT_FALSE(decoded.radio_command_isPresent());
    EXPECT_FALSE(decoded.type_isPresent());

    params.omit_mute();
    params.omit_pd();
    EXPECT_FALSE(expectWire(params, "00").pd_isPresent()) << "no addition present: no extension part";
}

TEST(TermWire, BssQualityTakesItsSignedRange) {
    struct Case {
        int quality;
        char const* octets;
    };
    for (Case const& c : {Case{-128, "04 00"}, Case{-1, "04 7F"}, Case{127, "04 FF"}, Case{128, "no encoding"},
                          Case{-129, "no encoding"}}) {
        TERM::ED137RadioRecorderParams params;
        params.set_bss_quality(static_cast<unsigned>(c.quality));
        if (std::string(c.octets) == "no encoding") {
            EXPECT_EQ(c.octets, encodedHex(params)) << c.quality;
            continue;
        }
        EXPECT_EQ(c.quality, static_cast<int>(expectWire(params, c.octets).get_bss_quality().getValue()));
    }
}

TEST(HspWire, StandbyCommandCarriesItsValueNotItsPosition) {
    HSP::StandbyCommand const standby = expectWire(HSP::StandbyCommand(HSP::StandbyCommand::standby), "20");
    EXPECT_EQ(8, standby.asInt());
    EXPECT_TRUE(standby.is_standby());
    EXPECT_TRUE(expectWire(HSP::StandbyCommand(HSP::StandbyCommand::active), "40").is_active());
}

TEST(BaseWire, CounterSendsLowBeforeHigh) {
    BASE::INTEGER64Bits count;  // 4294967295: high 0, low -1
    count.set_low(-1);
    count.set_high(0);
    EXPECT_EQ(-1, expectWire(count, "01 FF 01 00").get_low().getValue());
    count.set_low(0);  // 2^32: high 1, low 0
    count.set_high(1);
    BASE::INTEGER64Bits const decoded = expectWire(count, "01 00 01 01");
    EXPECT_EQ(0, decoded.get_low().getValue());
    EXPECT_EQ(1, decoded.get_high().getValue());
}

TEST(AcpWire, ExtensionAlternativeSetsTheExtensionBit) {
    ACP::AcpCommand command;
    command.select_channel_block();
    std::vector<char> out;
    ASSERT_TRUE(encode(command, out));
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(0x80, static_cast<unsigned char>(out[0]) & 0x80);
    ACP::AcpCommand decoded;
    ASSERT_TRUE(decodeHex(MessagesTest::hex(out), decoded));
    EXPECT_TRUE(decoded.channel_block_isSelected());
    EXPECT_EQ(6, decoded.currentSelection());
}

TEST(ZarngwWire, MessageIdentifiersAreCodedByValue) {
    ZARNGW::ProtoZarnMsgID id;
    id.setFromInt(0x1007);  // between gw-remote-keep-alive and gw-rad-ptt-on: no name
    ZARNGW::ProtoZarnMsgID decoded = expectWire(id, "00 10 07");
    EXPECT_EQ(0x1007, decoded.asInt());
    EXPECT_TRUE(decoded.getName().empty());

    EXPECT_TRUE(expectWire(ZARNGW::ProtoZarnMsgID(ZARNGW::ProtoZarnMsgID::ali_server_p1), "00 33 00")
                    .is_ali_server_p1());
    // Above 13056 the value goes into the extension part.
    id.setFromInt(13057);
    EXPECT_EQ(13057, expectWire(id, "C0 02 33 02 33 01").asInt());
}

TEST(ZarngwWire, EnumerationValuesAndChoiceIndexesDiffer) {
    // Gain identifiers take a whole octet because of fake = 255.
    EXPECT_TRUE(expectWire(ZARNGW::ProtoZarnAnalogGainIDV1(ZARNGW::ProtoZarnAnalogGainIDV1::spi), "00 0C").is_spi());
    EXPECT_TRUE(expectWire(ZARNGW::ProtoZarnAnalogGainIDV1(ZARNGW::ProtoZarnAnalogGainIDV1::fake), "00 FF").is_fake());
    EXPECT_TRUE(expectWire(ZARNGW::ProtoZarnAnalogGainIDV2(ZARNGW::ProtoZarnAnalogGainIDV2::min), "00 0B").is_rdoc1());

    // bssScore is the value 64 in 0..66 but the payload alternative 1.
    EXPECT_TRUE(expectWire(ZARNGW::ProtoZarnDigitalRadioCommand(ZARNGW::ProtoZarnDigitalRadioCommand::bssScore), "40")
                    .is_bssScore());
    EXPECT_EQ(1, ZARNGW::ProtoZarnPacketPayloadDigitalRadCommandPayload::bssScore::id);
    // rs485Cmd is the value 128 in 0..130 but the payload alternative 0.
    EXPECT_TRUE(expectWire(ZARNGW::ProtoZarnAnalogRadioCommand(ZARNGW::ProtoZarnAnalogRadioCommand::rs485Cmd), "40 00")
                    .is_rs485Cmd());
    EXPECT_EQ(0, ZARNGW::ProtoZarnPacketPayloadAnalogRadCommandPayload::rs485Cmd::id);

    ZARNGW::ProtoZarnGwRadioState state;
    state.setFromInt(3);
    EXPECT_TRUE(expectWire(state, "18").getName().empty());
    EXPECT_TRUE(expectWire(ZARNGW::ProtoZarnGwRadioState(ZARNGW::ProtoZarnGwRadioState::selCh), "70").is_selCh());

    EXPECT_TRUE(expectWire(ZARNGW::ProtoZarnPacketP1ClientCommand(ZARNGW::ProtoZarnPacketP1ClientCommand::p1_cln_load_end),
                           "00 10 04")
                    .is_p1_cln_load_end());
    EXPECT_TRUE(expectWire(ZARNGW::ProtoZarnPacketP1ServerCommand(ZARNGW::ProtoZarnPacketP1ServerCommand::p1_srv_ack),
                           "00 20 01")
                    .is_p1_srv_ack());
    EXPECT_TRUE(expectWire(ZARNGW::ProtoZarnPacketP1ServerCommand(ZARNGW::ProtoZarnPacketP1ServerCommand::p1_any_packet),
                           "00 00 00")
                    .is_p1_any_packet());
}

TEST(ZarngwWire, OptionalFieldsAndListsMayBeEmpty) {
    ZARNGW::ProtoZarnPacketP1SrvAckPayload const payload = expectWire(ZARNGW::ProtoZarnPacketP1SrvAckPayload(), "00");
    EXPECT_FALSE(payload.p1_file_start_isPresent());
    EXPECT_FALSE(payload.p1_file_load_isPresent());

    ZARNGW::ProtoZarnPacketPayloadRadioAnalogV1 radio;  // empty channel, gain and pattern lists
    ZARNGW::ProtoZarnPacketPayloadRadioAnalogV1 decoded;
    ASSERT_TRUE(decodeHex(encodedHex(radio), decoded));
    EXPECT_TRUE(decoded == radio);
}

TEST(ZarngwWire, UnknownSetConfigurationAlternativeDecodesWithNothingKnownSelected) {
    // Extension bit, addition 0 (alternative 9 of nine roots), one octet of contents.
    ZARNGW::ProtoZarnPacketPayloadGWSetConfig config;
    ASSERT_TRUE(decodeHex("80 01 00", config));
    EXPECT_TRUE(config.isUnknownSelection());
    EXPECT_FALSE(config.radio_analog_v1_isSelected());
    EXPECT_FALSE(config.ggs_digital_v2_isSelected());
}

TEST(ZarngwWire, EnumerationsNoPacketCarriesPrintByValue) {
    // Several names share a value: a value prints as the first name declared with it.
    EXPECT_EQ("ggsChannelsCount",
              ZARNGW::ProtoZarnCountersNSizes(ZARNGW::ProtoZarnCountersNSizes::digital2WireLineCount).asValueNotation());
    EXPECT_EQ("hardware", ZARNGW::ProtoZarnGgsError(ZARNGW::ProtoZarnGgsError::hardware).asValueNotation());
    EXPECT_EQ("unexpected_command",
              ZARNGW::ProtoZarnDconError(ZARNGW::ProtoZarnDconError::unexpected_command).asValueNotation());
    EXPECT_EQ("default-value",
              ZARNGW::ProtoZarnAnalogGainV1(ZARNGW::ProtoZarnAnalogGainV1::default_value).asValueNotation());
    ZARNGW::ProtoZarnAnalogGainV2 gain;
    EXPECT_TRUE(gain.setFromValueNotation("size"));
    EXPECT_EQ(4, gain.asInt());
}

TEST(ZarngwWire, PacketWithAnUnnamedIdentifierTravelsInAControllerMessage) {
    ZARNGW::ProtoZarnPacket packet;
    packet.set_msgLength(12);
    packet.ref_msgID().setFromInt(0x1007);
    packet.set_srcAddr(ZARNGW::ProtoZarnAddress::dli);
    packet.set_payload().select_gw_get_id();
    ZGCP::Message message;
    message.set_pdu().select_command().select_protoZarn().set_packets().push_back(packet);
    ZGCP::Message decoded;
    ASSERT_TRUE(decodeHex(encodedHex(message), decoded));
    EXPECT_TRUE(decoded == message);
    auto const& packets = decoded.get_pdu().get_command().get_protoZarn().get_packets();
    ASSERT_EQ(1u, packets.size());
    EXPECT_EQ(0x1007, packets[0].get_msgID().asInt());
    EXPECT_TRUE(packets[0].get_srcAddr().is_dli());
    EXPECT_TRUE(packets[0].get_payload().gw_get_id_isSelected());
}

}  // namespace
