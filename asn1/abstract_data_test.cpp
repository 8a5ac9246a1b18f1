#include "asn1/abstract_data.h"

#include <memory>
#include <typeinfo>

#include <gtest/gtest.h>

#include "asn1/asn1.h"

namespace {

TEST(CountBits, SizesBitFieldsAtEveryThreshold) {
    EXPECT_EQ(32u, ASN1::CountBits(0));
    EXPECT_EQ(0u, ASN1::CountBits(1));
    EXPECT_EQ(1u, ASN1::CountBits(2));
    EXPECT_EQ(2u, ASN1::CountBits(3));
    EXPECT_EQ(2u, ASN1::CountBits(4));
    EXPECT_EQ(3u, ASN1::CountBits(5));
    EXPECT_EQ(8u, ASN1::CountBits(256));
    EXPECT_EQ(9u, ASN1::CountBits(257));
    EXPECT_EQ(31u, ASN1::CountBits(2147483648u));
    EXPECT_EQ(32u, ASN1::CountBits(2147483649u));
    EXPECT_EQ(32u, ASN1::CountBits(4294967295u));
}

int compareBytes(std::string const& a, std::string const& b) {
    return ASN1::lexicographic_compare_bytes(a.data(), a.data() + a.size(), b.data(), b.data() + b.size());
}

TEST(LexicographicCompareBytes, GivesTheOctetDifferenceOrThePrefixOrder) {
    EXPECT_EQ(-1, compareBytes("ab", "abc"));
    EXPECT_EQ(1, compareBytes("abc", "ab"));
    EXPECT_EQ(0, compareBytes("", ""));
    EXPECT_EQ(1, compareBytes("b", "a"));
    EXPECT_EQ(-254, compareBytes("\x01", "\xFF")) << "octets compare as unsigned numbers";
}

TEST(AbstractData, CreateUsesTheRecordsFactory) {
    EXPECT_EQ(nullptr, ASN1::AbstractData::create(nullptr));
    std::unique_ptr<ASN1::AbstractData> value(ASN1::AbstractData::create(&ASN1::INTEGER::theInfo));
    ASSERT_NE(nullptr, value);
    EXPECT_EQ(typeid(ASN1::INTEGER), typeid(*value));
    EXPECT_EQ(2, value->getTag());
    EXPECT_EQ(0, static_cast<ASN1::INTEGER&>(*value).getValue());
}

TEST(AbstractData, BuiltInRecordsCarryTheUniversalTags) {
    EXPECT_EQ(5u, ASN1::Null::theInfo.tag);
    EXPECT_EQ(1u, ASN1::BOOLEAN::theInfo.tag);
    EXPECT_EQ(3u, ASN1::BIT_STRING::theInfo.header.tag);
    EXPECT_EQ(4u, ASN1::OCTET_STRING::theInfo.header.tag);
    EXPECT_EQ(6u, ASN1::OBJECT_IDENTIFIER::theInfo.tag);
    EXPECT_EQ(18u, ASN1::NumericString::theInfo.constraint.header.tag);
    EXPECT_EQ(19u, ASN1::PrintableString::theInfo.constraint.header.tag);
    EXPECT_EQ(22u, ASN1::IA5String::theInfo.constraint.header.tag);
    EXPECT_EQ(24u, ASN1::GeneralizedTime::theInfo.tag);
    EXPECT_EQ(26u, ASN1::VisibleString::theInfo.constraint.header.tag);
    EXPECT_EQ(27u, ASN1::GeneralString::theInfo.constraint.header.tag);
    EXPECT_EQ(30u, ASN1::BMPString::theInfo.constraint.header.tag);
    EXPECT_EQ(0u, ASN1::OpenData::theInfo.tag);
}

TEST(AbstractData, EveryBuiltInRecordMakesAValueOfItsOwnClassThatClonesAsItself) {
    void const* const records[] = {&ASN1::Null::theInfo,         &ASN1::BOOLEAN::theInfo,
                                   &ASN1::INTEGER::theInfo,      &ASN1::BIT_STRING::theInfo,
                                   &ASN1::OCTET_STRING::theInfo, &ASN1::OBJECT_IDENTIFIER::theInfo,
                                   &ASN1::IA5String::theInfo,    &ASN1::PrintableString::theInfo,
                                   &ASN1::GeneralizedTime::theInfo, &ASN1::BMPString::theInfo,
                                   &ASN1::OpenData::theInfo};
    for (void const* record : records) {
        std::unique_ptr<ASN1::AbstractData> value(ASN1::AbstractData::create(record));
        ASSERT_NE(nullptr, value);
        EXPECT_EQ(record, value->info());
        std::unique_ptr<ASN1::AbstractData> copy(value->clone());
        EXPECT_EQ(typeid(*value), typeid(*copy));
        EXPECT_EQ(record, copy->info());
        EXPECT_TRUE(*copy == *value);
    }
}

}  // namespace
