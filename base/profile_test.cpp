#include "base/profile.h"
#include "base/trace_block.h"
#include "base/clock.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::string dumpText()
{
    std::ostringstream os;
    Profile::dump(os);
    return os.str();
}

TEST(Profile, PointsAreListedNewestFirstWhileTheyLive)
{
    EXPECT_EQ(dumpText(), "");
    Mux::TestClock clock;
    Profile::Point first("first");
    {
        Profile::Point second("second");
        first.begin();
        clock.advanceUs(7);
        first.end();
        first.begin();
        clock.advanceUs(3);
        first.end();
        EXPECT_EQ(dumpText(),
                  "[second]: min=0 max=0 avg=0 counter=0\n"
                  "[first]: min=3 max=7 avg=3 counter=2\n");
    }
    EXPECT_EQ(dumpText(), "[first]: min=3 max=7 avg=3 counter=2\n");
}

TEST(Profile, NumbersAreDecimalWhateverTheStream)
{
    Mux::TestClock clock;
    Profile::Point p("p");
    p.begin();
    clock.advanceUs(31);
    p.end();
    std::ostringstream os;
    os << std::hex << p;
    EXPECT_EQ(os.str(), "[p]: min=31 max=31 avg=31 counter=1");
}

TEST(TraceBlock, WritesEnterAndLeaveWhenEnabled)
{
    std::ostringstream os;
    {
        Trace::Block on(true, "setup", os);
        Trace::Block off(false, "quiet", os);
        os << "work\n";
    }
    EXPECT_EQ(os.str(), "Enter setup\nwork\nLeave setup\n");
}

}  // namespace
