// The controller and agent messages on the wire: the aligned PER octets of the protocol's
// examples, each built through the typed accessors, encoded, decoded and read back, and
// the cases that fix what a peer of another version sees.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "messages/mon.h"
#include "messages/wire_test_support.h"
#include "messages/zarngw.h"
#include "messages/zgcp.h"

namespace {

using MessagesTest::decodeHex;
using MessagesTest::encode;
using MessagesTest::encodedHex;

ZGCP::Message command(ZGCP::Command const& body) {
    ZGCP::Message message;
    message.set_pdu().select_command(body);
    return message;
}

ZGCP::Message ping() { return command(ZGCP::Command(ZGCP::Command::ping::id, ASN1::Null())); }

// Encodes the message to exactly `hex`, and decodes `hex` to a message equal to it.
void expectWire(ZGCP::Message const& message, std::string const& hex, ZGCP::Message& decoded) {
    EXPECT_EQ(hex, encodedHex(message));
    ASSERT_TRUE(decodeHex(hex, decoded)) << hex;
    EXPECT_TRUE(decoded == message) << decoded.asValueNotation();
}

TEST(ZgcpWire, PingWithoutSequenceNumberOrSlot) {
    ZGCP::Message decoded;
    expectWire(ping(), "06 00", decoded);
    EXPECT_FALSE(decoded.seq_isPresent());
    EXPECT_FALSE(decoded.slot_isPresent());
    ASSERT_TRUE(decoded.get_pdu().command_isSelected());
    EXPECT_TRUE(decoded.get_pdu().get_command().ping_isSelected());
}

TEST(ZgcpWire, SequenceNumbersTakeALengthAndTheirOctets) {
    ZGCP::Message message = ping();
    message.set_seq(1);
    ZGCP::Message decoded;
    expectWire(message, "80 01 01 18", decoded);
    ASSERT_TRUE(decoded.seq_isPresent());
    EXPECT_EQ(1, decoded.get_seq().getValue());
    EXPECT_TRUE(decoded.get_pdu().get_command().ping_isSelected());

    message.set_seq(300);
    expectWire(message, "80 02 01 2C 18", decoded);
    EXPECT_EQ(300, decoded.get_seq().getValue());
}

TEST(ZgcpWire, SuccessAndErrorResponses) {
    ZGCP::Message success;
    success.set_seq(1);
    success.set_pdu().select_response().select_success();
    ZGCP::Message decoded;
    expectWire(success, "80 01 01 40", decoded);
    ASSERT_TRUE(decoded.get_pdu().response_isSelected());
    EXPECT_TRUE(decoded.get_pdu().get_response().success_isSelected());

    ZGCP::Message error;
    error.set_seq(1);
    error.set_pdu().select_response().select_error(ZGCP::ErrorCause::unexpectedMsgType);
    expectWire(error, "80 01 01 64", decoded);
    ASSERT_TRUE(decoded.get_pdu().get_response().error_isSelected());
    EXPECT_TRUE(decoded.get_pdu().get_response().get_error().is_unexpectedMsgType());
}

TEST(ZgcpWire, SlotNumberTakesTwoAlignedOctets) {
    ZGCP::Message destroy = command(ZGCP::Command(ZGCP::Command::destroy::id, ASN1::Null()));
    destroy.set_slot(5);
    ZGCP::Message decoded;
    expectWire(destroy, "40 00 05 0A", decoded);
    ASSERT_TRUE(decoded.slot_isPresent());
    EXPECT_EQ(5u, decoded.get_slot().getValue());
    EXPECT_TRUE(decoded.get_pdu().get_command().destroy_isSelected());

    ZGCP::Message message = ping();
    message.set_seq(5);
    message.set_slot(3);
    expectWire(message, "C0 01 05 00 03 18", decoded);
    EXPECT_EQ(5, decoded.get_seq().getValue());
    EXPECT_EQ(3u, decoded.get_slot().getValue());
}

TEST(ZgcpWire, DtmfDoneTravelsAsAnExtensionAlternative) {
    ZGCP::TonecEvent event;
    event.set_timestamp(0);
    event.set_event().select_dtmfDone();
    ZGCP::Message message;
    message.set_slot(3);
    message.set_pdu().select_signal(ZGCP::Signal(ZGCP::Signal::tonec::id, event));
    ZGCP::Message decoded;
    expectWire(message, "40 00 03 81 01 00 80 01 00", decoded);
    ASSERT_TRUE(decoded.get_pdu().signal_isSelected());
    ASSERT_TRUE(decoded.get_pdu().get_signal().tonec_isSelected());
    ZGCP::TonecEvent const& received = decoded.get_pdu().get_signal().get_tonec();
    EXPECT_EQ(0, received.get_timestamp().getValue());
    EXPECT_TRUE(received.get_event().dtmfDone_isSelected());

    // A root alternative leaves the extension bit clear.
    event.set_event().select_dtmf(5);
    message.set_pdu().select_signal(ZGCP::Signal(ZGCP::Signal::tonec::id, event));
    expectWire(message, "40 00 03 81 01 00 00 A0", decoded);
    EXPECT_EQ(5u, decoded.get_pdu().get_signal().get_tonec().get_event().get_dtmf().getValue());
}

TEST(ZgcpWire, ProtoZarnWithAnEmptyPacketList) {
    ZGCP::Command body;
    body.select_protoZarn();
    ZGCP::Message decoded;
    expectWire(command(body), "07 00 00", decoded);
    ASSERT_TRUE(decoded.get_pdu().get_command().protoZarn_isSelected());
    EXPECT_TRUE(decoded.get_pdu().get_command().get_protoZarn().get_packets().empty());
}

TEST(ZgcpWire, SetOfIsCodedAsSequenceOf) {
    ZGCP::Command body;
    auto& masks = body.select_ioctl().select_activateTonec();
    masks.push_back(ZGCP::TonecMask(ZGCP::TonecMask::dtmf::id, ASN1::Null()));
    masks.push_back(ZGCP::TonecMask(ZGCP::TonecMask::r1::id, ASN1::Null()));
    ZGCP::Message decoded;
    expectWire(command(body), "04 82 02 40", decoded);
    auto const& received = decoded.get_pdu().get_command().get_ioctl().get_activateTonec();
    ASSERT_EQ(2u, received.size());
    EXPECT_TRUE(received[0].dtmf_isSelected());
    EXPECT_TRUE(received[1].r1_isSelected());

    // The same elements in a SEQUENCE OF, in the order held, give the same octets.
    ASN1::SEQUENCE_OF<ZGCP::TonecMask> sequence;
    for (ZGCP::TonecMask const& mask : masks) sequence.push_back(mask);
    std::vector<char> setOctets, sequenceOctets;
    ASSERT_TRUE(encode(masks, setOctets));
    ASSERT_TRUE(encode(sequence, sequenceOctets));
    EXPECT_EQ(sequenceOctets, setOctets);
    EXPECT_EQ("02 40", MessagesTest::hex(setOctets));
}

TEST(ZgcpWire, ErrorCauseOfALaterVersionIsAnUnknownExtensionValue) {
    ZGCP::Message error;
    error.set_seq(1);
    error.set_pdu().select_response().select_error().setFromInt(13);
    ZGCP::Message decoded;
    expectWire(error, "80 01 01 71 DA", decoded);
    ZGCP::ErrorCause const& cause = decoded.get_pdu().get_response().get_error();
    EXPECT_EQ(13, cause.asInt());
    EXPECT_TRUE(cause.getName().empty());
    EXPECT_FALSE(cause.is_destroyInProgress());
    EXPECT_FALSE(cause.isStrictlyValid());
}

TEST(ZgcpWire, CommandOfALaterVersionDecodesAsAnAlternativeNoServiceKnows) {
    // Extension bit, addition 0 (alternative 15), then its open type of one octet.
    for (std::string hex : {"08 00 01 00", "08 10 02 FF FF"}) {
        ZGCP::Message decoded;
        ASSERT_TRUE(decodeHex(hex, decoded)) << hex;
        ASSERT_TRUE(decoded.get_pdu().command_isSelected());
        ZGCP::Command const& body = decoded.get_pdu().get_command();
        EXPECT_TRUE(body.isUnknownSelection()) << hex;
        EXPECT_FALSE(body.ping_isSelected());
        EXPECT_FALSE(body.query_isSelected());
        EXPECT_FALSE(body.protoZarn_isSelected());
    }
}

TEST(ZgcpWire, RangesAreCheckedWhenTheMessageIsEncoded) {
    ZGCP::Message message = ping();
    message.set_slot(2000);  // the accessor takes it
    EXPECT_EQ(2000u, message.get_slot().getValue());
    std::vector<char> out{'x'};
    EXPECT_FALSE(encode(message, out));
    EXPECT_EQ(std::vector<char>{'x'}, out) << "a failed encoding appends nothing";

    message.set_slot(1023);
    EXPECT_TRUE(encode(message, out));

    // A fresh message has nothing selected in its pdu: it cannot be encoded.
    EXPECT_EQ("no encoding", encodedHex(ZGCP::Message()));
}

TEST(ZgcpWire, OmittedFieldIsLeftOut) {
    ZGCP::Message message = ping();
    message.set_seq(5);
    message.omit_seq();
    EXPECT_EQ("06 00", encodedHex(message));

    ZGCP::Message vad;
    ZGCP::VADEvent event;
    event.set_vad_rx(true);
    vad.set_pdu().select_signal(ZGCP::Signal(ZGCP::Signal::vad::id, event));
    ZGCP::Message decoded;
    ASSERT_TRUE(decodeHex(encodedHex(vad), decoded));
    ZGCP::VADEvent const& received = decoded.get_pdu().get_signal().get_vad();
    EXPECT_TRUE(received.vad_rx_isPresent());
    EXPECT_FALSE(received.vad_tx_isPresent());
}

TEST(MonWire, PingIsOneOctet) {
    MON::Message message;
    message.set_pdu().select_command(MON::Command(MON::Command::ping::id, ASN1::Null()));
    EXPECT_EQ("18", encodedHex(message));
    MON::Message decoded;
    ASSERT_TRUE(decodeHex("18", decoded));
    EXPECT_TRUE(decoded == message);
    ASSERT_TRUE(decoded.get_pdu().command_isSelected());
    EXPECT_TRUE(decoded.get_pdu().get_command().ping_isSelected());
}

TEST(MonWire, EmptySetRequestListIsAValidEncoding) {
    MON::Message message;
    message.set_pdu().select_command().select_snmp_set();
    MON::Message decoded;
    ASSERT_TRUE(decodeHex(encodedHex(message), decoded));
    EXPECT_TRUE(decoded.get_pdu().get_command().get_snmp_set().get_commands().empty());
}

}  // namespace
