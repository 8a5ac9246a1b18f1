// Decoding aligned PER: the inverse of every form, the limits, extensions the type does not
// know, and input that is cut short or hostile.

#include "asn1/per_decoder.h"

#include <climits>
#include <memory>

#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/per_test_support.h"
#include "asn1/zgcp_fixture.h"

namespace {

using per_test::decode;
using per_test::encode;
using per_test::octets;

TEST(PerDecoderMessages, ControllerExamples) {
    ZGCP::Message message;
    ASSERT_TRUE(decode("C0 01 05 00 03 18", message));
    EXPECT_EQ(5, message.get_seq().getValue());
    EXPECT_EQ(3u, message.get_slot().getValue());
    EXPECT_TRUE(message.get_pdu().get_command().ping_isSelected());

    ZGCP::Message bare;
    ASSERT_TRUE(decode("06 00", bare));
    EXPECT_FALSE(bare.seq_isPresent());
    EXPECT_FALSE(bare.slot_isPresent());
    EXPECT_TRUE(bare.get_pdu().get_command().ping_isSelected());

    ZGCP::Message error;
    ASSERT_TRUE(decode("80 02 01 2C 64", error));
    EXPECT_EQ(300, error.get_seq().getValue());
    EXPECT_TRUE(error.get_pdu().get_response().get_error().is_unexpectedMsgType());

    ZGCP::Message destroy;
    ASSERT_TRUE(decode("40 00 05 0A", destroy));
    EXPECT_EQ(5u, destroy.get_slot().getValue());
    EXPECT_TRUE(destroy.get_pdu().get_command().destroy_isSelected());
}

TEST(PerDecoderMessages, EveryTruncationFails) {
    for (char const* example : {"C0 01 05 00 03 18", "06 00", "80 01 01 40", "40 00 05 0A", "80 02 01 2C 18"}) {
        std::vector<char> const whole = octets(example);
        for (std::size_t size = 0; size < whole.size(); ++size) {
            std::vector<char> const part(whole.begin(), whole.begin() + size);
            ZGCP::Message message;
            ASN1::PERDecoder decoder(part.data(), part.data() + part.size());
            EXPECT_FALSE(message.accept(decoder)) << example << " cut to " << size << " octets";
        }
    }
}

TEST(PerDecoderMessages, AnAlternativeNumberTheTypeDoesNotHaveFails) {
    ZGCP::Message message;
    EXPECT_FALSE(decode("07 80", message)) << "root index 15 of a 15-alternative command";
}

TEST(PerDecoderNumbers, ConstrainedWholeNumbersReadBack) {
    struct Case {
        unsigned value, lb, ub;
    };
    Case const cases[] = {{5, 5, 5},           {1, 0, 1},         {254, 0, 254},       {255, 0, 255},
                          {256, 0, 256},       {65535, 0, 65535}, {65536, 0, 65536},   {0, 0, 65536},
                          {0, 0, 4294967295u}, {4294967295u, 0, 4294967295u},          {70000, 1, 100000},
                          {static_cast<unsigned>(-128), static_cast<unsigned>(-128), 127}};
    for (Case const& c : cases) {
        std::vector<char> output;
        ASN1::PEREncoder encoder(output);
        encoder.encodeSingleBit(true);
        ASSERT_TRUE(encoder.encodeUnsigned(c.value, c.lb, c.ub));
        encoder.encodeSingleBit(true);
        ASN1::PERDecoder decoder(output.data(), output.data() + output.size());
        unsigned value = 0;
        EXPECT_EQ(1, decoder.decodeSingleBit());
        EXPECT_EQ(0, decoder.decodeUnsigned(c.lb, c.ub, value));
        EXPECT_EQ(c.value, value) << c.lb << ".." << c.ub;
        EXPECT_EQ(1, decoder.decodeSingleBit()) << "the field ends where it should";
    }
}

TEST(PerDecoderNumbers, UnconstrainedIntegersReadBack) {
    for (int value : {0, 127, 128, -1, -128, -129, 8388607, INT_MAX, INT_MIN}) {
        ASN1::INTEGER decoded;
        ASSERT_TRUE(decode(encode(ASN1::INTEGER(value)), decoded));
        EXPECT_EQ(value, decoded.getValue());
    }
    ASN1::INTEGER decoded;
    EXPECT_FALSE(decode("05 01 02 03 04 05", decoded)) << "at most four octets";
    EXPECT_FALSE(decode("02 01", decoded)) << "octets missing";
    EXPECT_TRUE(decode("00", decoded));
    EXPECT_EQ(0, decoded.getValue());
}

// Negative values of INTEGERs whose form is two's complement read back as themselves,
// whatever the constraint.
TEST(PerDecoderNumbers, NegativeValuesOfBoundedIntegersReadBack) {
    static ASN1::ConstrainedInfo const atLeastFive = {{&ASN1::INTEGER::create, 2}, ASN1::PartiallyConstrained, 5,
                                                      4294967295u};
    ASN1::INTEGER value(&atLeastFive);
    ASSERT_TRUE(decode("01 FB", value));
    EXPECT_EQ(-5, value.getValue());

    static ASN1::ConstrainedInfo const extensible = {{&ASN1::INTEGER::create, 2}, ASN1::ExtendableConstraint, -10, 10};
    ASN1::INTEGER outside(&extensible);
    ASSERT_TRUE(decode("80 01 F5", outside));
    EXPECT_EQ(-11, outside.getValue());
    ASN1::INTEGER inside(&extensible);
    ASSERT_TRUE(decode("14", inside));
    EXPECT_EQ(-5, inside.getValue());

    Fixture::Kinds::Small small;
    ASSERT_TRUE(decode("00", small));
    EXPECT_EQ(-128, small.INTEGER::getValue());
}

TEST(PerDecoderNumbers, Lengths) {
    for (unsigned length : {0u, 127u, 128u, 16383u}) {
        std::vector<char> output;
        ASN1::PEREncoder encoder(output);
        ASSERT_TRUE(encoder.encodeLength(length, 0, 2147483647u));
        ASN1::PERDecoder decoder(output.data(), output.data() + output.size());
        unsigned read = 1;
        EXPECT_EQ(0, decoder.decodeLength(0, 2147483647u, read));
        EXPECT_EQ(length, read);
        EXPECT_TRUE(decoder.atEnd());
    }
    std::vector<char> const fragmented = octets("C0 01");
    ASN1::PERDecoder decoder(fragmented.data(), fragmented.data() + fragmented.size());
    unsigned read = 0;
    EXPECT_EQ(-1, decoder.decodeLength(0, 2147483647u, read)) << "the fragmented form";
}

TEST(PerDecoderNumbers, NormallySmallNumbers) {
    for (unsigned value : {0u, 63u, 64u, 255u, 256u, 16777216u, 4294967295u}) {
        std::vector<char> output;
        ASN1::PEREncoder encoder(output);
        encoder.encodeSmallUnsigned(value);
        ASN1::PERDecoder decoder(output.data(), output.data() + output.size());
        unsigned read = 0;
        EXPECT_TRUE(decoder.decodeSmallUnsigned(read));
        EXPECT_EQ(value, read);
    }
    std::vector<char> const tooLong = octets("80 05 01 02 03 04 05");
    ASN1::PERDecoder decoder(tooLong.data(), tooLong.data() + tooLong.size());
    unsigned read = 0;
    EXPECT_FALSE(decoder.decodeSmallUnsigned(read));
}

TEST(PerDecoderEnumerations, RootAndExtensionForms) {
    HSP::StandbyCommand command;
    ASSERT_TRUE(decode("40", command));
    EXPECT_TRUE(command.is_active());

    ZGCP::ErrorCause cause;
    ASSERT_TRUE(decode("8E D0", cause));
    EXPECT_EQ(13, cause.asInt());
    ASSERT_TRUE(decode("60", cause));
    EXPECT_TRUE(cause.is_destroyInProgress());
}

// A broken extension form fails the value instead of reading on from where it stopped.
TEST(PerDecoderEnumerations, ABrokenExtensionFormFails) {
    ZGCP::ErrorCause cause;
    EXPECT_FALSE(decode("80", cause)) << "small number 0: no value can follow";
    EXPECT_FALSE(decode("8E", cause)) << "the value's bits are missing";
    EXPECT_FALSE(decode("", cause));
}

// An extension value is held as an int: the largest one reads back, one above it fails
// rather than turning negative (a value no type lists, that could not be sent again).
TEST(PerDecoderEnumerations, AnExtensionValueAboveTheLargestIntFails) {
    ZGCP::ErrorCause cause;
    ASSERT_TRUE(decode("C0 04 FF FF FF FF C0 7F FF FF FF", cause));
    EXPECT_EQ(INT_MAX, cause.asInt());
    EXPECT_FALSE(decode("C0 04 FF FF FF FF C0 80 00 00 00", cause));
}

TEST(PerDecoderStrings, OctetStrings) {
    ASN1::OCTET_STRING value;
    ASSERT_TRUE(decode("03 AB CD EF", value));
    EXPECT_EQ(std::string("\xAB\xCD\xEF"), std::string(value));
    EXPECT_FALSE(decode("04 AB CD EF", value)) << "an octet missing";
    ASSERT_TRUE(decode("00", value));
    EXPECT_TRUE(value.empty());

    static ASN1::ConstrainedInfo const sized = {{&ASN1::OCTET_STRING::create, 4}, ASN1::FixedConstraint, 1, 4};
    ASN1::OCTET_STRING small(&sized);
    ASN1::PERDecoder::memento_type memento;
    std::vector<char> const input = octets("ED 5E 68");
    ASN1::PERDecoder decoder(input.data(), input.data() + input.size());
    unsigned prefix = 0;
    ASSERT_TRUE(decoder.decodeMultiBit(3, prefix));
    ASSERT_TRUE(small.accept(decoder));
    EXPECT_EQ(std::string("\xAB\xCD"), std::string(small));
}

TEST(PerDecoderStrings, SizeLimit) {
    static ASN1::ConstrainedInfo const large = {{&ASN1::OCTET_STRING::create, 4}, ASN1::FixedConstraint, 0, 20000};
    std::vector<char> input = octets("40 00");
    input.resize(2 + 16385, 'x');
    ASN1::OCTET_STRING value(&large);
    ASN1::PERDecoder accepted(input.data(), input.data() + input.size());
    EXPECT_TRUE(value.accept(accepted));
    EXPECT_EQ(16384u, value.size());

    input[1] = 0x01;  // 16385
    ASN1::PERDecoder refused(input.data(), input.data() + input.size());
    EXPECT_FALSE(value.accept(refused));
}

TEST(PerDecoderStrings, CharacterStrings) {
    ASN1::IA5String text("old");
    ASSERT_TRUE(decode("03 61 62 63", text));
    EXPECT_EQ("abc", static_cast<std::string const&>(text));
    EXPECT_FALSE(decode("05 61 62 63", text));
    EXPECT_TRUE(text.empty()) << "characters missing: the string is emptied";

    ASN1::AbstractString digits(&ASN1::NumericString::theInfo);
    ASSERT_TRUE(decode("03 20 A0", digits));
    EXPECT_EQ("1 9", static_cast<std::string const&>(digits));
    EXPECT_FALSE(decode("01 B0", digits)) << "index 11 of an 11-character set";

    ASN1::BMPString wide;
    ASSERT_TRUE(decode("02 00 41 00 42", wide));
    EXPECT_EQ(L"AB", static_cast<std::wstring const&>(wide));
    EXPECT_FALSE(decode("02 00 41 00", wide));
}

TEST(PerDecoderStrings, BitStringsKeepNoPaddingBits) {
    ASN1::BIT_STRING bits;
    ASSERT_TRUE(decode("03 BF", bits)) << "three bits; the rest of the octet is padding";
    EXPECT_EQ(3u, bits.size());
    EXPECT_EQ(static_cast<char>(0xA0), bits.getData()[0]);
    ASSERT_TRUE(decode("14 A0 00 FF", bits));
    EXPECT_EQ(20u, bits.size());
    EXPECT_EQ(static_cast<char>(0xF0), bits.getData()[2]);
    EXPECT_FALSE(decode("14 A0 00", bits));
}

TEST(PerDecoderStrings, ObjectIdentifierAndTime) {
    ASN1::OBJECT_IDENTIFIER oid;
    ASSERT_TRUE(decode("07 2B 06 01 04 01 81 48", oid));
    EXPECT_EQ(7u, oid.levels());
    EXPECT_EQ(200u, oid[6]);
    EXPECT_FALSE(decode("08 2B 06 01 04 01 81 48", oid)) << "contents pass the end";

    ASN1::GeneralizedTime time;
    ASSERT_TRUE(decode("0F 32 30 30 36 31 32 30 36 31 33 30 35 30 39 5A", time));
    EXPECT_EQ("20061206130509Z", time.get());
    EXPECT_FALSE(decode("0F 32 30", time));
}

// Found by the fuzz target: a time is coded as its text, so a text that is not exactly the
// form a time is written in is refused, and a time whose fields do not fit that form is not
// sent.
TEST(PerDecoderStrings, TimeTextMustBeTheWrittenForm) {
    ASN1::GeneralizedTime time;
    EXPECT_FALSE(decode("0D 2D 39 39 36 37 00 00 03 00 00 00 00 00", time));
    EXPECT_FALSE(decode("11 32 30 30 36 31 32 30 36 31 33 30 35 30 39 2E 35 5A", time)) << ".5 is written .500";
    ASSERT_TRUE(decode("13 32 30 30 36 31 32 30 36 31 33 30 35 30 39 2D 30 31 33 30", time));
    EXPECT_EQ("20061206130509-0130", time.get());
    EXPECT_EQ("failed", encode(ASN1::GeneralizedTime(1, 1, 1, 0, 0, 0, 0, -6007, false)));
    EXPECT_EQ("failed", encode(ASN1::GeneralizedTime(12345, 1, 1, 0, 0, 0, 0, 0, true)));
}

TEST(PerDecoderConstructed, SequenceOfLimit) {
    ASN1::SEQUENCE_OF<ASN1::Null> list;
    std::vector<char> input = octets("80 80");
    ASN1::PERDecoder accepted(input.data(), input.data() + input.size());
    ASSERT_TRUE(list.accept(accepted));
    EXPECT_EQ(128u, list.size());
    input[1] = static_cast<char>(0x81);
    ASN1::PERDecoder refused(input.data(), input.data() + input.size());
    EXPECT_FALSE(list.accept(refused));
}

TEST(PerDecoderConstructed, AFailingElementRemovesItAndThoseAfter) {
    Fixture::Kinds::List list;
    EXPECT_FALSE(decode("03 01 07 01 08 02 01", list));
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ(8, list[1].getValue());
}

TEST(PerDecoderConstructed, UnknownExtensionAdditionsAreSkipped) {
    Fixture::VersionedLater later;
    later.ref_a() = 1u;
    later.set_c() = std::vector<char>{'x', 'y'};
    std::string const sent = encode(later);
    EXPECT_EQ("90 28 03 02 78 79", sent);

    Fixture::Versioned received;
    ASSERT_TRUE(decode(sent, received)) << "the addition the type does not list is skipped";
    EXPECT_EQ(1u, received.ref_a().getValue());
    EXPECT_FALSE(received.b_isPresent());
    EXPECT_FALSE(decode("90 28 03 02 78", received)) << "a skip past the end fails";
    EXPECT_FALSE(decode("90 28 04 02 78 79", received));
}

// A decoded value keeps the extension bits of additions its type does not know; they go
// out cleared, since there is nothing to send behind them.
TEST(PerDecoderConstructed, UnknownExtensionBitsAreNotSentAgain) {
    Fixture::Versioned received;
    ASSERT_TRUE(decode("90 28 03 02 78 79", received));
    EXPECT_EQ("10", encode(received));

    received.set_b() = 3u;
    std::string const again = encode(received);
    EXPECT_EQ("90 10 01 03", again) << "one extension bit, the known one";
    Fixture::Versioned decoded;
    ASSERT_TRUE(decode(again, decoded));
    EXPECT_EQ(3u, decoded.get_b().getValue());
}

TEST(PerDecoderConstructed, ExtensionAlternativeEndsWhereItsLengthSays) {
    // y (0..255) sent with a 3-octet length though it needs one; then an octet 09.
    std::vector<char> const input = octets("80 03 07 00 00 09");
    ASN1::PERDecoder decoder(input.data(), input.data() + input.size());
    Fixture::Alternatives choice;
    ASSERT_TRUE(choice.accept(decoder));
    EXPECT_EQ(7u, choice.get_y().getValue());
    Fixture::Versioned::B after;
    ASSERT_TRUE(after.accept(decoder));
    EXPECT_EQ(9u, after.getValue());
}

TEST(PerDecoderConstructed, UnknownAlternativeIsSkipped) {
    std::vector<char> const input = octets("80 02 AA BB 09");
    ASN1::PERDecoder decoder(input.data(), input.data() + input.size());
    ZGCP::Command command;
    ASSERT_TRUE(command.accept(decoder));
    EXPECT_TRUE(command.isUnknownSelection());
    EXPECT_EQ(nullptr, command.getSelection());
    Fixture::Versioned::B after;
    ASSERT_TRUE(after.accept(decoder));
    EXPECT_EQ(9u, after.getValue());
    EXPECT_EQ("failed", encode(command)) << "nothing to send for an unknown alternative";
}

TEST(PerDecoderConstructed, OpenTypes) {
    static ASN1::TypeConstrainedOpenInfo const holdsInteger = {{&ASN1::TypeConstrainedOpenData::create, 0},
                                                               &ASN1::INTEGER::theInfo};
    std::unique_ptr<ASN1::AbstractData> sent(ASN1::AbstractData::create(&holdsInteger));
    static_cast<ASN1::INTEGER&>(static_cast<ASN1::OpenData&>(*sent).get_data()) = 7;
    EXPECT_EQ("02 01 07", encode(*sent));
    std::unique_ptr<ASN1::AbstractData> received(ASN1::AbstractData::create(&holdsInteger));
    ASSERT_TRUE(decode("04 01 07 00 00", *received)) << "the contained value, then on after the length";
    EXPECT_TRUE(*received == *sent);

    ASN1::OpenData raw;
    ASSERT_TRUE(decode("02 01 07", raw)) << "an open type of no known type keeps its octets";
    ASSERT_TRUE(raw.has_buf());
    EXPECT_EQ("01 07", per_test::hex(raw.get_buf()));
    EXPECT_FALSE(decode("03 01 07", raw));
}

TEST(PerDecoderConstructed, EveryKindReadsBack) {
    Fixture::Kinds const value = Fixture::everyKind();
    std::string const sent = encode(value);
    ASSERT_NE("failed", sent);
    Fixture::Kinds received;
    ASSERT_TRUE(decode(sent, received));
    EXPECT_TRUE(received == value);
    EXPECT_EQ(sent, encode(received));
}

TEST(PerDecoderPrimitives, ReadsStayInsideTheInput) {
    std::vector<char> const input = octets("A5");
    ASN1::PERDecoder decoder(input.data(), input.data() + input.size());
    unsigned value = 0;
    EXPECT_FALSE(decoder.decodeMultiBit(33, value));
    EXPECT_FALSE(decoder.decodeMultiBit(9, value));
    EXPECT_TRUE(decoder.decodeMultiBit(0, value));
    EXPECT_EQ(0u, value);
    EXPECT_TRUE(decoder.decodeMultiBit(3, value));
    EXPECT_EQ(5u, value);
    EXPECT_EQ(5u, decoder.getBitsLeft());
    ASN1::PERDecoder::memento_type const mark{decoder.getPosition(), 5};
    char buffer[4];
    EXPECT_EQ(0u, decoder.decodeBlock(buffer, 4)) << "aligning used up the only octet";
    EXPECT_TRUE(decoder.atEnd());
    EXPECT_EQ(0, decoder.decodeSingleBit());
    decoder.rollback(mark);
    EXPECT_EQ(5u, decoder.getBitsLeft());
    decoder.rollback(ASN1::PERDecoder::memento_type());
    EXPECT_EQ(5u, decoder.getBitsLeft()) << "a null memento changes nothing";
    decoder.setPosition(input.data() + 100);
    EXPECT_TRUE(decoder.atEnd());
}

}  // namespace
