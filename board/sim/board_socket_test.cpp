#include "board/sim/board_socket.h"

#include "board/hal.h"
#include "board/sim/hal_model.h"
#include "board/sim/sim_board.h"
#include "runtime/multiplexer.h"
#include "board/sim/console.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"
#include "tests/temp_root.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

namespace {

using board::sim::BoardSocket;

// A client of the board socket that reads whole reply lines.
class LineClient {
public:
    explicit LineClient(std::string const& path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~LineClient() { close(); }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    bool connected() const { return connected_; }
    void send(std::string const& text) { ASSERT_EQ(::send(fd_, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size())); }
    void shutdownWrite() { ::shutdown(fd_, SHUT_WR); }

    // Sends what the socket takes at once; the bytes sent.
    std::size_t sendSome(std::string const& text)
    {
        ssize_t n = ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        return n < 0 ? 0 : std::size_t(n);
    }
    // The reply lines that have arrived so far, without running the loop.
    std::size_t linesArrived()
    {
        pull();
        return lines_;
    }

    // The next reply line, running the loop while it comes; "" when none came in time.
    std::string reply()
    {
        std::string line;
        testsupport::runUntil(
            [&] {
                pull();
                auto nl = in_.find('\n');
                if (nl == std::string::npos)
                    return false;
                line = in_.substr(0, nl);
                in_.erase(0, nl + 1);
                return true;
            },
            5000);
        return line;
    }
    // True once the server closed the connection.
    bool closedByServer()
    {
        return testsupport::runUntil([&] { return pull() == 0; }, 5000);
    }

private:
    ssize_t pull()
    {
        char buf[65536];
        ssize_t n;
        while ((n = ::recv(fd_, buf, sizeof buf, 0)) > 0) {
            in_.append(buf, std::size_t(n));
            lines_ += std::size_t(std::count(buf, buf + n, '\n'));
        }
        return n;
    }

    int fd_ = -1;
    bool connected_ = false;
    std::string in_;
    std::size_t lines_ = 0;  // every line end that arrived, the taken replies' included
};

struct BoardSocketTest : ::testing::Test {
    testsupport::TempRoot root{"/var/run"};
    board::sim::SimBoard sim;
    BoardSocket server{sim};

    // The switch alone, so that the device lists stay what they are as the board gains models.
    BoardSocketTest() { sim.add<board::sim::HalModel>(); }
};

TEST_F(BoardSocketTest, ServesOneReplyLinePerCommandLine)
{
    ASSERT_TRUE(server.listen());
    EXPECT_EQ(server.path(), root.dir() + "/var/run/board.sock");
    LineClient c(server.path());
    ASSERT_TRUE(c.connected());

    int fd = sim.open(hal::kPath, O_RDWR);
    hal::SwitchConnect r{37, 8322};
    sim.ioctl(fd, hal::kSwitchConnect, &r);

    c.send("dump /dev/hal\n");
    EXPECT_EQ(c.reply(), "ok 37<8322");
    c.send("devices\r\nfail-open /dev/hal EIO\njour");
    EXPECT_EQ(c.reply(), "ok /dev/hal:opens=1");
    EXPECT_EQ(c.reply(), "ok");
    c.send("nal 2\n");
    EXPECT_EQ(c.reply(), "ok 3 2 ioctl /dev/hal connect 37 8322 -> 0");
    EXPECT_EQ(sim.open(hal::kPath, O_RDWR), -1);
    EXPECT_EQ(errno, EIO);
    ::close(fd);
}

TEST_F(BoardSocketTest, SeveralClientsAndTheirEnds)
{
    ASSERT_TRUE(server.listen());
    LineClient a(server.path());
    LineClient b(server.path());
    b.send("help\n");
    EXPECT_EQ(b.reply().substr(0, 3), "ok ");
    EXPECT_EQ(server.clientCount(), 2u);
    a.close();
    EXPECT_TRUE(testsupport::runUntil([&] { return server.clientCount() == 1; }, 5000));

    // A client that stops sending still gets its replies, then is let go.
    b.send("devices\n");
    b.shutdownWrite();
    EXPECT_EQ(b.reply(), "ok /dev/hal:opens=0");
    EXPECT_TRUE(b.closedByServer());
    EXPECT_EQ(server.clientCount(), 0u);
}

// A client that goes with more lines waiting than one turn runs has every whole one run
// before its end (its half line dropped), which one line says; the loop is idle afterwards.
TEST_F(BoardSocketTest, AClientGoneHasItsLastLinesRunThenEndsOnce)
{
    ASSERT_TRUE(server.listen());
    std::size_t const registers = 2 * BoardSocket::kBatchLines;
    std::string lines;
    for (std::size_t reg = 0; reg < registers; ++reg)
        lines += "device /dev/hal spi 0 " + std::to_string(reg) + " 7\n";
    LineClient c(server.path());
    ASSERT_TRUE(testsupport::runUntil([&] { return server.clientCount() == 1; }, 5000));
    testsupport::CaptureStream err(std::cerr);
    c.send(lines + "device /dev/hal spi 0 0 9");
    c.close();
    EXPECT_TRUE(testsupport::runUntil([&] { return server.clientCount() == 0; }, 5000));
    testsupport::settle();
    EXPECT_EQ(multiplexer.runOnce(0), 0);
    board::sim::Console console(sim);
    for (std::size_t reg = 0; reg < registers; ++reg)
        EXPECT_EQ(console.execute("device /dev/hal spi 0 " + std::to_string(reg)), "ok 7") << reg;
    EXPECT_EQ(err.text(), "BoardSocket::Client: ended: closed by the peer\n");
}

TEST_F(BoardSocketTest, OverlongLinesAreRefusedAndTheRestServed)
{
    ASSERT_TRUE(server.listen());
    LineClient c(server.path());
    c.send(std::string(BoardSocket::kMaxLine + 100, 'x') + "\nrestore /dev/hal\n");
    EXPECT_EQ(c.reply(), "error line too long");
    EXPECT_EQ(c.reply(), "ok");
}

// A client that sends faster than it reads: one batch of lines a turn, and no more read
// while its replies wait unsent; everything is answered, in order, as it reads.
TEST_F(BoardSocketTest, AClientIsReadOnlyAsFastAsItReads)
{
    ASSERT_TRUE(server.listen());
    LineClient c(server.path());
    ASSERT_TRUE(testsupport::runUntil([&] { return server.clientCount() == 1; }, 5000));
    std::size_t const lines = 5000;
    std::string flood;
    for (std::size_t i = 0; i < lines; ++i)
        flood += "help\n";
    ASSERT_EQ(c.sendSome(flood), flood.size());

    ASSERT_TRUE(testsupport::runUntil([&] { return c.linesArrived() > 0; }, 5000));
    EXPECT_EQ(c.linesArrived(), BoardSocket::kBatchLines);
    testsupport::settle(10000);
    std::size_t const reply = board::sim::Console(sim).execute("help").size() + 1;
    EXPECT_LE(server.pendingOutput(), BoardSocket::kOutputLimit + reply);
    EXPECT_LT(c.linesArrived() + server.pendingOutput() / reply, lines) << "read while its replies waited";

    // However long a busy machine makes it take: a bound on a stall only.
    EXPECT_TRUE(testsupport::runWhileProgressing([&] { return c.linesArrived() == lines; },
                                                 [&] { return c.linesArrived(); }, 5000));
    EXPECT_EQ(server.pendingOutput(), 0u);
}

TEST_F(BoardSocketTest, TakesOverAStaleSocketFileAndRemovesOnlyItsOwn)
{
    std::string path = board::path(BoardSocket::kPath);
    auto old = std::make_unique<BoardSocket>(sim);
    ASSERT_TRUE(old->listen());
    ASSERT_TRUE(server.listen());  // over the file the old one still has
    old.reset();                   // the old one goes; the new file stays
    LineClient c(path);
    ASSERT_TRUE(c.connected());
    c.send("devices\n");
    EXPECT_EQ(c.reply(), "ok /dev/hal:opens=0");
    server.close();
    struct stat st;
    EXPECT_NE(::stat(path.c_str(), &st), 0);

    EXPECT_FALSE(server.listen(std::string(200, 'p')));
    EXPECT_EQ(errno, ENAMETOOLONG);
}

}  // namespace
