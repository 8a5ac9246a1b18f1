#include "asn1/bit_map.h"

#include <gtest/gtest.h>

namespace {

TEST(BitMap, ReadsAndWritesOnlyWithinItsCount) {
    ASN1::BitMap map(10);
    EXPECT_EQ(2u, map.bytes().size());
    map.set(0);
    map.set(9);
    map.set(10);
    EXPECT_EQ(static_cast<char>(0x80), map.bytes()[0]);
    EXPECT_EQ(0x40, map.bytes()[1]);
    EXPECT_FALSE(map[10]);
    EXPECT_TRUE(map.any());
    map.clear(0);
    map.clear(9);
    EXPECT_FALSE(map.any());
}

}  // namespace
