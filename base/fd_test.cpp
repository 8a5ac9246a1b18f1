#include "base/errno.h"
#include "base/fd.h"
#include "board/board.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool isCloexec(int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }
bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }

TEST(Fd, AdoptingAndCopyingSetCloseOnExecAndOwnSeparately)
{
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    ::close(p[1]);
    int raw = p[0];
    Fd a(raw);
    EXPECT_TRUE(isCloexec(raw));
    int copyNumber;
    {
        Fd b(a);
        copyNumber = b.lowlevel_fd();
        EXPECT_NE(copyNumber, raw);
        EXPECT_TRUE(isCloexec(copyNumber));
    }
    EXPECT_FALSE(isOpen(copyNumber));
    EXPECT_TRUE(isOpen(raw));
    a = a;  // self-assignment keeps the descriptor
    EXPECT_EQ(a.lowlevel_fd(), raw);
}

// Notes the descriptors the board is told are closing, while installed.
struct ClosingBoard : board::Board {
    int open(char const*, int) override { return -1; }
    int ioctl(int, unsigned long, void*) override { return -1; }
    int ifaceIoctl(unsigned long, ifreq*) override { return -1; }
    void pause(unsigned int) override {}
    void closing(int fd) override
    {
        // Still open when the board hears of it.
        EXPECT_TRUE(::fcntl(fd, F_GETFD) >= 0);
        closed.push_back(fd);
    }
    std::vector<int> closed;
};

TEST(Fd, EveryCloseOfAnOwnedDescriptorIsToldToTheBoardOnce)
{
    struct {
        char const* how;
        void (*end)(Fd& fd);
    } const cases[] = {
        {"close", [](Fd& fd) { fd.close(); }},
        {"assigning another over it", [](Fd& fd) { fd = Fd(); }},
    };
    for (auto const& c : cases) {
        ClosingBoard b;
        board::ScopedBoard installed(b);
        int p[2];
        ASSERT_EQ(::pipe(p), 0);
        ::close(p[1]);
        Fd fd(p[0]);
        c.end(fd);
        fd.close();  // already closed: nothing more to tell
        EXPECT_EQ(b.closed, std::vector<int>{p[0]}) << c.how;
    }
    ClosingBoard b;
    board::ScopedBoard installed(b);
    int number;
    {
        Fd scoped(::open("/dev/null", O_RDONLY));
        number = scoped.lowlevel_fd();
    }
    EXPECT_EQ(b.closed, std::vector<int>{number}) << "destruction";
}

// A failed open's error is still there after its Fd has gone, whatever it held.
TEST(Fd, GoingAwayKeepsErrno)
{
    for (char const* path : {"/nonexistent/file", "/dev/null"}) {
        {
            Fd fd(::open(path, O_RDONLY));
            errno = EMFILE;
        }
        EXPECT_EQ(errno, EMFILE) << path;
    }
}

TEST(Fd, SecondCloseReportsBadDescriptor)
{
    Fd fd;
    ASSERT_TRUE(fd.open("/dev/null", O_RDONLY));
    EXPECT_TRUE(isCloexec(fd.lowlevel_fd()));
    EXPECT_TRUE(fd);
    EXPECT_EQ(fd.close(), 0);
    errno = 0;
    EXPECT_EQ(fd.close(), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(fd);
    EXPECT_FALSE(fd.NonBlock());
}

TEST(Fd, FailedOpenLeavesItClosedAndCopiesOfClosedAreClosed)
{
    Fd fd;
    EXPECT_FALSE(fd.open("/nonexistent/file", O_RDONLY));
    EXPECT_EQ(fd.lowlevel_fd(), -1);
    Fd copy(fd);
    EXPECT_EQ(copy.lowlevel_fd(), -1);
}

TEST(Fd, BlockingModeSwitches)
{
    Fd fd;
    ASSERT_TRUE(fd.open("/dev/null", O_RDONLY));
    ASSERT_TRUE(fd.NonBlock());
    EXPECT_TRUE(::fcntl(fd.lowlevel_fd(), F_GETFL) & O_NONBLOCK);
    ASSERT_TRUE(BlockMode(fd.lowlevel_fd()));
    EXPECT_FALSE(::fcntl(fd.lowlevel_fd(), F_GETFL) & O_NONBLOCK);
    EXPECT_FALSE(SetCloexec(-1, true));
}

TEST(Errno, PrintsTheTextOfTheCapturedNumber)
{
    errno = ENOENT;
    Errno e;
    errno = 0;
    std::ostringstream os;
    os << e;
    EXPECT_EQ(e.value(), ENOENT);
    EXPECT_EQ(os.str(), std::strerror(ENOENT));
}

}  // namespace

namespace {

TEST(Fd, MovingHandsTheDescriptorOverWithoutADuplicate)
{
    Fd a;
    ASSERT_TRUE(a.open("/dev/null", O_RDONLY));
    int const raw = a.lowlevel_fd();
    Fd b(std::move(a));
    EXPECT_EQ(b.lowlevel_fd(), raw);
    EXPECT_FALSE(a.is_valid());
    Fd c;
    ASSERT_TRUE(c.open("/dev/null", O_RDONLY));
    int const old = c.lowlevel_fd();
    c = std::move(b);
    EXPECT_EQ(c.lowlevel_fd(), raw);
    EXPECT_FALSE(b.is_valid());
    EXPECT_FALSE(isOpen(old) && old != raw);
}

}  // namespace

namespace {

// A pipe takes less than the whole text at once while the reader drains it.
TEST(Fd, WriteAllGoesOnAfterShortWrites)
{
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    Fd r(p[0]), w(p[1]);
    std::string const text(300000, 'q');
    std::string got;
    pid_t reader = ::fork();
    if (reader == 0) {
        w.close();
        char buf[4096];
        std::size_t total = 0;
        for (ssize_t n; (n = ::read(r.lowlevel_fd(), buf, sizeof buf)) > 0;)
            total += std::size_t(n);
        ::_exit(total == 300000 ? 0 : 1);
    }
    r.close();
    EXPECT_TRUE(writeAll(w.lowlevel_fd(), text.data(), text.size()));
    w.close();
    int status = 0;
    ASSERT_EQ(::waitpid(reader, &status, 0), reader);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    Fd ro;
    ASSERT_TRUE(ro.open("/dev/null", O_RDONLY));
    EXPECT_FALSE(writeAll(ro.lowlevel_fd(), "x", 1));
    EXPECT_EQ(errno, EBADF);
}

}  // namespace
