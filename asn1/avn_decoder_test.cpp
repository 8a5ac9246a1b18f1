// Reading value notation back: what the printer writes, the same on one line, and the
// helpers of the parser.

#include "asn1/avn_decoder.h"

#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/zgcp_fixture.h"

namespace {

ZGCP::Message example() {
    ZGCP::Message message;
    message.set_seq(5);
    message.set_slot(3);
    message.set_pdu().select_command().select_ping();
    return message;
}

TEST(AvnDecoder, ReadsThePrintedExample) {
    ZGCP::Message message;
    ASSERT_TRUE(message.setFromValueNotation("{\n  seq 5,\n  slot 3,\n  pdu command : ping : NULL\n}"));
    EXPECT_TRUE(message == example());
}

TEST(AvnDecoder, ReadsTheExampleInOtherLayouts) {
    for (char const* text : {"{ seq 5, slot 3, pdu command : ping : NULL }",
                             "{ seq 5, slot 3, pdu command : ping : NULL, }",
                             "{seq 5,\nslot 3,\n\npdu command:ping:NULL}",
                             "  {\n  seq 5\n  ,\n  slot 3\n  ,\n  pdu command : ping : NULL\n  }\n"}) {
        ZGCP::Message message;
        EXPECT_TRUE(message.setFromValueNotation(text)) << text;
        EXPECT_TRUE(message == example()) << text;
    }
}

TEST(AvnDecoder, OptionalFieldsMayBeLeftOut) {
    ZGCP::Message message = example();
    ASSERT_TRUE(message.setFromValueNotation("{ pdu response : error : internal }"));
    EXPECT_FALSE(message.seq_isPresent()) << "the text says which fields are there";
    EXPECT_FALSE(message.slot_isPresent());
    EXPECT_EQ(ZGCP::ErrorCause::internal, message.get_pdu().get_response().get_error());
}

TEST(AvnDecoder, RefusesWhatTheTypeDoesNotHave) {
    ZGCP::Message message;
    EXPECT_FALSE(message.setFromValueNotation("{ seq 5, port 3, pdu command : ping : NULL }"));
    EXPECT_FALSE(message.setFromValueNotation("{ slot 3, seq 5, pdu command : ping : NULL }")) << "out of order";
    EXPECT_FALSE(message.setFromValueNotation("{ seq 5 }")) << "pdu is mandatory";
    EXPECT_FALSE(message.setFromValueNotation("{ seq 5, }"));
    EXPECT_FALSE(message.setFromValueNotation("{ pdu command : pong : NULL }"));
    EXPECT_FALSE(message.setFromValueNotation("{ pdu command ping : NULL }"));
    EXPECT_FALSE(message.setFromValueNotation("{ seq x, pdu command : ping : NULL }"));
    EXPECT_FALSE(message.setFromValueNotation("{ slot 4294967296, pdu command : ping : NULL }"));
    EXPECT_FALSE(message.setFromValueNotation("{ seq 5, pdu command : ping : NULL"));
}

// Names followed directly by a comma or a closing brace.
TEST(AvnDecoder, NamesEndAtCommaAndBrace) {
    ZGCP::TrunkCfg cfg;
    ASSERT_TRUE(cfg.setFromValueNotation("{trunk 2,mode master}"));
    EXPECT_EQ(2, cfg.get_trunk().getValue());
    EXPECT_TRUE(cfg.get_mode().is_master());

    ASN1::SEQUENCE_OF<ZGCP::ErrorCause> causes;
    ASSERT_TRUE(causes.setFromValueNotation("{invalidSlot,internal}"));
    ASSERT_EQ(2u, causes.size());
    EXPECT_TRUE(causes[1] == ZGCP::ErrorCause(ZGCP::ErrorCause::internal));
}

TEST(AvnDecoder, EveryKindReadsBackWhatWasPrinted) {
    Fixture::Kinds const value = Fixture::everyKind();
    std::string const text = value.asValueNotation();
    Fixture::Kinds parsed;
    ASSERT_TRUE(parsed.setFromValueNotation(text)) << text;
    EXPECT_TRUE(parsed == value) << text << "\n" << parsed.asValueNotation();
    EXPECT_EQ(text, parsed.asValueNotation());
}

TEST(AvnDecoder, StringsOfEveryKindReadBackWhatWasPrinted) {
    std::unique_ptr<ASN1::AbstractData> const values[] = {
        std::make_unique<ASN1::IA5String>("a \"b\" \"\"\"\""),
        std::make_unique<ASN1::IA5String>(""),
        std::make_unique<ASN1::AbstractString>(&ASN1::VisibleString::theInfo, "\"quoted\""),
        std::make_unique<ASN1::AbstractString>(&ASN1::GeneralString::theInfo, std::string("\0\"\n\xff\"", 5)),
        std::make_unique<ASN1::AbstractString>(&ASN1::PrintableString::theInfo, "it's"),
        std::make_unique<ASN1::AbstractString>(&ASN1::NumericString::theInfo, "12 3"),
        std::make_unique<ASN1::BMPString>(L"\"ok\""),
        std::make_unique<ASN1::BMPString>(L"A\x263A\"", &ASN1::BMPString::theInfo),
        std::make_unique<ASN1::GeneralizedTime>(2006, 12, 6, 13, 5, 9, 20, 0, true),
    };
    for (auto const& value : values) {
        std::string const text = value->asValueNotation();
        std::unique_ptr<ASN1::AbstractData> parsed(ASN1::AbstractData::create(value->info()));
        ASSERT_TRUE(parsed->setFromValueNotation(text)) << text;
        EXPECT_TRUE(*parsed == *value) << text << " read back as " << parsed->asValueNotation();
    }
    ASN1::IA5String text;
    EXPECT_TRUE(text.setFromValueNotation("\"\"\"\""));
    EXPECT_EQ("\"", static_cast<std::string const&>(text));
    EXPECT_FALSE(text.setFromValueNotation("\"\"\"")) << "a doubled quote does not close the text";
    ASN1::BMPString wide;
    EXPECT_FALSE(wide.setFromValueNotation("{{ 0, 1, 0, 65}}")) << "beyond the basic plane";
    EXPECT_FALSE(wide.setFromValueNotation("{{ 0, 0, 256, 0}}"));
    EXPECT_FALSE(wide.setFromValueNotation("{{ 0, 0, 0, 65}"));
}

TEST(AvnDecoder, DigitStrings) {
    ASN1::OCTET_STRING octets;
    ASSERT_TRUE(octets.setFromValueNotation("'A'H"));
    EXPECT_EQ(std::string("\xA0"), std::string(octets));
    ASSERT_TRUE(octets.setFromValueNotation("'de AD\n 01'H"));
    EXPECT_EQ(std::string("\xDE\xAD\x01"), std::string(octets));
    EXPECT_FALSE(octets.setFromValueNotation("'0g'H"));
    EXPECT_FALSE(octets.setFromValueNotation("'00'X"));
    EXPECT_FALSE(octets.setFromValueNotation("'00"));

    ASN1::BIT_STRING bits;
    ASSERT_TRUE(bits.setFromValueNotation("'101'B"));
    EXPECT_EQ(3u, bits.size());
    EXPECT_TRUE(bits[0] && !bits[1] && bits[2]);
    EXPECT_FALSE(bits.setFromValueNotation("'102'B"));
}

TEST(AvnDecoder, ObjectIdentifiers) {
    ASN1::OBJECT_IDENTIFIER oid;
    oid.append(7);
    ASSERT_TRUE(oid.setFromValueNotation("{ iso(1) 2 840 }"));
    ASSERT_EQ(3u, oid.levels()) << "the arcs read replace the old ones";
    EXPECT_EQ(840u, oid[2]);
    EXPECT_FALSE(oid.setFromValueNotation("{ iso 2 }"));
    EXPECT_FALSE(oid.setFromValueNotation("{ 1 2"));
}

TEST(AvnDecoder, SimpleValues) {
    ASN1::Null null;
    EXPECT_TRUE(null.setFromValueNotation("N U L L"));
    EXPECT_FALSE(null.setFromValueNotation("NUL"));
    ASN1::BOOLEAN flag;
    EXPECT_TRUE(flag.setFromValueNotation("TRUE"));
    EXPECT_TRUE(flag);
    EXPECT_FALSE(flag.setFromValueNotation("true"));
    ZGCP::ErrorCause cause;
    EXPECT_TRUE(cause.setFromValueNotation("13"));
    EXPECT_EQ(13, cause.asInt());
    EXPECT_FALSE(cause.setFromValueNotation("nothing"));
    ASN1::IA5String text;
    EXPECT_TRUE(text.setFromValueNotation("  \"two words\""));
    EXPECT_EQ("two words", static_cast<std::string const&>(text));
    EXPECT_FALSE(text.setFromValueNotation("\"open"));
    ASN1::OpenData open;
    EXPECT_FALSE(open.setFromValueNotation("'00'H")) << "an open type has no text form to read";
}

TEST(AvnDecoder, StreamExtraction) {
    std::istringstream in("{ seq 5, slot 3, pdu command : ping : NULL } 42 x");
    ZGCP::Message message;
    ASN1::INTEGER number;
    in >> message >> number;
    EXPECT_TRUE(ASN1::input_success(in));
    EXPECT_TRUE(message == example());
    EXPECT_EQ(42, number.getValue());
    in >> number;
    EXPECT_FALSE(ASN1::input_success(in));
    EXPECT_EQ(42, number.getValue());
}

TEST(AvnDecoder, Helpers) {
    char const* const names[] = {"query", "testBpc", "query"};
    int index = -1;
    EXPECT_TRUE(ASN1::get_id(names, 3, "query", index));
    EXPECT_EQ(0, index);
    EXPECT_FALSE(ASN1::get_id(names, 3, "Query", index));
    std::string digits = "1 0\n1";
    std::vector<char> octets;
    unsigned bits = 0;
    EXPECT_TRUE(ASN1::get_from_bstring(digits, octets, bits));
    EXPECT_EQ(3u, bits);
    EXPECT_EQ(std::vector<char>{static_cast<char>(0xA0)}, octets);
    EXPECT_TRUE(ASN1::is_space_or_newline('\n'));
    EXPECT_FALSE(ASN1::is_space_or_newline('\t'));
}

}  // namespace
