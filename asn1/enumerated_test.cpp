#include "asn1/enumerated.h"

#include <gtest/gtest.h>

namespace {

using ASN1::ENUMERATED;
using ASN1::EnumeratedInfo;

char const* const causes[] = {"ok", "fsm=32", "unexpected_command=64", "hardware=128"};
EnumeratedInfo const causeInfo = {{&ENUMERATED::create, 10}, false, 128, causes, 4};

char const* const states[] = {"not-use=-1", "active", "standby"};
EnumeratedInfo const stateInfo = {{&ENUMERATED::create, 10}, false, 1, states, 3};

char const* const months[] = {"jan", "feb", "mar", "apr", "may", "jun", "jul",
                              "aug", "sep", "oct", "nov", "dec", "extra"};
EnumeratedInfo const denseInfo = {{&ENUMERATED::create, 10}, false, 12, months, 13};
EnumeratedInfo const extensibleDenseInfo = {{&ENUMERATED::create, 10}, true, 12, months, 13};

TEST(ENUMERATED, SparseNamesAreFoundByValue) {
    ENUMERATED value(&causeInfo);
    EXPECT_EQ("ok", value.getName());
    value.setFromInt(32);
    EXPECT_EQ("fsm", value.getName());
    value.setFromInt(1);
    EXPECT_TRUE(value.getName().empty()) << "no item declares 1";
    EXPECT_TRUE(value.setFromName("hardware"));
    EXPECT_EQ(128, value.asInt());
    EXPECT_FALSE(value.setFromName("hardware=128"));
    EXPECT_EQ(129, value.asInt()) << "a missing name stores maximum + 1";
}

TEST(ENUMERATED, ANegativeDeclaredValueHasItsName) {
    ENUMERATED value(&stateInfo);
    value.setFromInt(-1);
    EXPECT_EQ("not-use", value.getName());
    value.setFromInt(0);
    EXPECT_EQ("active", value.getName());
    value.setFromInt(1);
    EXPECT_EQ("standby", value.getName());
}

TEST(ENUMERATED, DenseNamesStopAtTheMaximum) {
    ENUMERATED value(&denseInfo);
    value.setFromInt(12);
    EXPECT_EQ("extra", value.getName());
    value.setFromInt(13);
    EXPECT_TRUE(value.getName().empty());
    value.setFromInt(-1);
    EXPECT_TRUE(value.getName().empty());
}

TEST(ENUMERATED, StrictValidityMeansADeclaredValue) {
    ENUMERATED value(&causeInfo);
    value.setFromInt(64);
    EXPECT_TRUE(value.isStrictlyValid());
    value.setFromInt(63);
    EXPECT_FALSE(value.isStrictlyValid()) << "below the maximum but not declared";
    EXPECT_FALSE(value.isValid()) << "the type is not extensible";
    value.setFromInt(-5);
    EXPECT_FALSE(value.isStrictlyValid());

    ENUMERATED extensible(&extensibleDenseInfo);
    extensible.setFromInt(13);
    EXPECT_TRUE(extensible.isValid());
    EXPECT_FALSE(extensible.isStrictlyValid());
}

TEST(ENUMERATED, NamesBeyondTheCountAreNotRead) {
    // Only the first two entries belong to this type; the lookups must not reach the rest.
    EnumeratedInfo const shortInfo = {{&ENUMERATED::create, 10}, false, 128, causes, 2};
    ENUMERATED value(&shortInfo);
    value.setFromInt(64);
    EXPECT_TRUE(value.getName().empty());
    EXPECT_FALSE(value.isStrictlyValid());
    EXPECT_FALSE(value.setFromName("unexpected_command"));
}

TEST(ENUMERATED, AssignmentCopiesTheValueAndKeepsTheRecord) {
    ENUMERATED a(&causeInfo), b(&denseInfo);
    b.setFromInt(5);
    a = b;
    EXPECT_EQ(5, a.asInt());
    EXPECT_EQ(&causeInfo, a.info());
    EXPECT_EQ(128, a.getMaximum());
    EXPECT_EQ(0, a.compare(b));
    a.setFromInt(7);
    EXPECT_EQ(2, a.compare(b));
}

}  // namespace
