#include "asn1/open_data.h"

#include <memory>
#include <typeinfo>

#include <gtest/gtest.h>

#include "asn1/integer.h"

namespace {

using ASN1::OpenData;

OpenData withOctets(std::vector<char> const& octets) {
    OpenData open;
    open.grab(new std::vector<char>(octets));
    return open;
}

TEST(OpenData, ComparesValuesThenOctetsThenEmptiness) {
    OpenData value(new ASN1::INTEGER(3), &OpenData::theInfo);
    EXPECT_EQ(1, value.compare(withOctets({1})));
    EXPECT_EQ(-1, withOctets({1}).compare(OpenData()));
    EXPECT_EQ(0, OpenData().compare(OpenData()));
    EXPECT_EQ(-1, withOctets({1, 2}).compare(withOctets({1, 2, 0})));
    OpenData other(new ASN1::INTEGER(1), &OpenData::theInfo);
    EXPECT_EQ(2, value.compare(other));
}

TEST(OpenData, CopiesValueAndOctets) {
    OpenData original(new ASN1::INTEGER(3), &OpenData::theInfo);
    original.grab(new std::vector<char>{7});
    OpenData copy(original);
    EXPECT_NE(&original.get_data(), &copy.get_data());
    EXPECT_EQ(std::vector<char>{7}, copy.get_buf());
    EXPECT_EQ(0, copy.compare(original));
    copy.grab(nullptr);
    EXPECT_FALSE(copy.has_buf());
    EXPECT_FALSE(copy.isEmpty());
    EXPECT_TRUE(OpenData().isEmpty());
}

TEST(TypeConstrainedOpenData, CreateMakesTheContainedValue) {
    ASN1::TypeConstrainedOpenInfo const holdsInteger = {{&ASN1::TypeConstrainedOpenData::create, 0},
                                                        &ASN1::INTEGER::theInfo};
    std::unique_ptr<ASN1::AbstractData> open(ASN1::AbstractData::create(&holdsInteger));
    ASSERT_EQ(typeid(ASN1::TypeConstrainedOpenData), typeid(*open));
    auto& holder = static_cast<ASN1::TypeConstrainedOpenData&>(*open);
    ASSERT_TRUE(holder.has_data());
    EXPECT_EQ(typeid(ASN1::INTEGER), typeid(holder.get_data()));
    std::unique_ptr<ASN1::TypeConstrainedOpenData> copy(holder.clone());
    EXPECT_EQ(typeid(ASN1::TypeConstrainedOpenData), typeid(*copy));
    EXPECT_EQ(0, copy->compare(holder));
}

}  // namespace
