#include "asn1/choice.h"

#include <memory>

#include <gtest/gtest.h>

#include "asn1/integer.h"
#include "asn1/null.h"
#include "asn1/zgcp_fixture.h"

namespace {

using ASN1::CHOICE;
using ASN1::INTEGER;

void const* const sixInfos[] = {&INTEGER::theInfo, &INTEGER::theInfo, &INTEGER::theInfo,
                                &INTEGER::theInfo, &INTEGER::theInfo, &INTEGER::theInfo};
char const* const sixNames[] = {"a", "b", "c", "d", "e", "f"};
// Four root alternatives and two known extension alternatives.
CHOICE::InfoType const six = {{&CHOICE::create, 0}, true, sixInfos, 4, 6, nullptr, sixNames};

TEST(CHOICE, SelectKeepsTheCurrentAlternativeAndMakesOtherOnesFresh) {
    CHOICE choice(&six);
    EXPECT_EQ(-1, choice.currentSelection());
    ASSERT_TRUE(choice.select(2));
    static_cast<INTEGER&>(*choice.getSelection()) = 5;
    EXPECT_TRUE(choice.select(2));
    EXPECT_EQ(5, static_cast<INTEGER&>(*choice.getSelection()).getValue());
    ASSERT_TRUE(choice.select(5)) << "a known extension alternative";
    EXPECT_EQ(0, static_cast<INTEGER&>(*choice.getSelection()).getValue());
}

TEST(CHOICE, SelectingAnAlternativeTheTypeDoesNotListLeavesItUnknown) {
    CHOICE choice(&six);
    choice.select(1);
    EXPECT_FALSE(choice.select(6));
    EXPECT_TRUE(choice.isUnknownSelection());
    EXPECT_EQ(nullptr, choice.getSelection());
    choice.select(1);
    EXPECT_FALSE(choice.select(-1));
    EXPECT_TRUE(choice.isUnknownSelection());
}

TEST(CHOICE, NamesAndTagsOfTheSelectionAreBoundsChecked) {
    CHOICE choice(&six);
    EXPECT_EQ(nullptr, choice.getSelectionName());
    EXPECT_EQ(0, choice.getSelectionTag());
    choice.select(5);
    EXPECT_STREQ("f", choice.getSelectionName());
    EXPECT_EQ(0x800005, choice.getSelectionTag());
    choice.setSelection(40, new INTEGER);
    EXPECT_EQ(nullptr, choice.getSelectionName());
    EXPECT_EQ(0x800028, choice.getSelectionTag());

    unsigned const rootTags[] = {0x800001, 0x800003, 0x800005, 0x800007};
    CHOICE::InfoType const tagged = {{&CHOICE::create, 0}, true, sixInfos, 4, 6, rootTags, sixNames};
    CHOICE withTable(&tagged);
    withTable.select(3);
    EXPECT_EQ(0x800007, withTable.getSelectionTag());
    withTable.select(4);
    EXPECT_EQ(0, withTable.getSelectionTag()) << "the table has no entry for an extension alternative";
}

TEST(CHOICE, SetSelectionMayRenumberTheHeldValue) {
    CHOICE choice(&six, 0, new INTEGER(6));
    ASN1::AbstractData* const held = choice.getSelection();
    EXPECT_EQ(held, choice.setSelection(3, held));
    EXPECT_EQ(3, choice.currentSelection());
    EXPECT_EQ(6, static_cast<INTEGER&>(*choice.getSelection()).getValue());
}

TEST(CHOICE, ComparesSelectionsThenValues) {
    CHOICE a(&six), b(&six);
    EXPECT_EQ(0, a.compare(b));
    a.select(2);
    b.select(5);
    EXPECT_EQ(-3, a.compare(b));
    b.select(2);
    static_cast<INTEGER&>(*b.getSelection()) = 3;
    EXPECT_EQ(-3, a.compare(b));
    a.select(7);
    b.select(9);
    EXPECT_EQ(0, a.compare(b)) << "two unknown selections";
}

TEST(CHOICE, CopiesCloneTheValue) {
    CHOICE original(&six, 1, new INTEGER(8));
    CHOICE copy(original);
    EXPECT_NE(original.getSelection(), copy.getSelection());
    EXPECT_EQ(0, copy.compare(original));
    CHOICE assigned(&six);
    assigned = original;
    EXPECT_EQ(1, assigned.currentSelection());
    EXPECT_EQ(8, static_cast<INTEGER&>(*assigned.getSelection()).getValue());
    std::unique_ptr<CHOICE> clone(original.clone());
    EXPECT_EQ(0, clone->compare(original));
}

TEST(CHOICE, SetIdWithoutATagTableSelectsByNumber) {
    CHOICE choice(&six);
    EXPECT_TRUE(choice.setID(3, 2));
    EXPECT_EQ(3, choice.currentSelection());
    EXPECT_FALSE(choice.setID(6, 2));
    EXPECT_TRUE(choice.isUnknownSelection());
}

TEST(CHOICE, SetIdSearchesTheTagTable) {
    unsigned const rootTags[] = {0x400001, 0x400003, 0x400005, 0x400007};
    CHOICE::InfoType const tagged = {{&CHOICE::create, 0}, true, sixInfos, 4, 6, rootTags, sixNames};
    CHOICE choice(&tagged);
    EXPECT_TRUE(choice.setID(5, 0x40));
    EXPECT_EQ(2, choice.currentSelection());
    EXPECT_FALSE(choice.setID(4, 0x40));
    EXPECT_FALSE(choice.setID(9, 0x40));
    EXPECT_TRUE(choice.isUnknownSelection());
}

TEST(CHOICE, SetIdDescendsIntoAnUntaggedFirstAlternative) {
    void const* const outerInfos[] = {&ZGCP::Response::theInfo, &INTEGER::theInfo};
    unsigned const outerTags[] = {0, 0x800009};
    char const* const outerNames[] = {"inner", "other"};
    CHOICE::InfoType const outer = {{&CHOICE::create, 0}, false, outerInfos, 2, 2, outerTags, outerNames};
    CHOICE choice(&outer);
    ASSERT_TRUE(choice.setID(1, 0x80)) << "alternative 1 of the inner Response";
    EXPECT_EQ(0, choice.currentSelection());
    EXPECT_TRUE(static_cast<ZGCP::Response&>(*choice.getSelection()).error_isSelected());
    EXPECT_FALSE(choice.setID(5, 0x80));
    EXPECT_TRUE(choice.isUnknownSelection());
    EXPECT_EQ(nullptr, choice.getSelection());
}

}  // namespace
