#include "base/version.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace {

TEST(Version, PrintingAVersionPrintsItsTagOnly)
{
    Version v(Version::release, 4, "", "builder", "2023-07-14 14:51", "T230714-1451", "ppc");
    std::ostringstream os;
    os << v;
    EXPECT_EQ(os.str(), "T230714-1451");
    EXPECT_STREQ(v.tag(), "T230714-1451");
    EXPECT_EQ(v.number(), 4);
}

TEST(Version, CurrentIsTheBuildsRecord)
{
    std::ostringstream os;
    os << Version::current;
    EXPECT_EQ(os.str(), Version::current.tag());
    EXPECT_GT(std::strlen(Version::current.tag()), 0u);
    EXPECT_STREQ(Version::current.label(), "");
    EXPECT_GT(std::strlen(Version::current.user()), 0u);
}

TEST(Version, TypeNamesAndLetters)
{
    EXPECT_STREQ(version_string(Version::snapshot), "snapshot");
    EXPECT_STREQ(version_string(Version::test), "test");
    EXPECT_STREQ(version_string(Version::release), "release");
    EXPECT_STREQ(version_string(Version::unit_test), "unit-test");
    EXPECT_STREQ(version_string(static_cast<Version::Type>(7)), "unknown");
    EXPECT_STREQ(version_suffix(Version::snapshot), "S");
    EXPECT_STREQ(version_suffix(Version::test), "T");
    EXPECT_STREQ(version_suffix(Version::release), "R");
    EXPECT_STREQ(version_suffix(static_cast<Version::Type>(3)), "T");
    EXPECT_STREQ(version_suffix(static_cast<Version::Type>(9)), "U");
    std::ostringstream os;
    os << Version::unit_test;
    EXPECT_EQ(os.str(), "unit-test");
}

}  // namespace
