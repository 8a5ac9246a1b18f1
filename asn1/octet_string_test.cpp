#include "asn1/octet_string.h"

#include <gtest/gtest.h>

#include "asn1/bit_string.h"

namespace {

using ASN1::ConstrainedInfo;
using ASN1::OCTET_STRING;

ConstrainedInfo const size1to4 = {{&OCTET_STRING::create, 4}, ASN1::FixedConstraint, 1, 4};
ConstrainedInfo const size1to4Extensible = {{&OCTET_STRING::create, 4}, ASN1::ExtendableConstraint, 1, 4};

TEST(OCTET_STRING, SizeValidityFollowsTheConstraintType) {
    OCTET_STRING fixed(5, 'x', &size1to4);
    EXPECT_FALSE(fixed.isValid());
    EXPECT_FALSE(fixed.isStrictlyValid());
    OCTET_STRING extensible(5, 'x', &size1to4Extensible);
    EXPECT_TRUE(extensible.isValid());
    EXPECT_FALSE(extensible.isStrictlyValid());
    OCTET_STRING empty(&size1to4);
    EXPECT_FALSE(empty.isValid());
    EXPECT_FALSE(empty.isStrictlyValid());
    OCTET_STRING fits(4, 'x', &size1to4);
    EXPECT_TRUE(fits.isStrictlyValid());
}

TEST(OCTET_STRING, StringConversionKeepsZeroOctets) {
    OCTET_STRING octets(std::vector<char>{0x41, 0x00, 0x42});
    std::string const text = octets;
    EXPECT_EQ(std::string("A\0B", 3), text);
}

TEST(OCTET_STRING, ComparesOctetsWhateverTheRecords) {
    OCTET_STRING ab(std::vector<char>{'a', 'b'});
    OCTET_STRING abc(std::vector<char>{'a', 'b', 'c'}, &size1to4);
    EXPECT_EQ(-1, ab.compare(abc));
    OCTET_STRING ab2(std::vector<char>{'a', 'b'}, &size1to4);
    EXPECT_EQ(0, ab.compare(ab2));
    EXPECT_TRUE(ab == ab2);
    ab2 = std::vector<char>{'a', 'c'};
    EXPECT_EQ(-1, ab.compare(ab2));
    EXPECT_EQ(&size1to4, ab2.info()) << "assignment keeps the record";
}

TEST(BIT_STRING, ResizePacksBitsMostSignificantFirst) {
    ASN1::BIT_STRING bits;
    bits.resize(9);
    EXPECT_EQ(2u, bits.getData().size());
    EXPECT_FALSE(bits[9]);
    bits.getData()[0] = static_cast<char>(0x80);
    bits.getData()[1] = static_cast<char>(0x80);
    EXPECT_TRUE(bits[0]);
    EXPECT_TRUE(bits[8]);
    for (unsigned i = 1; i < 8; ++i) EXPECT_FALSE(bits[i]) << i;
    EXPECT_FALSE(bits[100]);
}

TEST(BIT_STRING, ShrinkingDropsTheBitsPastTheNewSize) {
    ASN1::BIT_STRING bits;
    bits.resize(16);
    bits.getData()[1] = static_cast<char>(0xFF);
    bits.resize(10);
    EXPECT_TRUE(bits[9]);
    bits.resize(16);
    EXPECT_FALSE(bits[10]) << "growing again brings zeros";
}

TEST(BIT_STRING, ComparesCommonOctetsThenSizes) {
    ASN1::BIT_STRING a, b;
    a.resize(12);
    b.resize(9);
    EXPECT_EQ(3, a.compare(b));
    b.resize(16);
    b.getData()[0] = 1;
    EXPECT_EQ(-1, a.compare(b));
}

}  // namespace
