#include "asn1/sequence_of.h"

#include <memory>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>

#include "asn1/abstract_string.h"
#include "asn1/integer.h"
#include "asn1/zgcp_fixture.h"

namespace {

using ASN1::INTEGER;
using Integers = ASN1::SEQUENCE_OF<INTEGER>;

Integers listOf(std::vector<int> const& values) {
    Integers list;
    for (int value : values) list.push_back(INTEGER(value));
    return list;
}

std::vector<int> valuesOf(Integers const& list) {
    std::vector<int> values;
    for (INTEGER const& element : list) values.push_back(element.getValue());
    return values;
}

TEST(SEQUENCE_OF, RecordIsACompleteConstant) {
    EXPECT_EQ(16u, Integers::theInfo.constraint.header.tag);
    EXPECT_EQ(&INTEGER::theInfo, Integers::theInfo.elementInfo);
    EXPECT_EQ(17u, ASN1::SET_OF<INTEGER>::theInfo.constraint.header.tag);
    std::unique_ptr<ASN1::AbstractData> made(ASN1::AbstractData::create(&Integers::theInfo));
    EXPECT_EQ(typeid(Integers), typeid(*made));
    std::unique_ptr<ASN1::AbstractData> set(ASN1::AbstractData::create(&ASN1::SET_OF<INTEGER>::theInfo));
    EXPECT_EQ(typeid(ASN1::SET_OF<INTEGER>), typeid(*set));
}

TEST(SEQUENCE_OF, ComparesElementsThenSizes) {
    EXPECT_EQ(-1, listOf({1, 2}).compare(listOf({1, 2, 3})));
    EXPECT_EQ(1, listOf({1, 3}).compare(listOf({1, 2, 3})));
    EXPECT_EQ(0, listOf({}).compare(listOf({})));
}

TEST(SEQUENCE_OF, ResizeCreatesAndDeletesElements) {
    Integers list;
    list.resize(3);
    EXPECT_EQ((std::vector<int>{0, 0, 0}), valuesOf(list));
    list.resize(1);
    EXPECT_EQ(1u, list.size());
}

TEST(SEQUENCE_OF, AssignmentReplacesTheElementsByClones) {
    Integers source = listOf({1, 2, 3});
    Integers target = listOf({9, 9, 9, 9, 9});
    target = source;
    EXPECT_EQ((std::vector<int>{1, 2, 3}), valuesOf(target));
    EXPECT_NE(&source[0], &target[0]);
    EXPECT_EQ((std::vector<int>{1, 2, 3}), valuesOf(source));
}

TEST(SEQUENCE_OF, PushBackStoresACopy) {
    INTEGER value(4);
    Integers list;
    list.push_back(value);
    value = 5;
    EXPECT_EQ(4, list[0].getValue());
    list.push_back(static_cast<ASN1::AbstractData*>(nullptr));
    EXPECT_EQ(1u, list.size()) << "a null element is never stored";
}

TEST(SEQUENCE_OF, InsertClonesAndEraseRemoves) {
    Integers list = listOf({1, 4});
    list.insert(list.SEQUENCE_OF_Base::begin() + 1, 2, INTEGER(7));
    EXPECT_EQ((std::vector<int>{1, 7, 7, 4}), valuesOf(list));
    Integers other = listOf({8, 9});
    list.insert(list.SEQUENCE_OF_Base::end(), other.SEQUENCE_OF_Base::begin(), other.SEQUENCE_OF_Base::end());
    EXPECT_EQ((std::vector<int>{1, 7, 7, 4, 8, 9}), valuesOf(list));
    auto next = list.erase(list.SEQUENCE_OF_Base::begin() + 1, list.SEQUENCE_OF_Base::begin() + 3);
    EXPECT_EQ(4, static_cast<INTEGER&>(**next).getValue());

    auto typed = list.erase(++list.begin());
    EXPECT_EQ(8, typed->getValue());
    EXPECT_EQ((std::vector<int>{1, 8, 9}), valuesOf(list));
}

TEST(SEQUENCE_OF, IteratorsWriteThroughToTheElements) {
    Integers list = listOf({1, 2});
    for (INTEGER& element : list) element = element.getValue() * 10;
    EXPECT_EQ((std::vector<int>{10, 20}), valuesOf(list));
    Integers::const_iterator first = list.begin();
    EXPECT_EQ(10, (first++)->getValue());
    EXPECT_EQ(20, first->getValue());
}

TEST(SEQUENCE_OF, ElementsOfGeneratedTypesAreOfTheirClass) {
    ASN1::SEQUENCE_OF<ZGCP::TrunkCfg> list;
    ZGCP::TrunkCfg cfg;
    cfg.set_trunk(2);
    list.push_back(cfg);
    list.resize(2);
    EXPECT_EQ(typeid(ZGCP::TrunkCfg), typeid(list[0]));
    EXPECT_EQ(typeid(ZGCP::TrunkCfg), typeid(list[1]));
    EXPECT_EQ(2, list[0].get_trunk().getValue());
    std::unique_ptr<ASN1::SEQUENCE_OF<ZGCP::TrunkCfg>> copy(list.clone());
    EXPECT_EQ(typeid(ZGCP::TrunkCfg), typeid((*copy)[1]));

    ASN1::SEQUENCE_OF<ASN1::IA5String> names;
    names.push_back(ASN1::IA5String("x"));
    names.resize(2);
    EXPECT_EQ(typeid(ASN1::IA5String), typeid(names[1]));
}

}  // namespace
