#include "board/sim/console.h"

#include "board/hal.h"
#include "board/sim/hal_model.h"
#include "board/sim/sim_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

using board::sim::Console;

struct ConsoleTest : ::testing::Test {
    // The switch alone, so that the device lists stay what they are as the board gains models.
    ConsoleTest() { sim.add<board::sim::HalModel>(); }
    board::sim::SimBoard sim;
    Console console{sim};

    std::string run(std::string const& line) { return console.execute(line); }
};

TEST_F(ConsoleTest, DumpsTheSwitchAndListsDevices)
{
    EXPECT_EQ(run("dump /dev/hal"), "ok ");
    int fd = sim.open(hal::kPath, O_RDWR);
    hal::SwitchConnect c{37, 8322};
    sim.ioctl(fd, hal::kSwitchConnect, &c);
    EXPECT_EQ(run("dump /dev/hal"), "ok 37<8322");
    EXPECT_EQ(run("devices"), "ok /dev/hal:opens=1");
    EXPECT_EQ(run("device /dev/hal output 37"), "ok <8322 disables=0");
    EXPECT_EQ(run("device /dev/hal byte 4 7"), "ok");
    ::close(fd);
    EXPECT_EQ(run("devices"), "ok /dev/hal:opens=0");
    EXPECT_EQ(run("remove /dev/hal"), "ok");
    EXPECT_EQ(run("devices"), "ok /dev/hal:removed:opens=0");
    EXPECT_EQ(sim.open(hal::kPath, O_RDWR), -1);
    EXPECT_EQ(run("restore /dev/hal"), "ok");
    EXPECT_EQ(run("devices"), "ok /dev/hal:opens=0");
}

TEST_F(ConsoleTest, JournalPagesFromASequenceNumber)
{
    sim.pause(1);
    sim.pause(2);
    sim.pause(3);
    EXPECT_EQ(run("journal"), "ok 4 1 pause 1; 2 pause 2; 3 pause 3");
    EXPECT_EQ(run("journal 2 1"), "ok 3 2 pause 2");
    EXPECT_EQ(run("journal 4"), "ok 4");
    EXPECT_EQ(run("journal x"), "error usage: journal [SINCE [COUNT]]");
    EXPECT_EQ(run("journal 1 0"), "error usage: journal [SINCE [COUNT]]");
}

TEST_F(ConsoleTest, FailuresByNameOrNumber)
{
    EXPECT_EQ(run("fail-open /dev/hal ENXIO"), "ok");
    EXPECT_EQ(sim.open(hal::kPath, O_RDWR), -1);
    EXPECT_EQ(errno, ENXIO);
    int fd = sim.open(hal::kPath, O_RDWR);
    ASSERT_GE(fd, 0);

    EXPECT_EQ(run("fail-request /dev/hal read EIO always 12"), "ok");
    EXPECT_EQ(run("fail-request /dev/hal 0x80044d03 5 2"), "ok");
    hal::SwitchByte r{12, 255};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(sim.ioctl(fd, hal::kSwitchRead, &r), -1);
        EXPECT_EQ(errno, EIO);
    }
    r.channel = 13;
    EXPECT_EQ(sim.ioctl(fd, hal::kSwitchRead, &r), 0);
    hal::SwitchDisable d{1};
    EXPECT_EQ(sim.ioctl(fd, hal::kSwitchDisable, &d), -1);
    EXPECT_EQ(sim.ioctl(fd, hal::kSwitchDisable, &d), -1);
    EXPECT_EQ(sim.ioctl(fd, hal::kSwitchDisable, &d), 0);
    EXPECT_EQ(run("clear-failures"), "ok");
    r.channel = 12;
    EXPECT_EQ(sim.ioctl(fd, hal::kSwitchRead, &r), 0);
    ::close(fd);
}

TEST_F(ConsoleTest, BadCommandsGetOneErrorLine)
{
    EXPECT_EQ(run(""), "error empty command");
    EXPECT_EQ(run("reboot"), "error unknown command reboot");
    EXPECT_EQ(run("dump /dev/none"), "error no device /dev/none");
    EXPECT_EQ(run("dump"), "error usage: dump PATH ...");
    EXPECT_EQ(run("fail-open /dev/hal EWHAT"), "error usage: fail-open PATH ERRNO [TIMES]");
    EXPECT_EQ(run("fail-open /dev/hal EIO 0"), "error usage: fail-open PATH ERRNO [TIMES]");
    EXPECT_EQ(run("fail-request /dev/hal frobnicate EIO"), "error unknown request frobnicate");
    EXPECT_EQ(run("fail-request /dev/hal read EIO 1 0x100000000"),
              "error usage: fail-request PATH REQUEST ERRNO [TIMES [WORD0]]");
    EXPECT_EQ(run("fail-read /dev/hal hup"), "error usage: fail-read PATH eof|hangup|err|ERRNO [TIMES]");
    EXPECT_EQ(run("fail-read /dev/hal eof 0"), "error usage: fail-read PATH eof|hangup|err|ERRNO [TIMES]");
    EXPECT_EQ(run("device /dev/hal").rfind("error usage: byte CH VALUE | output CH", 0), 0u);
    EXPECT_EQ(run("close-fd x"), "error usage: close-fd FD");
    EXPECT_EQ(run("close-fd 1048576"), std::string("error ") + std::strerror(EBADF));
    EXPECT_EQ(run("help").substr(0, 3), "ok ");
}

}  // namespace
