#include "base/clock.h"
#include "base/measure.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::string text(Measure const& m)
{
    std::ostringstream os;
    os << m;
    return os.str();
}

TEST(Measure, KeepsShortestLongestLatestAndCount)
{
    Measure m;
    EXPECT_EQ(text(m), "min=0 max=0 avg=0 counter=0");
    m.sample(5);
    EXPECT_EQ(text(m), "min=5 max=5 avg=5 counter=1");
    m.sample(3);
    EXPECT_EQ(text(m), "min=3 max=5 avg=3 counter=2");
}

TEST(Measure, DurationsAreCorrectAcrossTheMicrosecondWrap)
{
    // The 32-bit microsecond reading wraps 2 us after begin.
    Mux::TestClock clock((std::uint64_t(1) << 32) - 2);
    Measure m;
    m.begin();
    clock.advanceUs(10);
    m.end();
    EXPECT_EQ(m.cur(), 10u);
    EXPECT_EQ(m.counter(), 1u);
}

}  // namespace
