#include "asn1/generalized_time.h"

#include <gtest/gtest.h>

namespace {

using ASN1::GeneralizedTime;

TEST(GeneralizedTime, PrintsTheTextForm) {
    EXPECT_EQ("00010101000000", GeneralizedTime().get());
    EXPECT_EQ("20061206130509.020Z", GeneralizedTime(2006, 12, 6, 13, 5, 9, 20, 0, true).get());
    EXPECT_EQ("20061206130509-0130", GeneralizedTime(2006, 12, 6, 13, 5, 9, 0, -90, false).get());
    EXPECT_EQ("20061206130509+0130", GeneralizedTime(2006, 12, 6, 13, 5, 9, 0, 90, false).get());
    EXPECT_EQ("20061206130509-0030", GeneralizedTime(2006, 12, 6, 13, 5, 9, 0, -30, false).get());
    EXPECT_EQ("20061206130509Z", GeneralizedTime(2006, 12, 6, 13, 5, 9, 0, -30, true).get())
        << "UTC wins over the offset";
    EXPECT_EQ("123450101000000", GeneralizedTime(12345, 1, 1, 0, 0, 0, 0, 0, false).get())
        << "a field wider than its width prints in full";
}

TEST(GeneralizedTime, ParsesFieldsFractionAndOffset) {
    GeneralizedTime time;
    time.set("20061206130509.25+0130");
    EXPECT_EQ("20061206130509.250+0130", time.get());
    EXPECT_EQ(0, time.compare(GeneralizedTime(2006, 12, 6, 13, 5, 9, 250, 90, false)));

    GeneralizedTime utc(2000, 1, 1, 0, 0, 0, 7, 45, false);
    utc.set("20061206130509Z");
    EXPECT_EQ("20061206130509.007Z", utc.get()) << "millisec and mindiff stay as they were";
    utc.set("20061206130509-0030");
    EXPECT_EQ("20061206130509.007Z", utc.get()) << "an offset leaves the UTC flag set";
}

TEST(GeneralizedTime, ReadsTheFractionAsDigits) {
    EXPECT_EQ("20061206130509.123", GeneralizedTime("20061206130509.123").get());
    EXPECT_EQ("20061206130509.500", GeneralizedTime("20061206130509.5").get());
    EXPECT_EQ("20061206130509.999", GeneralizedTime("20061206130509.9999").get()) << "truncated";
    EXPECT_EQ("20061206130509", GeneralizedTime("20061206130509.0001").get());
}

TEST(GeneralizedTime, TextItCannotReadLeavesTheRemainingFieldsAlone) {
    GeneralizedTime time;
    time.set("2006");
    EXPECT_EQ("20060101000000", time.get());
    time.set("2007xx");
    EXPECT_EQ("20070101000000", time.get());
    time.set("");
    EXPECT_EQ("20070101000000", time.get());
    time.set("20070101000000+01x0");
    EXPECT_EQ("20070101000000", time.get()) << "an offset that is not four digits is ignored";
}

TEST(GeneralizedTime, ValidityChecksTheFieldRanges) {
    EXPECT_TRUE(GeneralizedTime(2006, 12, 6, 24, 0, 0, 0, 720, false).isValid());
    EXPECT_FALSE(GeneralizedTime(2006, 13, 6, 0, 0, 0, 0, 0, false).isValid());
    EXPECT_FALSE(GeneralizedTime(2006, 12, 0, 0, 0, 0, 0, 0, false).isStrictlyValid());
    EXPECT_FALSE(GeneralizedTime(2006, 12, 6, 0, 0, 0, 0, 721, false).isValid());
    EXPECT_FALSE(GeneralizedTime(0, 12, 6, 0, 0, 0, 0, 0, false).isValid());
    EXPECT_TRUE(GeneralizedTime(2006, 2, 31, 0, 0, 0, 5000, 0, false).isValid());
}

TEST(GeneralizedTime, ComparesFieldsThenUtcButNotTheOffset) {
    EXPECT_EQ(0, GeneralizedTime(2006, 1, 1, 0, 0, 0, 0, 60, false)
                     .compare(GeneralizedTime(2006, 1, 1, 0, 0, 0, 0, -60, false)));
    EXPECT_EQ(1, GeneralizedTime(2006, 1, 1, 0, 0, 0, 0, 0, true)
                     .compare(GeneralizedTime(2006, 1, 1, 0, 0, 0, 0, 0, false)));
    EXPECT_EQ(-5, GeneralizedTime(2006, 1, 1, 0, 0, 0, 0, 0, true)
                      .compare(GeneralizedTime(2006, 1, 6, 0, 0, 0, 0, 0, false)));
}

TEST(GeneralizedTime, ConvertsFromAndToCalendarTime) {
    GeneralizedTime time(1, 1, 1, 0, 0, 0, 20, 0, true);
    time.set_time_t(1165410309);  // 2006-12-06 13:05:09 UTC
    EXPECT_EQ("20061206130509.020Z", time.get());
    std::tm local{};
    std::time_t const back = time.get_time_t();
    ASSERT_NE(nullptr, localtime_r(&back, &local));
    EXPECT_EQ(2006 - 1900, local.tm_year);
    EXPECT_EQ(13, local.tm_hour);
    EXPECT_EQ(9, local.tm_sec);
}

}  // namespace
