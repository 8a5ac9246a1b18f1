// The coder environment as the links use it.

#include "asn1/coder_env.h"

#include <iterator>

#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/per_test_support.h"
#include "asn1/zgcp_fixture.h"

namespace {

using per_test::hex;

ZGCP::Message ping(int seq) {
    ZGCP::Message message;
    message.set_seq(seq);
    message.set_pdu().select_command().select_ping();
    return message;
}

TEST(CoderEnv, EncodesAndDecodesAMessageWithPer) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    EXPECT_EQ(ASN1::CoderEnv::per_Aligned, env.get_encodingRule());
    std::vector<char> frame;
    frame.reserve(200);
    ASSERT_TRUE(ASN1::encode(ping(1), &env, std::back_inserter(frame)));
    EXPECT_EQ("80 01 01 18", hex(frame));

    ZGCP::Message received;
    ASSERT_TRUE(ASN1::decode(frame.data(), frame.data() + frame.size(), &env, received, true));
    EXPECT_TRUE(received == ping(1));
}

TEST(CoderEnv, AFailedEncodingAppendsNothing) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    ZGCP::Message message;
    message.set_seq(1);
    message.set_pdu().select_command().select_testBpc();  // its mode selects nothing
    std::vector<char> frame{'\x55'};
    EXPECT_FALSE(ASN1::encode(message, &env, std::back_inserter(frame)));
    EXPECT_EQ(std::vector<char>{'\x55'}, frame);
    EXPECT_FALSE(ASN1::encode(ping(1), nullptr, std::back_inserter(frame)));
}

TEST(CoderEnv, EncodingIntoAKeptBufferReplacesWhatItHeld) {
    ASN1::CoderEnv env;
    ZGCP::Message bad;
    bad.set_pdu().select_command().select_testBpc();
    std::vector<char> buffer = per_test::octets("01 02 03 04 05 06 07 08");
    ASSERT_TRUE(env.encode(ping(2), buffer));
    EXPECT_EQ("80 01 02 18", hex(buffer));
    ASSERT_TRUE(env.encode(ping(3), buffer));
    EXPECT_EQ("80 01 03 18", hex(buffer));
    EXPECT_FALSE(env.encode(bad, buffer));
    EXPECT_TRUE(buffer.empty());
}

TEST(CoderEnv, OctetsAfterTheValueAreIgnored) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    std::vector<char> const frame = per_test::octets("80 01 01 18 FF FF");
    for (bool noEnvironment : {true, false}) {
        ZGCP::Message received;
        ASSERT_TRUE(ASN1::decode(frame.data(), frame.data() + frame.size(), &env, received, noEnvironment));
        EXPECT_TRUE(received == ping(1));
    }
    ZGCP::Message cut;
    EXPECT_FALSE(ASN1::decode(frame.data(), frame.data() + 3, &env, cut));
}

TEST(CoderEnv, ValueNotationRule) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::avn);
    std::string text;
    ASSERT_TRUE(ASN1::encode(ping(7), &env, std::back_inserter(text)));
    EXPECT_EQ("{\n  seq 7,\n  pdu command : ping : NULL\n}", text);
    ZGCP::Message parsed;
    ASSERT_TRUE(ASN1::decode(text.data(), text.data() + text.size(), &env, parsed));
    EXPECT_TRUE(parsed == ping(7));
    std::vector<char> octets;
    EXPECT_TRUE(env.encodePER(ping(7), std::back_inserter(octets))) << "the named coders ignore the rule";
    EXPECT_EQ("80 01 07 18", hex(octets));
}

TEST(CoderEnv, BasicEncodingRule) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::ber);
    std::vector<char> frame;
    ASSERT_TRUE(ASN1::encode(ping(1), &env, std::back_inserter(frame)));
    EXPECT_EQ("30 09 80 01 01 A2 04 A0 02 8C 00", hex(frame));
    ZGCP::Message received;
    ASSERT_TRUE(ASN1::decode(frame.data(), frame.data() + frame.size(), &env, received));
    EXPECT_TRUE(received == ping(1));
    std::vector<char> octets;
    EXPECT_TRUE(env.encodeBER(ping(1), std::back_inserter(octets)));
    EXPECT_EQ(frame, octets);
}

TEST(CoderEnv, RulesWithoutACoderCodeNothing) {
    ASN1::CoderEnv env;
    env.set_encodingRule(static_cast<ASN1::CoderEnv::EncodingRules>(7));
    std::vector<char> frame;
    EXPECT_FALSE(ASN1::encode(ping(1), &env, std::back_inserter(frame)));
    EXPECT_TRUE(frame.empty());
    std::vector<char> const input = per_test::octets("80 01 01 18");
    ZGCP::Message received;
    EXPECT_FALSE(ASN1::decode(input.data(), input.data() + input.size(), &env, received));
}

}  // namespace
