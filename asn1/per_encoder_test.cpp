// Byte-exact encodings of the aligned PER coder: the controller protocol's examples, the
// thresholds of each form, and the departures from X.691 that the controllers rely on.

#include "asn1/per_encoder.h"

#include <climits>

#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/per_test_support.h"
#include "asn1/zgcp_fixture.h"

namespace {

using per_test::encode;
using per_test::hex;

// Runs primitives on a fresh encoder and answers the octets as hex.
template <class Steps>
std::string written(Steps steps, bool aligned = true) {
    std::vector<char> output;
    ASN1::PEREncoder encoder(output, aligned);
    steps(encoder);
    return hex(output);
}

ZGCP::Message ping() {
    ZGCP::Message message;
    message.set_pdu().select_command().select_ping();
    return message;
}

TEST(PerEncoderMessages, ControllerExamples) {
    ZGCP::Message message = ping();
    message.set_seq(5);
    message.set_slot(3);
    EXPECT_EQ("C0 01 05 00 03 18", encode(message));

    EXPECT_EQ("06 00", encode(ping()));

    ZGCP::Message numbered = ping();
    numbered.set_seq(1);
    EXPECT_EQ("80 01 01 18", encode(numbered));
    numbered.set_seq(300);
    EXPECT_EQ("80 02 01 2C 18", encode(numbered));

    ZGCP::Message success;
    success.set_seq(1);
    success.set_pdu().select_response().select_success();
    EXPECT_EQ("80 01 01 40", encode(success));

    ZGCP::Message error;
    error.set_seq(1);
    error.set_pdu().select_response().select_error(ZGCP::ErrorCause::unexpectedMsgType);
    EXPECT_EQ("80 01 01 64", encode(error));

    ZGCP::Message destroy;
    destroy.set_slot(5);
    destroy.set_pdu().select_command().select_destroy();
    EXPECT_EQ("40 00 05 0A", encode(destroy));
}

TEST(PerEncoderMessages, WhatCannotBeEncodedFails) {
    ZGCP::Message empty;  // the pdu selects nothing
    EXPECT_EQ("failed", encode(empty));

    ZGCP::Message tooHigh = ping();
    tooHigh.set_slot(1024);
    EXPECT_EQ("failed", encode(tooHigh));

    ZGCP::TrunkCfg cfg;  // TrunkMode is not extensible: 2 is above its maximum
    cfg.ref_mode().setFromInt(2);
    EXPECT_EQ("failed", encode(cfg));
    cfg.ref_mode().setFromInt(-1);
    EXPECT_EQ("failed", encode(cfg));
}

TEST(PerEncoderNumbers, ConstrainedWholeNumberAtEveryThreshold) {
    auto number = [](unsigned value, unsigned lb, unsigned ub) {
        return written([&](ASN1::PEREncoder& e) {
            e.encodeSingleBit(true);  // shows whether the field is aligned
            if (!e.encodeUnsigned(value, lb, ub)) e.encodeBlock("\xEE\xEE", 2);
        });
    };
    EXPECT_EQ("80", number(5, 5, 5)) << "range 1: no bits";
    EXPECT_EQ("C0", number(1, 0, 1)) << "range 2: one bit";
    EXPECT_EQ("80", number(0, 0, 1));
    EXPECT_EQ("FF 00", number(254, 0, 254)) << "range 255: 8 bits, not aligned";
    EXPECT_EQ("80 00", number(0, 0, 254));
    EXPECT_EQ("80 FF", number(255, 0, 255)) << "range 256: one aligned octet";
    EXPECT_EQ("80 00", number(10, 10, 265));
    EXPECT_EQ("80 01 00", number(256, 0, 256)) << "range 257: two aligned octets";
    EXPECT_EQ("80 FF FF", number(65535, 0, 65535)) << "range 65536: two aligned octets";
    EXPECT_EQ("80 00 00", number(0, 0, 65535));
    EXPECT_EQ("C0 01 00 00", number(65536, 0, 65536)) << "range 65537: octet count 3 (10), then 3 octets";
    EXPECT_EQ("80 00", number(0, 0, 65536)) << "one octet for the lower bound";
    EXPECT_EQ("80 00", number(0, 0, 4294967295u)) << "full range: count 00, one octet";
    EXPECT_EQ("E0 FF FF FF FF", number(4294967295u, 0, 4294967295u)) << "count 11, four octets";
    EXPECT_EQ("80 EE EE", number(6, 0, 5)) << "above the range fails";
    EXPECT_EQ("80 EE EE", number(4, 5, 9)) << "below the range fails";
}

TEST(PerEncoderNumbers, BitFieldWidthsBelowAnOctet) {
    // 2 -> 1 bit, 3..4 -> 2, 5..8 -> 3, 9..16 -> 4, 17..32 -> 5, 33..64 -> 6, 65..128 -> 7,
    // 129..255 -> 8: each field holding its largest value, followed by a marker bit.
    unsigned const ranges[] = {2, 3, 4, 5, 8, 9, 16, 17, 32, 33, 64, 65, 128, 129, 255};
    unsigned const widths[] = {1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8};
    for (std::size_t i = 0; i < std::size(ranges); ++i) {
        std::vector<char> output;
        ASN1::PEREncoder encoder(output);
        ASSERT_TRUE(encoder.encodeUnsigned(0, 0, ranges[i] - 1));
        encoder.encodeSingleBit(true);
        unsigned const marker = widths[i];  // the marker sits right after the field
        EXPECT_EQ(0x80u >> (marker % 8), static_cast<unsigned char>(output[marker / 8]))
            << "range " << ranges[i];
    }
}

TEST(PerEncoderNumbers, RangeWithANegativeLowerBound) {
    Fixture::Kinds::Small small;
    small.setValue(-128);
    EXPECT_EQ("00", encode(small));
    small.setValue(0);
    EXPECT_EQ("80", encode(small));
    small.setValue(127);
    EXPECT_EQ("FF", encode(small));
    small.setValue(-129);
    EXPECT_EQ("failed", encode(small));
    small.setValue(128);
    EXPECT_EQ("failed", encode(small));
}

TEST(PerEncoderNumbers, UnconstrainedIntegerInTheFewestOctets) {
    auto integer = [](int value) { return encode(ASN1::INTEGER(value)); };
    EXPECT_EQ("01 00", integer(0));
    EXPECT_EQ("01 7F", integer(127));
    EXPECT_EQ("02 00 80", integer(128));
    EXPECT_EQ("01 FF", integer(-1));
    EXPECT_EQ("01 80", integer(-128));
    EXPECT_EQ("02 FF 7F", integer(-129));
    EXPECT_EQ("03 7F FF FF", integer(8388607));
    EXPECT_EQ("04 7F FF FF FF", integer(INT_MAX));
    EXPECT_EQ("04 80 00 00 00", integer(INT_MIN)) << "never more than four octets";
}

TEST(PerEncoderNumbers, ConstrainedIntegerForms) {
    Fixture::Kinds::Big big;
    big = 0u;
    EXPECT_EQ("00 00", encode(big));
    big = 4294967295u;
    EXPECT_EQ("C0 FF FF FF FF", encode(big));

    // (0..10, ...): the extension bit, then the root form or the unconstrained one.
    static ASN1::ConstrainedInfo const extensible = {{&ASN1::INTEGER::create, 2}, ASN1::ExtendableConstraint, 0, 10};
    EXPECT_EQ("50", encode(ASN1::INTEGER(10, &extensible)));
    EXPECT_EQ("80 01 0B", encode(ASN1::INTEGER(11, &extensible)));
    static ASN1::ConstrainedInfo const negative = {{&ASN1::INTEGER::create, 2}, ASN1::ExtendableConstraint, -10, 10};
    EXPECT_EQ("14", encode(ASN1::INTEGER(-5, &negative))) << "-5 lies inside -10..10";
    EXPECT_EQ("80 01 F5", encode(ASN1::INTEGER(-11, &negative)));
}

TEST(PerEncoderNumbers, LengthDeterminants) {
    auto length = [](unsigned n) {
        return written([&](ASN1::PEREncoder& e) {
            if (!e.encodeLength(n, 0, 2147483647u)) e.encodeBlock("\xEE", 1);
        });
    };
    EXPECT_EQ("7F", length(127));
    EXPECT_EQ("80 80", length(128));
    EXPECT_EQ("BF FF", length(16383));
    EXPECT_EQ("EE", length(16384)) << "no fragmented form";
    EXPECT_EQ("C0 07", written([](ASN1::PEREncoder& e) {
                  e.encodeSingleBit(true);
                  e.encodeLength(3, 1, 4);  // 2 bits, not aligned
                  e.encodeLength(7, 0, 255);
              }));
}

TEST(PerEncoderNumbers, NormallySmallNumbers) {
    EXPECT_EQ("7E", written([](ASN1::PEREncoder& e) { e.encodeSmallUnsigned(63); }));
    EXPECT_EQ("80 01 40", written([](ASN1::PEREncoder& e) { e.encodeSmallUnsigned(64); }));
    EXPECT_EQ("80 02 01 00", written([](ASN1::PEREncoder& e) { e.encodeSmallUnsigned(256); }));
}

TEST(PerEncoderBits, MultiBitFieldsRunAcrossOctets) {
    EXPECT_EQ("A5 5A", written([](ASN1::PEREncoder& e) {
                  e.encodeMultiBit(0x5, 3);
                  e.encodeMultiBit(0x55A, 13);
              }));
    EXPECT_EQ("FF FF FF FF 80", written([](ASN1::PEREncoder& e) {
                  e.encodeMultiBit(0xFFFFFFFF, 32);
                  e.encodeSingleBit(true);
              }));
    EXPECT_EQ("80 C0", written([](ASN1::PEREncoder& e) {
                  e.encodeSingleBit(true);
                  e.byteAlign();
                  e.byteAlign();
                  e.encodeMultiBit(0xFF3, 2);  // only the low bits count
              }));
}

// The departures from X.691 that the controllers rely on.

TEST(PerEncoderDepartures, EnumerationIsCodedByValueNotByIndex) {
    // StandbyCommand: none(0), standby(8), active(16), ... -> 0..16 in 5 bits after the
    // extension bit; the index (1 of 0..2) would be 2 bits.
    HSP::StandbyCommand command(HSP::StandbyCommand::standby);
    EXPECT_EQ("20", encode(command));
    command = HSP::StandbyCommand::active;
    EXPECT_EQ("40", encode(command));
}

TEST(PerEncoderDepartures, ExtensionFormOfAnExtensibleEnumeration) {
    // Above the maximum: the bit 1, value + 1 as a normally small number (14), then the
    // value in 0..value (13 of 0..13, 4 bits).
    ZGCP::ErrorCause cause;
    cause.setFromInt(13);
    EXPECT_EQ("8E D0", encode(cause));
    cause = ZGCP::ErrorCause::destroyInProgress;
    EXPECT_EQ("60", encode(cause)) << "12 is a root value: 0, then 1100";
}

TEST(PerEncoderDepartures, OneOrTwoOctetStringsAreNotAligned) {
    static ASN1::ConstrainedInfo const sized = {{&ASN1::OCTET_STRING::create, 4}, ASN1::FixedConstraint, 1, 4};
    auto afterThreeBits = [](std::vector<char> const& contents) {
        return written([&](ASN1::PEREncoder& e) {
            e.encodeMultiBit(7, 3);
            ASN1::OCTET_STRING(contents, &sized).accept(e);
        });
    };
    // 111, length 2 as 01 (2 bits), AB CD straight after.
    EXPECT_EQ("ED 5E 68", afterThreeBits({'\xAB', '\xCD'}));
    // 111, length 3 as 10, then aligned octets.
    EXPECT_EQ("F0 AB CD EF", afterThreeBits({'\xAB', '\xCD', '\xEF'}));
    EXPECT_EQ("01 41", encode(ASN1::OCTET_STRING({'A'})));
    EXPECT_EQ("00", encode(ASN1::OCTET_STRING()));
}

TEST(PerEncoderDepartures, ObjectIdentifierLengthIsOneOctet) {
    ASN1::OBJECT_IDENTIFIER oid;
    for (unsigned arc : {1u, 3u, 6u, 1u, 4u, 1u, 200u}) oid.append(arc);
    EXPECT_EQ("07 2B 06 01 04 01 81 48", encode(oid));

    // 130 contents octets: the count is the single octet 82 (X.691 would write 80 82).
    ASN1::OBJECT_IDENTIFIER wide;
    wide.append(1);
    wide.append(3);
    for (int i = 0; i < 129; ++i) wide.append(1);
    EXPECT_EQ("82 2B 01", encode(wide).substr(0, 8));

    ASN1::OBJECT_IDENTIFIER tooWide;
    tooWide.append(1);
    tooWide.append(3);
    for (int i = 0; i < 255; ++i) tooWide.append(1);
    EXPECT_EQ("failed", encode(tooWide));
}

TEST(PerEncoderDepartures, LowerBoundOnlyIntegerIsCodedUnconstrained) {
    // INTEGER (5..MAX) holding 5: X.691 would code the offset 0.
    static ASN1::ConstrainedInfo const atLeastFive = {{&ASN1::INTEGER::create, 2}, ASN1::PartiallyConstrained, 5,
                                                      4294967295u};
    EXPECT_EQ("01 05", encode(ASN1::INTEGER(5, &atLeastFive)));
    EXPECT_EQ("01 FB", encode(ASN1::INTEGER(-5, &atLeastFive)));
}

TEST(PerEncoderDepartures, NoFragmentation) {
    EXPECT_EQ("BF FF", encode(ASN1::OCTET_STRING(16383, 'x')).substr(0, 5));
    EXPECT_EQ("failed", encode(ASN1::OCTET_STRING(16384, 'x')));
}

// Strings, bits and time.

TEST(PerEncoderStrings, CharacterStrings) {
    EXPECT_EQ("03 61 62 63", encode(ASN1::IA5String("abc")));
    Fixture::Kinds::name::value_type name;
    name = "ab";  // SIZE (1..64): 6-bit length, then aligned 8-bit characters
    EXPECT_EQ("04 61 62", encode(name));
    // NumericString characters go by their index in the set (4 bits each).
    ASN1::AbstractString digits(&ASN1::NumericString::theInfo, "1 9");
    EXPECT_EQ("03 20 A0", encode(digits));
    ASN1::AbstractString letter(&ASN1::NumericString::theInfo, "1a");
    EXPECT_EQ("failed", encode(letter)) << "a character outside the set";
    EXPECT_EQ("02 00 41 00 42", encode(ASN1::BMPString(L"AB")));
}

TEST(PerEncoderStrings, BitStrings) {
    ASN1::BIT_STRING bits;
    bits.resize(3);
    bits.getData()[0] = static_cast<char>(0xA0);
    EXPECT_EQ("03 A0", encode(bits));
    bits.resize(20);  // more than 16 bits: aligned octets
    bits.getData()[2] = static_cast<char>(0xF0);
    EXPECT_EQ("14 A0 00 F0", encode(bits));
    bits.resize(0);
    EXPECT_EQ("00", encode(bits));
}

TEST(PerEncoderStrings, GeneralizedTimeAsItsText) {
    ASN1::GeneralizedTime time(2006, 12, 6, 13, 5, 9, 0, 0, true);
    EXPECT_EQ("0F 32 30 30 36 31 32 30 36 31 33 30 35 30 39 5A", encode(time));
}

// Constructed types.

TEST(PerEncoderConstructed, SequenceOfCountsItsElements) {
    Fixture::Kinds::List list;
    EXPECT_EQ("00", encode(list));
    list.push_back(ASN1::INTEGER(1));
    list.push_back(ASN1::INTEGER(-1));
    EXPECT_EQ("02 01 01 01 FF", encode(list));
}

TEST(PerEncoderConstructed, ExtensionAdditionsAsOpenTypes) {
    Fixture::Versioned value;
    value.ref_a() = 5u;
    EXPECT_EQ("50", encode(value)) << "extension bit 0, a in 3 bits";
    value.set_b() = 0x42u;
    // Bit 1, a = 101, count - 1 = 0 in 7 bits, map 1, then the addition's length and octet.
    EXPECT_EQ("D0 10 01 42", encode(value));
    value.removeOptionalField(0);
    EXPECT_EQ("50", encode(value)) << "an extension map with no bit set sends no extensions";
}

TEST(PerEncoderConstructed, ChoiceAlternatives) {
    Fixture::Alternatives choice;
    EXPECT_EQ("failed", encode(choice));
    choice.select_x();
    EXPECT_EQ("00", encode(choice)) << "bit 0 and a single root alternative";
    choice.select_y() = 7u;
    EXPECT_EQ("80 01 07", encode(choice)) << "bit 1, small number 0, open type";
    choice.setSelection(0, nullptr);
    EXPECT_EQ("failed", encode(choice)) << "a selection without a value";
}

TEST(PerEncoderConstructed, OpenTypes) {
    ASN1::OpenData open(new ASN1::Null(), &ASN1::OpenData::theInfo);
    EXPECT_EQ("01 00", encode(open)) << "an empty encoding is one octet 00";
    ASN1::OpenData octets;
    octets.grab(new std::vector<char>{'\x12', '\x34'});
    EXPECT_EQ("02 12 34", encode(octets)) << "held octets go out as they came in";
}

// Open contents of 16384 octets or more have no form: the encoding fails rather than
// going out with a corrupt length.
TEST(PerEncoderFaults, OpenTypeOf16384OctetsFails) {
    std::vector<char> output;
    ASN1::PEREncoder encoder(output);
    ASN1::OCTET_STRING fits(16381, 'x');  // 2 length octets + 16381 = 16383
    EXPECT_TRUE(encoder.encodeAnyType(&fits));
    EXPECT_EQ(2u + 16383u, output.size());
    ASN1::OCTET_STRING tooLong(16382, 'x');
    EXPECT_FALSE(encoder.encodeAnyType(&tooLong));

    Fixture::Alternatives choice;
    ASN1::OpenData big(new ASN1::OCTET_STRING(16382, 'x'), &ASN1::OpenData::theInfo);
    EXPECT_EQ("failed", encode(big));
}

}  // namespace
