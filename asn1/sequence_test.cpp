#include "asn1/sequence.h"

#include <memory>

#include <gtest/gtest.h>

#include "asn1/integer.h"
#include "asn1/zgcp_fixture.h"

namespace {

using ASN1::INTEGER;
using ASN1::SEQUENCE;

// SEQUENCE { a INTEGER OPTIONAL, b INTEGER OPTIONAL, ..., x INTEGER, y INTEGER, z INTEGER }
void const* const extFieldInfos[] = {&INTEGER::theInfo, &INTEGER::theInfo, &INTEGER::theInfo, &INTEGER::theInfo,
                                     &INTEGER::theInfo};
int const extFieldIds[] = {0, 1, 0, 0, 0};
char const* const extFieldNames[] = {"a", "b", "x", "y", "z"};
SEQUENCE::InfoType const withExtensions = {
    {&SEQUENCE::create, 16}, true, extFieldInfos, extFieldIds, 2, 3, 2, nullptr, nullptr, extFieldNames};

INTEGER& integerField(SEQUENCE& sequence, unsigned index) { return static_cast<INTEGER&>(*sequence.getField(index)); }

TEST(SEQUENCE, ANewValueHoldsItsMandatoryFieldsOnly) {
    ZGCP::Message message;
    EXPECT_EQ(nullptr, message.getField(0));
    EXPECT_EQ(nullptr, message.getField(1));
    ASSERT_NE(nullptr, message.getField(2));
    EXPECT_EQ(-1, static_cast<ASN1::CHOICE&>(*message.getField(2)).currentSelection());
    EXPECT_EQ(2u, message.optionalFieldMap().size());
    EXPECT_EQ(std::vector<char>{0}, message.optionalFieldMap().bytes());
    EXPECT_EQ(0u, message.extensionMap().size());
    EXPECT_EQ(nullptr, message.getField(3)) << "beyond the type's fields";
}

TEST(SEQUENCE, OmittingAFieldKeepsItsValue) {
    ZGCP::Message message;
    message.includeOptionalField(1, 1);
    EXPECT_EQ(0x40, message.optionalFieldMap().bytes()[0]);
    ASN1::AbstractData* const slot = message.getField(1);
    ASSERT_NE(nullptr, slot);
    integerField(message, 1) = 77;
    message.removeOptionalField(1);
    EXPECT_FALSE(message.hasOptionalField(1));
    EXPECT_EQ(slot, message.getField(1));
    message.includeOptionalField(1, 1);
    EXPECT_EQ(77, integerField(message, 1).getValue());
}

TEST(SEQUENCE, ExtensionPresenceGrowsTheExtensionMap) {
    SEQUENCE value(&withExtensions);
    value.includeOptionalField(4, 4);
    EXPECT_EQ(3u, value.extensionMap().size());
    EXPECT_FALSE(value.hasOptionalField(3));
    EXPECT_TRUE(value.hasOptionalField(4));
    EXPECT_FALSE(value.hasOptionalField(9));
    ASSERT_NE(nullptr, value.getField(4));
    EXPECT_EQ(nullptr, value.getField(3));

    value.includeOptionalField(9, 9);
    EXPECT_EQ(3u, value.extensionMap().size()) << "no growth beyond the known extension additions";
    EXPECT_FALSE(value.hasOptionalField(9));
}

TEST(SEQUENCE, AnExtensionPresetCreatesThosAdditions) {
    char const preset[] = {0x40};  // the second extension addition
    SEQUENCE::InfoType const presetInfo = {
        {&SEQUENCE::create, 16}, true, extFieldInfos, extFieldIds, 2, 3, 2, preset, nullptr, extFieldNames};
    SEQUENCE value(&presetInfo);
    EXPECT_EQ(3u, value.extensionMap().size());
    EXPECT_TRUE(value.hasOptionalField(3));
    EXPECT_NE(nullptr, value.getField(3));
    EXPECT_EQ(nullptr, value.getField(2));
}

TEST(SEQUENCE, ComparesPresenceBeforeContents) {
    SEQUENCE a(&withExtensions), b(&withExtensions);
    EXPECT_EQ(0, a.compare(b));
    a.includeOptionalField(0, 0);
    EXPECT_EQ(1, a.compare(b));
    EXPECT_EQ(-1, b.compare(a));
    b.includeOptionalField(0, 0);
    integerField(b, 0) = 4;
    EXPECT_EQ(-4, a.compare(b));
}

TEST(SEQUENCE, ComparesKnownExtensionAdditions) {
    SEQUENCE a(&withExtensions), b(&withExtensions);
    a.includeOptionalField(2, 2);
    a.includeOptionalField(3, 3);
    b.includeOptionalField(2, 2);
    b.includeOptionalField(3, 3);
    integerField(a, 2) = 1;
    EXPECT_NE(0, a.compare(b)) << "they differ in the first addition and agree in the second";
    integerField(b, 2) = 1;
    EXPECT_EQ(0, a.compare(b));
}

TEST(SEQUENCE, CopiesAreDeepAndKeepAbsentFields) {
    SEQUENCE original(&withExtensions);
    original.includeOptionalField(1, 1);
    integerField(original, 1) = 9;
    original.removeOptionalField(1);
    original.includeOptionalField(3, 3);

    SEQUENCE copy(original);
    ASSERT_NE(nullptr, copy.getField(1));
    EXPECT_NE(original.getField(1), copy.getField(1));
    EXPECT_EQ(9, integerField(copy, 1).getValue());
    EXPECT_FALSE(copy.hasOptionalField(1));
    EXPECT_TRUE(copy.hasOptionalField(3));
    EXPECT_EQ(0, copy.compare(original));

    SEQUENCE assigned(&withExtensions);
    assigned.includeOptionalField(0, 0);
    assigned = original;
    EXPECT_FALSE(assigned.hasOptionalField(0));
    EXPECT_EQ(2u, assigned.extensionMap().size());
    integerField(original, 1) = 10;
    EXPECT_EQ(9, integerField(assigned, 1).getValue());

    std::unique_ptr<SEQUENCE> clone(original.clone());
    EXPECT_EQ(0, clone->compare(original));
}

TEST(SEQUENCE, NamesAndTagsAreCheckedAgainstTheType) {
    SEQUENCE value(&withExtensions);
    EXPECT_STREQ("z", value.getFieldName(4));
    EXPECT_EQ(nullptr, value.getFieldName(5));
    EXPECT_EQ(nullptr, value.getFieldName(-1));
    EXPECT_EQ(0, value.tagMode());
    EXPECT_EQ(0x800003, value.getFieldTag(3));
    EXPECT_EQ(0, value.getFieldTag(5));

    SEQUENCE::InfoType const ownTags = {{&SEQUENCE::create, 16}, true, extFieldInfos, extFieldIds, 2, 3, 2, nullptr,
                                        &SEQUENCE::defaultTag, extFieldNames};
    EXPECT_EQ(2, SEQUENCE(&ownTags).tagMode());
    EXPECT_EQ(2, SEQUENCE(&ownTags).getFieldTag(1));
    unsigned const table[] = {0x400001, 0x400002, 0x400003, 0x400004, 0x400005};
    SEQUENCE::InfoType const tabled = {{&SEQUENCE::create, 16}, true, extFieldInfos, extFieldIds, 2, 3, 2, nullptr,
                                       table, extFieldNames};
    EXPECT_EQ(1, SEQUENCE(&tabled).tagMode());
    EXPECT_EQ(0x400005, SEQUENCE(&tabled).getFieldTag(4));
}

TEST(SEQUENCE, EnsureFieldCreatesAMissingField) {
    SEQUENCE value(&withExtensions);
    ASN1::AbstractData* const field = value.ensureField(2);
    ASSERT_NE(nullptr, field);
    EXPECT_EQ(field, value.ensureField(2));
    EXPECT_FALSE(value.hasOptionalField(2)) << "presence is not touched";
    EXPECT_EQ(nullptr, value.ensureField(5));
}

}  // namespace
