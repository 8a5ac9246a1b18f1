#include "asn1/integer.h"

#include <memory>
#include <string>
#include <typeinfo>

#include <gtest/gtest.h>

namespace {

using ASN1::Constrained_INTEGER;
using ASN1::ConstrainedInfo;
using ASN1::INTEGER;

ConstrainedInfo const extensible0to10 = {{&INTEGER::create, 2}, ASN1::ExtendableConstraint, 0, 10};
ConstrainedInfo const fromMinus5 = {{&INTEGER::create, 2}, ASN1::PartiallyConstrained, -5, 4294967295u};

TEST(INTEGER, StrictValidityReadsTheRangeUnsignedForANonNegativeLowerBound) {
    using Full = Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u>;
    Full full;
    full = 4294967295u;
    EXPECT_TRUE(full.isStrictValid());
    EXPECT_EQ(4294967295u, full.getValue());

    using Byte = Constrained_INTEGER<ASN1::FixedConstraint, 0, 255>;
    INTEGER minusOne(-1, &Byte::theInfo);
    EXPECT_FALSE(minusOne.isStrictValid()) << "-1 reads as 4294967295";
}

TEST(INTEGER, StrictValidityReadsTheRangeSignedForANegativeLowerBound) {
    using Signed = Constrained_INTEGER<ASN1::FixedConstraint, -128, 127>;
    INTEGER value(-5, &Signed::theInfo);
    EXPECT_TRUE(value.isStrictValid());
    value = 200;
    EXPECT_FALSE(value.isStrictValid());
    value = -129;
    EXPECT_FALSE(value.isStrictValid());
}

TEST(INTEGER, ExtensibleConstraintAcceptsAnyValueAsValidOnly) {
    INTEGER value(11, &extensible0to10);
    EXPECT_FALSE(value.isStrictValid());
    EXPECT_TRUE(value.isValid());
}

TEST(INTEGER, LowerBoundOnlyChecksJustThatBound) {
    INTEGER value(1000, &fromMinus5);
    EXPECT_TRUE(value.isStrictValid());
    value = -6;
    EXPECT_FALSE(value.isStrictValid());
}

TEST(INTEGER, UnconstrainedAcceptsEveryValue) {
    INTEGER value(INT32_MIN);
    EXPECT_TRUE(value.isStrictValid());
    EXPECT_TRUE(value.isValid());
}

TEST(INTEGER, EqualityComparesValuesNotRecords) {
    using Small = Constrained_INTEGER<ASN1::FixedConstraint, 0, 15>;
    INTEGER plain(7);
    Small small(7u);
    EXPECT_TRUE(plain == small);
    EXPECT_EQ(0, plain.compare(small));
}

TEST(INTEGER, CompareGivesTheDifferenceWithoutWrappingTheSign) {
    INTEGER a(5), b(3);
    EXPECT_EQ(2, a.compare(b));
    EXPECT_EQ(-2, b.compare(a));
    INTEGER big(INT32_MAX), negative(-1);
    EXPECT_GT(big.compare(negative), 0);
    EXPECT_LT(negative.compare(big), 0);
}

TEST(Constrained_INTEGER, EachInstanceHasItsOwnRecordAndClonesAsItself) {
    using Slot = Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023>;
    EXPECT_EQ(2u, Slot::theInfo.header.tag);
    EXPECT_EQ(ASN1::FixedConstraint, Slot::theInfo.constraintType);
    EXPECT_EQ(1023u, Slot::theInfo.upperLimit);
    Slot slot;
    slot = 1000u;
    std::unique_ptr<Slot> copy(slot.clone());
    EXPECT_EQ(typeid(Slot), typeid(*copy));
    EXPECT_EQ(1000u, copy->getValue());
    std::unique_ptr<ASN1::AbstractData> made(ASN1::AbstractData::create(&Slot::theInfo));
    EXPECT_EQ(typeid(Slot), typeid(*made));
}

TEST(Constrained_INTEGER, AddsToAnUnsignedNumber) {
    Constrained_INTEGER<ASN1::FixedConstraint, 0, 127> value(100u);
    EXPECT_EQ(105u, 5u + value);
}

ASN1::NameEntry const colours[] = {{-1, "none"}, {1, "red"}, {2, "green"}, {8, "blue"}};
ASN1::NamedIntegerInfo const colourInfo = {{{&ASN1::IntegerWithNamedNumber::create, 2}, ASN1::Unconstrained, 0, 4294967295u},
                                           colours, 4};

TEST(IntegerWithNamedNumber, FindsNamesByValueAndValuesByName) {
    ASN1::IntegerWithNamedNumber value(8, &colourInfo);
    std::string name = "unchanged";
    ASSERT_TRUE(value.getName(name));
    EXPECT_EQ("blue", name);
    value = 3;
    name = "unchanged";
    EXPECT_FALSE(value.getName(name));
    EXPECT_EQ("unchanged", name);
    value = 9;
    EXPECT_FALSE(value.getName(name)) << "above the last entry";

    EXPECT_TRUE(value.setFromName("none"));
    EXPECT_EQ(-1, value.getValue());
    EXPECT_FALSE(value.setFromName("purple"));
    EXPECT_EQ(-1, value.getValue());
}

TEST(IntegerWithNamedNumber, ClonesAsItselfAndKeepsItsNames) {
    ASN1::IntegerWithNamedNumber value(2, &colourInfo);
    std::unique_ptr<ASN1::INTEGER> copy(value.clone());
    EXPECT_EQ(typeid(ASN1::IntegerWithNamedNumber), typeid(*copy));
    EXPECT_EQ(&colourInfo, copy->info());
    EXPECT_EQ(2, copy->getValue());
    std::string name;
    EXPECT_TRUE(static_cast<ASN1::IntegerWithNamedNumber&>(*copy).getName(name));
    EXPECT_EQ("green", name);
}

}  // namespace
