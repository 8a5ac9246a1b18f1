#include "asn1/object_identifier.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

using ASN1::OBJECT_IDENTIFIER;

OBJECT_IDENTIFIER make(std::vector<unsigned> const& arcs) {
    OBJECT_IDENTIFIER id;
    for (unsigned arc : arcs) id.append(arc);
    return id;
}

std::vector<unsigned> arcsOf(OBJECT_IDENTIFIER const& id) {
    std::vector<unsigned> arcs;
    for (unsigned i = 0; i < id.levels(); ++i) arcs.push_back(id[i]);
    return arcs;
}

TEST(OBJECT_IDENTIFIER, EncodesAndDecodesTheContentsOctets) {
    std::vector<char> octets;
    make({1, 3, 6, 1, 4, 1, 200}).encodeCommon(octets);
    EXPECT_EQ((std::vector<char>{0x2B, 0x06, 0x01, 0x04, 0x01, static_cast<char>(0x81), 0x48}), octets);

    OBJECT_IDENTIFIER decoded;
    ASSERT_TRUE(decoded.decodeCommon(octets.data(), static_cast<unsigned>(octets.size())));
    EXPECT_EQ((std::vector<unsigned>{1, 3, 6, 1, 4, 1, 200}), arcsOf(decoded));
}

TEST(OBJECT_IDENTIFIER, FewerThanTwoArcsEncodeToNothing) {
    std::vector<char> octets;
    make({1}).encodeCommon(octets);
    EXPECT_TRUE(octets.empty());
    OBJECT_IDENTIFIER decoded = make({5});
    EXPECT_TRUE(decoded.decodeCommon(nullptr, 0));
    EXPECT_EQ(0u, decoded.levels());
    EXPECT_FALSE(decoded.isValid());
}

TEST(OBJECT_IDENTIFIER, ASubidentifierCutShortFails) {
    char const octets[] = {0x2B, static_cast<char>(0x81)};
    OBJECT_IDENTIFIER decoded;
    EXPECT_FALSE(decoded.decodeCommon(octets, 2));
}

TEST(OBJECT_IDENTIFIER, AFirstSubidentifierOf80OrMoreStartsUnderArc2) {
    char const octets[] = {0x7F};
    OBJECT_IDENTIFIER decoded;
    ASSERT_TRUE(decoded.decodeCommon(octets, 1));
    EXPECT_EQ((std::vector<unsigned>{2, 47}), arcsOf(decoded));
}

TEST(OBJECT_IDENTIFIER, ArcsOf32BitsRoundTripAndLargerSubidentifiersFail) {
    OBJECT_IDENTIFIER id = make({2, 4294967295u, 4294967295u});
    std::vector<char> octets;
    id.encodeCommon(octets);
    OBJECT_IDENTIFIER decoded;
    ASSERT_TRUE(decoded.decodeCommon(octets.data(), static_cast<unsigned>(octets.size())));
    EXPECT_EQ((std::vector<unsigned>{2, 4294967295u, 4294967295u}), arcsOf(decoded));

    // 2^32 as the second subidentifier: 90 80 80 80 00.
    char const tooLarge[] = {0x2B, static_cast<char>(0x90), static_cast<char>(0x80), static_cast<char>(0x80),
                             static_cast<char>(0x80), 0x00};
    EXPECT_FALSE(decoded.decodeCommon(tooLarge, sizeof tooLarge));
    // A long run of continuation octets is refused before it overflows.
    std::vector<char> endless(40, static_cast<char>(0xFF));
    endless.push_back(0x7F);
    EXPECT_FALSE(decoded.decodeCommon(endless.data(), static_cast<unsigned>(endless.size())));
}

TEST(OBJECT_IDENTIFIER, ComparesArcsThenLengths) {
    EXPECT_EQ(-1, make({1, 2}).compare(make({1, 2, 3})));
    EXPECT_EQ(2, make({1, 5}).compare(make({1, 3, 3})));
    EXPECT_GT(make({1, 4294967295u}).compare(make({1, 0})), 0);
    EXPECT_EQ(0, make({1, 2}).compare(make({1, 2})));
}

}  // namespace
