// Byte-exact BER encodings: integers, length forms, tag numbers, bit strings, tagging of
// fields and alternatives, what cannot be encoded, and an independent decoder's reading.

#include "asn1/ber_encoder.h"

#include <unistd.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "asn1/ber_test_support.h"
#include "asn1/zgcp_fixture.h"

namespace {

using ber_test::encode;

TEST(BerEncoder, IntegersInTheFewestOctets) {
    struct Case {
        int value;
        char const* octets;
    };
    for (Case const& c : {Case{0, "02 01 00"}, Case{127, "02 01 7F"}, Case{128, "02 02 00 80"},
                          Case{-1, "02 01 FF"}, Case{-129, "02 02 FF 7F"}, Case{8388608, "02 04 00 80 00 00"},
                          Case{INT_MIN, "02 04 80 00 00 00"}})
        EXPECT_EQ(c.octets, encode(ASN1::INTEGER(c.value))) << c.value;
    ZGCP::ErrorCause cause(ZGCP::ErrorCause::destroyInProgress);
    EXPECT_EQ("0A 01 0C", encode(cause)) << "an ENUMERATED by its number";
}

TEST(BerEncoder, LengthFormsAgreeWithTheCountedLength) {
    struct Case {
        std::size_t size;
        char const* header;
    };
    for (Case const& c : {Case{127, "04 7F"}, Case{128, "04 81 80"}, Case{256, "04 82 01 00"},
                          Case{65536, "04 83 01 00 00"}}) {
        ASN1::OCTET_STRING const value(c.size, 'x');
        std::string const written = encode(value);
        EXPECT_EQ(c.header, written.substr(0, std::string(c.header).size())) << c.size;
        EXPECT_EQ((written.size() + 1) / 3, ASN1::getObjectLength(value, -1)) << c.size;
        EXPECT_EQ(c.size, ASN1::getObjectLength(value, 0));
    }
}

TEST(BerEncoder, TagNumbersFrom31TakeMoreIdentifierOctets) {
    static unsigned const tags[] = {ASN1::ContextSpecificTagClass | 31, ASN1::ContextSpecificTagClass | 200};
    ber_test::TwoIntegers const type(tags);
    ASN1::SEQUENCE const value = type.make(5, 6);
    std::string const written = encode(value);
    EXPECT_EQ("30 09 9F 1F 01 05 9F 81 48 01 06", written);
    ASN1::SEQUENCE read(&type.info);
    ASSERT_TRUE(ber_test::decode(written, read));
    EXPECT_TRUE(read == value);
}

TEST(BerEncoder, BitStringsStartWithTheUnusedBitCount) {
    struct Case {
        unsigned bits;
        char const* octets;
    };
    for (Case const& c : {Case{16, "03 03 00 00 00"}, Case{12, "03 03 04 00 00"}, Case{0, "03 01 00"},
                          Case{1, "03 02 07 00"}}) {
        ASN1::BIT_STRING value;
        value.resize(c.bits);
        EXPECT_EQ(c.octets, encode(value)) << c.bits;
    }
}

TEST(BerEncoder, FieldsAndAlternativesCarryTheirContextTags) {
    ZGCP::TrunkCfg cfg;
    cfg.set_trunk(3);
    cfg.set_mode(ZGCP::TrunkMode::master);
    EXPECT_EQ("30 06 80 01 03 81 01 01", encode(cfg)) << "automatic tags replace the fields' own";

    // An untagged CHOICE writes no header of its own where its own tag would go...
    ASN1::SEQUENCE_OF<ZGCP::BpcTestMode> modes;
    modes.push_back(ZGCP::BpcTestMode());
    modes.push_back(ZGCP::BpcTestMode());
    (modes.begin())->select_read();
    (++modes.begin())->select_disconnect();
    EXPECT_EQ("30 04 80 00 82 00", encode(modes));

    // ... but a constructed one around the alternative where a field's tag goes.
    ZGCP::Message message;
    message.set_slot(5);
    message.set_pdu().select_response().select_error(ZGCP::ErrorCause::internal);
    EXPECT_EQ("30 0A 81 01 05 A2 05 A1 03 81 01 05", encode(message));
}

TEST(BerEncoder, WhatHasNoEncodingFails) {
    ZGCP::Message unselected;
    EXPECT_EQ("failed", encode(unselected));
    EXPECT_EQ("failed", encode(ASN1::OpenData())) << "an open type that holds nothing";
    ASN1::BMPString wide;
    wide.assign(L"\x10000", 1);
    EXPECT_EQ("failed", encode(wide)) << "a character beyond 16 bits";
    EXPECT_EQ("failed", encode(ASN1::GeneralizedTime(12345, 1, 1, 0, 0, 0, 0, 0, true))) << "a text that reads back otherwise";
}

// The basic types under their universal tags, in one SEQUENCE whose fields keep them.
struct Basics {
    using Unsigned = ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u>;
    void const* infos[12] = {&ASN1::Null::theInfo,        &ASN1::BOOLEAN::theInfo,
                             &ASN1::INTEGER::theInfo,     &ZGCP::ErrorCause::theInfo,
                             &ASN1::OBJECT_IDENTIFIER::theInfo, &ASN1::BIT_STRING::theInfo,
                             &ASN1::OCTET_STRING::theInfo, &ASN1::IA5String::theInfo,
                             &ASN1::BMPString::theInfo,   &ASN1::GeneralizedTime::theInfo,
                             &ASN1::SEQUENCE_OF<ASN1::INTEGER>::theInfo, &Unsigned::theInfo};
    int ids[12] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    char const* names[12] = {"n", "b", "i", "e", "o", "bits", "octets", "text", "wide", "time", "list", "u"};
    ASN1::SequenceInfo info{{&ASN1::SEQUENCE::create, 16}, false, infos, ids, 12, 0, 0, nullptr,
                            &ASN1::SEQUENCE::defaultTag, names};

    ASN1::SEQUENCE make() const {
        ASN1::SEQUENCE value(&info);
        static_cast<ASN1::BOOLEAN&>(*value.getField(1)) = true;
        static_cast<ASN1::INTEGER&>(*value.getField(2)).setValue(-129);
        static_cast<ASN1::ENUMERATED&>(*value.getField(3)).setFromInt(12);
        auto& oid = static_cast<ASN1::OBJECT_IDENTIFIER&>(*value.getField(4));
        for (unsigned arc : {1u, 2u, 840u, 113549u}) oid.append(arc);
        static_cast<ASN1::BIT_STRING&>(*value.getField(5)).resize(12);
        static_cast<ASN1::OCTET_STRING&>(*value.getField(6)) = std::vector<char>{'\x01', '\xFF'};
        static_cast<ASN1::AbstractString&>(*value.getField(7)).assign(std::string("gate"));
        static_cast<ASN1::BMPString&>(*value.getField(8)).assign(L"ok", 2);
        static_cast<ASN1::GeneralizedTime&>(*value.getField(9)).set("20240229235959Z");
        auto& list = static_cast<ASN1::SEQUENCE_OF_Base&>(*value.getField(10));
        list.push_back(new ASN1::INTEGER(300));
        static_cast<Unsigned&>(*value.getField(11)) = 4294967295u;
        return value;
    }
};

TEST(BerEncoder, AnIndependentDecoderReadsTheBasicTypes) {
    // Checked with `openssl asn1parse` (package openssl); skipped where it is not installed.
    if (std::system("command -v openssl >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl is not installed";
    std::vector<char> const octets = ber_test::octets(encode(Basics().make()));
    ASSERT_FALSE(octets.empty());
    std::string const path = testing::TempDir() + "ber_basics_" + std::to_string(getpid()) + ".der";
    std::ofstream(path, std::ios::binary).write(octets.data(), static_cast<std::streamsize>(octets.size()));

    std::string const command = "openssl asn1parse -inform DER -in '" + path + "' 2>&1";
    FILE* const pipe = popen(command.c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    std::string listing;
    std::array<char, 256> buffer;
    while (std::fgets(buffer.data(), buffer.size(), pipe)) listing += buffer.data();
    int const status = pclose(pipe);
    std::remove(path.c_str());

    EXPECT_EQ(0, status) << listing;
    EXPECT_EQ(std::string::npos, listing.find("rror")) << listing;
    for (char const* line : {"cons: SEQUENCE", "prim: NULL", "prim: BOOLEAN", "prim: INTEGER           :-81",
                             "prim: ENUMERATED        :0C", "prim: OBJECT            :RSA Data Security, Inc.",
                             "prim: BIT STRING", "prim: OCTET STRING      [HEX DUMP]:01FF",
                             "prim: IA5STRING         :gate", "prim: BMPSTRING", "prim: GENERALIZEDTIME   :20240229235959Z",
                             "prim: INTEGER           :012C", "prim: INTEGER           :FFFFFFFF"})
        EXPECT_NE(std::string::npos, listing.find(line)) << line << " in\n" << listing;
}

}  // namespace
