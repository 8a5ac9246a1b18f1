// The value notation of the log lines, character for character.

#include "asn1/avn_encoder.h"

#include <sstream>

#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/zgcp_fixture.h"

namespace {

std::string printed(ASN1::AbstractData const& value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

TEST(AvnEncoder, MessageExample) {
    ZGCP::Message message;
    message.set_seq(5);
    message.set_slot(3);
    message.set_pdu().select_command().select_ping();
    EXPECT_EQ("{\n"
              "  seq 5,\n"
              "  slot 3,\n"
              "  pdu command : ping : NULL\n"
              "}",
              printed(message));
    EXPECT_EQ(printed(message), message.asValueNotation());
}

TEST(AvnEncoder, NestedSequenceIsIndentedTwoDeeper) {
    ZGCP::Message message;
    message.set_seq(-7);
    ZGCP::BpcTestParams& params = message.set_pdu().select_command().select_testBpc();
    params.set_bus(2);
    params.set_seed(-1);
    params.set_mode().select_write();
    params.set_timeslot_start(3);
    params.set_timeslot_length(127);
    EXPECT_EQ("{\n"
              "  seq -7,\n"
              "  pdu command : testBpc : {\n"
              "    bus 2,\n"
              "    seed -1,\n"
              "    mode write : NULL,\n"
              "    timeslot-start 3,\n"
              "    timeslot-length 127\n"
              "  }\n"
              "}",
              printed(message));
}

TEST(AvnEncoder, EmptySequenceAndSequenceOf) {
    EXPECT_EQ("{\n}", printed(Fixture::StandIn()));
    Fixture::Kinds::List list;
    EXPECT_EQ("{\n}", printed(list));
    list.push_back(ASN1::INTEGER(1));
    list.push_back(ASN1::INTEGER(2));
    EXPECT_EQ("{\n  1,\n  2\n}", printed(list));
}

TEST(AvnEncoder, SequenceOfInsideASequence) {
    Fixture::Kinds value;
    value.ref_small().setValue(-5);
    value.set_list().push_back(ASN1::INTEGER(1));
    value.ref_mode().select_read();
    EXPECT_EQ("{\n"
              "  flag FALSE,\n"
              "  small -5,\n"
              "  big 0,\n"
              "  cause invalidParams,\n"
              "  octets ''H,\n"
              "  list {\n"
              "    1\n"
              "  },\n"
              "  mode read : NULL\n"
              "}",
              printed(value));
}

TEST(AvnEncoder, SimpleValues) {
    EXPECT_EQ("TRUE", printed(ASN1::BOOLEAN(true)));
    EXPECT_EQ("-1", printed(ASN1::INTEGER(-1)));
    Fixture::Kinds::Big big;
    big.setValue(-1);
    EXPECT_EQ("4294967295", printed(big)) << "a range from 0 prints unsigned";
    ZGCP::Slot slot(200);
    EXPECT_EQ("200", printed(slot));
    ZGCP::ErrorCause cause(ZGCP::ErrorCause::slotIdBusy);
    EXPECT_EQ("slotIdBusy", printed(cause));
    cause.setFromInt(13);
    EXPECT_EQ("13", printed(cause)) << "a value without a name prints its number";

    ASN1::OBJECT_IDENTIFIER oid;
    for (unsigned arc : {1u, 2u, 840u}) oid.append(arc);
    EXPECT_EQ("{ 1 2 840 }", printed(oid));

    ASN1::BIT_STRING bits;
    bits.resize(3);
    bits.getData()[0] = static_cast<char>(0xA0);
    EXPECT_EQ("'101'B", printed(bits));

    EXPECT_EQ("\"20061206130509.020Z\"", printed(ASN1::GeneralizedTime(2006, 12, 6, 13, 5, 9, 20, 0, true)));
}

TEST(AvnEncoder, IntegerWithNamedNumbers) {
    static ASN1::NameEntry const names[] = {{-1, "none"}, {5, "five"}};
    static ASN1::NamedIntegerInfo const record = {{{&ASN1::IntegerWithNamedNumber::create, 2}, ASN1::Unconstrained, 0,
                                                   4294967295u},
                                                  names, 2};
    ASN1::IntegerWithNamedNumber value(5, &record);
    EXPECT_EQ("five", printed(value));
    value.setValue(6);
    EXPECT_EQ("6", printed(value));
    ASSERT_TRUE(value.setFromValueNotation("none"));
    EXPECT_EQ(-1, value.getValue());
    ASSERT_TRUE(value.setFromValueNotation("-7"));
    EXPECT_EQ(-7, value.getValue());
    EXPECT_FALSE(value.setFromValueNotation("six"));
}

TEST(AvnEncoder, OctetStringLeavesTheNumberBaseAlone) {
    std::ostringstream out;
    out << ASN1::OCTET_STRING(std::vector<char>{'\x00', '\xFF'}) << ' ' << ASN1::INTEGER(255);
    EXPECT_EQ("'00 ff'H 255", out.str());
    std::ostringstream hex;
    hex << std::hex << ASN1::OCTET_STRING(std::vector<char>{'\xDE', '\xAD', '\x01'}) << ' ' << 255;
    EXPECT_EQ("'de ad 01'H ff", hex.str());
}

TEST(AvnEncoder, StringsQuotedOrRaw) {
    ASN1::IA5String text("a \"b\"");
    EXPECT_EQ("\"a \"\"b\"\"\"", ASN1::IA5String("a \"b\"").asValueNotation()) << "a double quote is doubled";
    std::ostringstream raw;
    raw << text;  // a character string on its own writes its characters
    EXPECT_EQ("a \"b\"", raw.str());

    ASN1::BMPString plain(L"\"ok");
    EXPECT_EQ("\"\"\"ok\"", printed(plain));
    ASN1::BMPString wide(L"A\x263A");
    EXPECT_EQ("{{ 0, 0, 0, 65}, { 0, 0, 38, 58}}", printed(wide));
}

TEST(AvnEncoder, FailuresSetFailbitAndKeepWhatWasPrinted) {
    ZGCP::Message message;
    message.set_seq(1);
    std::ostringstream out;
    out << message;  // the pdu selects nothing
    EXPECT_TRUE(out.fail());
    EXPECT_EQ("{\n  seq 1,\n  pdu ", out.str());
    EXPECT_EQ("{\n  seq 1,\n  pdu ", message.asValueNotation());

    EXPECT_EQ("'0102'H", printed([] {
                  ASN1::OpenData octets;
                  octets.grab(new std::vector<char>{1, 2});
                  return octets;
              }()).erase(3, 1));
    std::ostringstream empty;
    empty << ASN1::OpenData();
    EXPECT_TRUE(empty.fail());
}

TEST(AvnEncoder, StreamThatIsNotGoodIsLeftAlone) {
    std::ostringstream out;
    out.setstate(std::ios_base::eofbit);
    out << ASN1::INTEGER(5);
    EXPECT_EQ("", out.str());
    EXPECT_EQ(std::ios_base::eofbit, out.rdstate());
}

TEST(AvnEncoder, ExceptionMaskDecidesWhetherAFailureThrows) {
    ZGCP::Message message;  // cannot be printed
    std::ostringstream quiet;
    EXPECT_NO_THROW(quiet << message);
    std::ostringstream loud;
    loud.exceptions(std::ios_base::failbit);
    EXPECT_THROW(loud << message, std::ios_base::failure);
}

}  // namespace
