#include "runtime/console.h"
#include "runtime/find_proc.h"
#include "runtime/timestamp.h"
#include "tests/capture.h"

#include <fcntl.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

namespace {

std::string commandNameOf(int pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/comm", pid);
    std::FILE* f = std::fopen(path, "r");
    if (!f)
        return "";
    char buf[64] = "";
    if (!std::fgets(buf, sizeof buf, f))
        buf[0] = '\0';
    std::fclose(f);
    std::string s(buf);
    if (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

TEST(FindProc, TheHintIsTriedFirstAndAScanFindsAProcessOfTheName)
{
    std::string const me = commandNameOf(getpid());
    ASSERT_FALSE(me.empty());
    EXPECT_EQ(find_proc_by_name(me.c_str(), getpid()), getpid());

    int found = find_proc_by_name(me.c_str(), 0);
    ASSERT_GT(found, 0);
    EXPECT_EQ(commandNameOf(found), me);

    // A wrong hint falls back to the scan.
    EXPECT_GT(find_proc_by_name(me.c_str(), getppid()), 0);
    EXPECT_EQ(find_proc_by_name("no-such-process-name", getpid()), -1);
}

TEST(Timestamp, DayMonthAndTime)
{
    std::ostringstream os;
    timestamp(os) << '|';
    // "dd/mm hh:mm:ss", then the marker.
    std::string const t = os.str();
    std::string const shape = "00/00 00:00:00|";
    ASSERT_EQ(t.size(), shape.size()) << t;
    for (std::size_t i = 0; i < t.size(); ++i)
        EXPECT_TRUE(shape[i] == '0' ? std::isdigit(static_cast<unsigned char>(t[i])) != 0 : t[i] == shape[i]) << t;
}

TEST(Console, ReportsAStandardInputThatIsNoTerminal)
{
    int saved = dup(0);
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    {
        testsupport::CaptureStream err(std::cerr);
        Console::SwitchToBinaryMode();
        EXPECT_EQ(err.text(), "can't obtain terminal attributes\n");
    }
    dup2(saved, 0);
    close(saved);
    close(null);
}

}  // namespace
