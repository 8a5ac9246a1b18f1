#include "asn1/abstract_string.h"

#include <memory>
#include <sstream>
#include <typeinfo>

#include <gtest/gtest.h>

#include "asn1/bmp_string.h"

namespace {

using ASN1::AbstractString;
using ASN1::IA5String;
using ASN1::StringInfo;

TEST(CharacterSets, ListTheirCharactersInAscendingOrder) {
    EXPECT_EQ(11u, ASN1::NumericString::theInfo.characterSetSize);
    EXPECT_EQ(74u, ASN1::PrintableString::theInfo.characterSetSize);
    EXPECT_EQ(95u, ASN1::VisibleString::theInfo.characterSetSize);
    EXPECT_EQ(128u, ASN1::IA5String::theInfo.characterSetSize);
    EXPECT_EQ(256u, ASN1::GeneralString::theInfo.characterSetSize);
    EXPECT_EQ('\0', ASN1::IA5StringSet[0]);
    EXPECT_EQ('~', ASN1::VisibleStringSet[94]);
    EXPECT_EQ('z', ASN1::PrintableStringSet[73]);
    for (unsigned i = 0; i < 256; ++i) EXPECT_EQ(i, static_cast<unsigned char>(ASN1::GeneralStringSet[i]));
    EXPECT_EQ(7u, ASN1::IA5String::theInfo.numBitsUnaligned);
    EXPECT_EQ(8u, ASN1::IA5String::theInfo.numBitsAligned);
    EXPECT_EQ(4u, ASN1::NumericString::theInfo.numBitsAligned);
}

TEST(AbstractString, FindsCharactersOutsideTheSet) {
    IA5String text(std::string("ab\x80"));
    EXPECT_EQ(2u, text.find_first_invalid());
    EXPECT_FALSE(text.isValid());
    EXPECT_FALSE(text.isStrictlyValid());

    AbstractString digits(&ASN1::NumericString::theInfo, "12 34");
    EXPECT_TRUE(digits.isValid());
    digits.assign(std::string("12a4"));
    EXPECT_FALSE(digits.isValid());
    EXPECT_EQ(2u, digits.find_first_invalid());

    AbstractString general(&ASN1::GeneralString::theInfo, "\xFF\x01");
    EXPECT_TRUE(general.isStrictlyValid());
}

TEST(AbstractString, AnEmptySetAcceptsAnyText) {
    StringInfo const anything = {{{&AbstractString::create, 22}, ASN1::Unconstrained, 0, 4294967295u}, nullptr, 0, 8, 8, 8};
    AbstractString text(&anything, std::string("\x80\xFF", 2));
    EXPECT_EQ(std::string::npos, text.find_first_invalid());
    EXPECT_TRUE(text.isStrictlyValid());
}

TEST(AbstractString, SizeValidityIgnoresTheUpperBoundOfAnExtensibleConstraint) {
    StringInfo const sized = {{{&IA5String::create, 22}, ASN1::FixedConstraint, 1, 4}, ASN1::IA5StringSet, 128, 7, 7, 8};
    StringInfo const extensible = {{{&IA5String::create, 22}, ASN1::ExtendableConstraint, 1, 4},
                                   ASN1::IA5StringSet, 128, 7, 7, 8};
    IA5String fixedText("hello", &sized), extensibleText("hello", &extensible);
    EXPECT_FALSE(fixedText.isValid());
    EXPECT_TRUE(extensibleText.isValid());
    EXPECT_FALSE(extensibleText.isStrictlyValid());
    IA5String empty("", &sized);
    EXPECT_FALSE(empty.isValid());
}

TEST(AbstractString, ComparesAndPrintsTheText) {
    IA5String a("abc"), b("abd");
    EXPECT_LT(a.compare(b), 0);
    b = "abc";
    EXPECT_TRUE(a == b);
    std::ostringstream out;
    out << a;
    EXPECT_EQ("abc", out.str());
}

TEST(IA5String, ClonesAsItself) {
    IA5String text("name");
    std::unique_ptr<IA5String> copy(text.clone());
    EXPECT_EQ(typeid(IA5String), typeid(*copy));
    EXPECT_EQ("name", *copy);
    std::unique_ptr<ASN1::AbstractData> made(ASN1::AbstractData::create(&IA5String::theInfo));
    EXPECT_EQ(typeid(IA5String), typeid(*made));
}

TEST(BMPString, CharactersMustLieInTheCodeRange) {
    ASN1::BMPStringInfo const latin = {{{&ASN1::BMPString::create, 30}, ASN1::FixedConstraint, 0, 3}, 0x20, 0xFF, 8, 8};
    ASN1::BMPString text(L"a\u00e9", &latin);
    EXPECT_EQ(2u, text.first_illegal_at());
    EXPECT_TRUE(text.isStrictlyValid());
    text.assign(L"a\u0100bc", 4);
    EXPECT_EQ(1u, text.first_illegal_at());
    EXPECT_FALSE(text.isValid());
    ASN1::BMPString wide(L"\uffff");
    EXPECT_TRUE(wide.isStrictlyValid());
    EXPECT_GT(wide.compare(ASN1::BMPString(L"a")), 0);
}

}  // namespace
