#include "runtime/multiplexer.h"

#include "board/path.h"
#include "base/clock.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"
#include "tests/process_figures.h"
#include "tests/temp_root.h"

#include <fcntl.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

using testsupport::CaptureStream;

// A temporary GW_ROOT with the watchdog device as a regular file.
class WatchdogTest : public ::testing::Test {
protected:
    void SetUp() override { std::ofstream(device_.c_str()); }
    std::string written() const
    {
        std::ifstream in(device_.c_str());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    testsupport::TempRoot root_{"/dev/misc"};
    std::string const device_ = root_.dir() + "/dev/misc/gw-wd";
};

TEST_F(WatchdogTest, StartPingAtMostEverySecondAndStop)
{
    Mux::TestClock clock;
    ASSERT_TRUE(multiplexer.openWatchdog());
    int fd = testsupport::descriptorOn(::getpid(), device_);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(written(), "START");

    multiplexer.runOnce(0);
    EXPECT_EQ(written(), "STARTPING");  // first turn
    testsupport::advance(clock, 999);
    multiplexer.runOnce(0);
    EXPECT_EQ(written(), "STARTPING");
    testsupport::advance(clock, 1);
    EXPECT_EQ(written(), "STARTPINGPING");
    multiplexer.runOnce(0);
    testsupport::advance(clock, 1500);
    EXPECT_EQ(written(), "STARTPINGPINGPING");
    multiplexer.resetWD();  // the stream layer's direct ping
    EXPECT_EQ(written(), "STARTPINGPINGPINGPING");

    multiplexer.closeWatchdog();
    EXPECT_EQ(written(), "STARTPINGPINGPINGPINGSTOP");
    EXPECT_FALSE(multiplexer.watchdogOpen());
    EXPECT_EQ(testsupport::descriptorOn(::getpid(), device_), -1);
}

void stopLoop() { multiplexer.terminate(); }

TEST_F(WatchdogTest, RunDrivesTheWatchdogAndStopsOnTerminate)
{
    Timer t;
    t.set(0, &stopLoop);
    CaptureStream log(std::clog);
    multiplexer.run(true, true);
    EXPECT_EQ(written(), "STARTPINGSTOP");
    EXPECT_EQ(log.text(), "Mux: terminating...\n");
    EXPECT_FALSE(multiplexer.watchdogOpen());
    EXPECT_FALSE(multiplexer.terminating());  // the request was consumed
}

TEST_F(WatchdogTest, TheWatchdogCapsTheWaitAtOneSecond)
{
    ASSERT_TRUE(multiplexer.openWatchdog());
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    Fd r(p[0]), w(p[1]);
    Event idle;
    idle.Schedule(r, POLLIN);
    EXPECT_EQ(multiplexer.runOnce(-1), 0);  // returns although nothing happens
    multiplexer.closeWatchdog();
}

TEST_F(WatchdogTest, AWatchdogThatTakesNoWordIsOpenedAgainWithOneLineEachWay)
{
    Mux::TestClock clock;
    ASSERT_TRUE(multiplexer.openWatchdog());
    multiplexer.runOnce(0);
    CaptureStream err(std::cerr);
    CaptureStream log(std::clog);
    // The open device takes no word any more, and the node opens to one that takes none.
    Fd const full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    ASSERT_GE(::dup3(full.lowlevel_fd(), testsupport::descriptorOn(::getpid(), device_), O_CLOEXEC), 0);
    ASSERT_EQ(::unlink(device_.c_str()), 0);
    ASSERT_EQ(::symlink("/dev/full", device_.c_str()), 0);
    testsupport::advance(clock, 1000);
    EXPECT_TRUE(multiplexer.watchdogAway());
    testsupport::advance(clock, 20000);
    EXPECT_TRUE(multiplexer.watchdogAway());

    ASSERT_EQ(::unlink(device_.c_str()), 0);
    std::ofstream(device_.c_str());
    testsupport::advance(clock, 17000);
    EXPECT_FALSE(multiplexer.watchdogAway());
    EXPECT_EQ(written().substr(0, 9), "STARTPING");
    EXPECT_EQ(err.text(), "Mux: ping watchdog failed: No space left on device\n");
    EXPECT_EQ(log.text(), "Mux: watchdog opened again\n");
    multiplexer.closeWatchdog();
}

TEST_F(WatchdogTest, AMissingDeviceCostsOneLine)
{
    ::unlink(device_.c_str());
    CaptureStream err(std::cerr);
    EXPECT_FALSE(multiplexer.openWatchdog());
    EXPECT_EQ(err.text(), "Mux: fail to open watchdog: No such file or directory\n");
    multiplexer.resetWD();
    multiplexer.closeWatchdog();
    EXPECT_EQ(err.text(), "Mux: fail to open watchdog: No such file or directory\n");
}

}  // namespace
