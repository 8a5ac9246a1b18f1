#include "base/cyclic.h"

#include <gtest/gtest.h>

namespace {

typedef Cyclic<unsigned int, 127u> Seq;

TEST(Cyclic, CountsModulo128)
{
    EXPECT_EQ(unsigned(Seq(300)), 44u);
    Seq s(127);
    EXPECT_EQ(unsigned(++s), 0u);
    EXPECT_EQ(unsigned(--s), 127u);
    Seq old = s++;
    EXPECT_EQ(unsigned(old), 127u);
    EXPECT_EQ(unsigned(s), 0u);
    EXPECT_EQ(unsigned(Seq(127) + Seq(1)), 0u);
    EXPECT_EQ(unsigned(Seq(0) - Seq(1)), 127u);
    EXPECT_EQ(unsigned(Seq()), 0u);
}

TEST(Cyclic, RangeTestWrapsAround)
{
    EXPECT_TRUE(Seq(120) <= Seq(126) <= Seq(3));
    EXPECT_FALSE(Seq(120) <= Seq(5) <= Seq(3));
    EXPECT_TRUE(Seq(120) <= Seq(120) <= Seq(3));
    EXPECT_TRUE(Seq(120) <= Seq(3) <= Seq(3));
    EXPECT_TRUE(Seq(10) <= Seq(20) <= Seq(30));
    EXPECT_FALSE(Seq(10) <= Seq(40) <= Seq(30));
}

}  // namespace
