#include "base/trace_ctl.h"

#include "base/ini_file.h"
#include "tests/capture.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

namespace {

TraceCtl configured(std::string const& text)
{
    IniFile::File f;
    std::istringstream is(text);
    is >> f;
    TraceCtl t;
    t.Configure(f["traces"]);
    return t;
}

bool allOff(TraceCtl const& t)
{
    return !t.signalling.hdlc && !t.signalling.zarngw && !t.signalling.events && !t.monitoring.internal;
}

TEST(TraceCtl, EverySwitchIsOffUntilConfigured)
{
    EXPECT_TRUE(allOff(traces));
    EXPECT_TRUE(allOff(TraceCtl()));
    EXPECT_TRUE(allOff(configured("")));
    EXPECT_TRUE(allOff(configured("[other]\nsignalling.hdlc=yes\n[ traces ]\nsignalling.hdlc=yes\n")));
}

TEST(TraceCtl, EveryKeySetsItsSwitch)
{
    TraceCtl t = configured("[traces]\nsignalling.hdlc=yes\nsignalling.zarngw=true\n"
                            "signalling.events=enabled\nmonitoring.internal=1\n");
    EXPECT_TRUE(t.signalling.hdlc);
    EXPECT_TRUE(t.signalling.zarngw);
    EXPECT_TRUE(t.signalling.events);
    EXPECT_TRUE(t.monitoring.internal);
}

TEST(TraceCtl, TheLastSectionDecidesEverySwitch)
{
    TraceCtl t = configured("[traces]\nsignalling.hdlc=yes\n[traces]\nsignalling.events=1\n");
    EXPECT_FALSE(t.signalling.hdlc);
    EXPECT_TRUE(t.signalling.events);
    EXPECT_FALSE(t.signalling.zarngw);
    EXPECT_FALSE(t.monitoring.internal);
}

TEST(TraceCtl, BadOrRepeatedKeysAreReportedAndLeaveTheSwitchOff)
{
    testsupport::CaptureStream err(std::cerr);
    TraceCtl t = configured("[traces]\nsignalling.hdlc=on\nmonitoring.internal=yes\n"
                            "monitoring.internal=yes\nsignalling.events=yes\n");
    EXPECT_TRUE(t.signalling.events);
    EXPECT_FALSE(t.signalling.hdlc);
    EXPECT_FALSE(t.monitoring.internal);
    EXPECT_EQ(err.text(),
              "traces: optional key \"signalling.hdlc\" has invalid value=\"on\", line 2. Key will be "
              "ignored.\n"
              "traces: optional key \"monitoring.internal\" is duplicated!\n"
              "traces:  first occurence at 3 line.\n"
              "traces:  second occurence at 4 line. Both keys will be ignored.\n");
}

}  // namespace
