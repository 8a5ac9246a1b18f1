#include "base/log_file_stream_buf.h"

#include "tests/temp_root.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

namespace {

// 2023-07-14 10:59:59 UTC.
constexpr int kBefore = 1689332399;

// A fresh board root with "/var/log/server", the wall clock frozen at kBefore.
struct LogDir {
    testsupport::TempRoot root{{"/var/log/server"}};
    testsupport::FrozenWallClock clock{kBefore};
    void at(long sec, long usec) { clock.set(sec, usec); }
    std::string file(std::string const& name) const
    {
        std::ifstream in(root.dir() + "/var/log/server/" + name);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
};

struct LogFile {
    LogFileStreamBuf buf{"/var/log/server"};
    std::ostream os{&buf};
};

TEST(LogFileStreamBuf, LinesLandInTheFileOfTheirHour)
{
    LogDir d;
    LogFile log;
    d.at(kBefore, 500000);
    log.os << "first line of hour 10" << std::endl;
    d.at(kBefore + 1, 123);
    log.os << "hour 11\nsecond" << std::endl;
    EXPECT_EQ(d.file("2023_07_14-10.log"), "59:59:500000: first line of hour 10\n");
    EXPECT_EQ(d.file("2023_07_14-11.log"), "00:00:000123: hour 11\n00:00:000123: second\n");
}

TEST(LogFileStreamBuf, ALineWrittenAcrossFlushesCarriesOnePrefix)
{
    LogDir d;
    LogFile log;
    d.at(kBefore, 7);
    log.os << "par" << std::flush;
    d.at(kBefore, 8);
    log.os << "tial line\nnext" << std::flush;
    log.os << " end\n" << std::flush;
    EXPECT_EQ(d.file("2023_07_14-10.log"), "59:59:000007: partial line\n59:59:000008: next end\n");
}

TEST(LogFileStreamBuf, ReopeningAFileAppendsToIt)
{
    LogDir d;
    {
        LogFile log;
        log.os << "one" << std::endl;
    }
    {
        LogFile log;
        log.os << "two" << std::endl;
        d.at(kBefore + 1, 0);
        log.os << "three" << std::endl;
        d.at(kBefore, 0);  // the clock moves back
        log.os << "four" << std::endl;
    }
    EXPECT_EQ(d.file("2023_07_14-10.log"), "59:59:000000: one\n59:59:000000: two\n59:59:000000: four\n");
    EXPECT_EQ(d.file("2023_07_14-11.log"), "00:00:000000: three\n");
}

TEST(LogFileStreamBuf, TheSameHourOfTheNextDayStartsANewFile)
{
    LogDir d;
    LogFile log;
    log.os << "today" << std::endl;
    d.at(kBefore + 24 * 3600, 0);
    log.os << "tomorrow" << std::endl;
    EXPECT_EQ(d.file("2023_07_14-10.log"), "59:59:000000: today\n");
    EXPECT_EQ(d.file("2023_07_15-10.log"), "59:59:000000: tomorrow\n");
}

TEST(LogFileStreamBuf, LongTextPassesThroughTheSmallBuffer)
{
    LogDir d;
    LogFile log;
    std::string text(100, 'x');
    log.os << text << '\n' << text << std::endl;
    std::string line = "59:59:000000: " + text + "\n";
    EXPECT_EQ(d.file("2023_07_14-10.log"), line + line);
}

TEST(LogFileStreamBuf, MissingDirectoryFailsQuietly)
{
    LogDir d;
    LogFileStreamBuf buf("/var/log/absent");
    std::ostream os(&buf);
    os << "nowhere" << std::endl;
    EXPECT_TRUE(os.good());
    struct stat st;
    EXPECT_NE(::stat((d.root.dir() + "/var/log/absent").c_str(), &st), 0);
}

}  // namespace
