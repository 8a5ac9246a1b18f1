#include "board/board.h"
#include "board/hal.h"
#include "board/ioc.h"
#include "tests/temp_root.h"

#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>

namespace {

TEST(RealBoard, OpensDevicePathsUnderTheRoot)
{
    testsupport::TempRoot root({"/dev"});
    std::ofstream(root.dir() + "/dev/hal") << "x";
    board::RealBoard real;
    int fd = real.open("/dev/hal", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    char c = 0;
    EXPECT_EQ(::read(fd, &c, 1), 1);
    EXPECT_EQ(c, 'x');
    ::close(fd);

    errno = 0;
    EXPECT_EQ(real.open("/dev/rtp", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(RealBoard, RequestArgumentReachesTheSystemUntouched)
{
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    ASSERT_EQ(::write(p[1], "abc", 3), 3);
    board::RealBoard real;
    int pending = -1;
    EXPECT_EQ(real.ioctl(p[0], FIONREAD, &pending), 0);
    EXPECT_EQ(pending, 3);
    errno = 0;
    EXPECT_EQ(real.ioctl(p[0], hal::kSwitchDisable, &pending), -1);
    EXPECT_EQ(errno, ENOTTY);
    ::close(p[0]);
    ::close(p[1]);
}

TEST(RealBoard, InterfaceRequestsGoToTheNamedInterface)
{
    board::RealBoard real;
    ifreq ifr{};
    std::strcpy(ifr.ifr_name, "lo");
    ASSERT_EQ(real.ifaceIoctl(SIOCGIFINDEX, &ifr), 0);
    EXPECT_GT(ifr.ifr_ifindex, 0);

    std::strcpy(ifr.ifr_name, "hdlc99");
    errno = 0;
    EXPECT_EQ(real.ifaceIoctl(SIOCGIFINDEX, &ifr), -1);
    EXPECT_EQ(errno, ENODEV);
}

TEST(RealBoard, PauseWaitsAtLeastTheTimeGiven)
{
    board::RealBoard real;
    auto start = std::chrono::steady_clock::now();
    real.pause(3000);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(3000));
}

struct Fake : board::Board {
    int open(char const*, int) override { return 42; }
    int ioctl(int, unsigned long, void* arg) override { return int(reinterpret_cast<unsigned long>(arg)); }
    int ifaceIoctl(unsigned long, ifreq*) override { return 0; }
    void pause(unsigned int) override {}
};

TEST(Board, InstalledBoardServesUntilTheFormerComesBack)
{
    board::Board* real = &board::board();
    EXPECT_NE(dynamic_cast<board::RealBoard*>(real), nullptr);
    Fake fake;
    {
        board::ScopedBoard installed(fake);
        EXPECT_EQ(&board::board(), &fake);
        EXPECT_EQ(board::board().open("/dev/hal", O_RDWR), 42);
        EXPECT_EQ(board::board().ioctl(1, 2, board::byValue(17)), 17);
        Fake inner;
        {
            board::ScopedBoard nested(inner);
            EXPECT_EQ(&board::board(), &inner);
        }
        EXPECT_EQ(&board::board(), &fake);
    }
    EXPECT_EQ(&board::board(), real);
}

TEST(Ioc, FieldsOfARequestNumber)
{
    namespace ioc = board::ioc;
    EXPECT_EQ(ioc::direction(hal::kSwitchRead), unsigned(ioc::readWrite));
    EXPECT_EQ(ioc::size(hal::kSwitchRead), 8u);
    EXPECT_EQ(ioc::type(hal::kSwitchRead), 'M');
    EXPECT_EQ(ioc::number(hal::kSwitchRead), 5u);
    EXPECT_EQ(ioc::make(ioc::none, 'R', 4, 0), 0x20005204ul);
}

}  // namespace
