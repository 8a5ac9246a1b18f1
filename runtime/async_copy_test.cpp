#include "runtime/async_copy.h"

#include "tests/loop_pump.h"
#include "tests/loopback.h"
#include "tests/temp_root.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using ASync::Copy;
using testsupport::runUntil;

// Records the completions of a copy; may delete the copy from within the handler.
struct Owner {
    void OnComplete(Copy::Status::Type s)
    {
        statuses.push_back(s);
        if (deleteOnComplete) {
            delete deleteOnComplete;
            deleteOnComplete = nullptr;
        }
    }
    bool ended() const { return !statuses.empty(); }
    std::vector<int> statuses;
    Copy* deleteOnComplete = nullptr;
};

Fd openFile(std::string const& path, int flags)
{
    Fd fd;
    fd.open(path.c_str(), flags);
    return fd;
}

std::string readFile(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Pipe {
    Pipe()
    {
        int p[2];
        if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) == 0) {
            r = Fd(p[0]);
            w = Fd(p[1]);
        }
    }
    Fd r, w;
};

// A connected pair of non-blocking unix stream sockets.
struct SocketPair {
    SocketPair()
    {
        int s[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, s) == 0) {
            a = Fd(s[0]);
            b = Fd(s[1]);
        }
    }
    Fd a, b;
};

// Whether every descriptor of the other end of fd's connection is closed.
bool peerClosed(Fd& fd)
{
    char c;
    return read(fd, &c, 1) == 0;
}

class AsyncCopyTest : public ::testing::Test {
protected:
    // A write to a closed socket or pipe fails with EPIPE (the daemon ignores SIGPIPE too).
    void SetUp() override { savedPipe_ = std::signal(SIGPIPE, SIG_IGN); }
    void TearDown() override { std::signal(SIGPIPE, savedPipe_); }

    std::string file(std::string const& name, std::string const& content)
    {
        std::string const path = root_.dir() + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    // Starts the copy from a socket on which nothing arrives yet to a pipe; only the copy
    // holds the source end afterwards.
    void startWaiting(Copy& copy)
    {
        copy.Bind(&Owner::OnComplete, &owner_);
        copy.Start(in_.a, out_.w);
        in_.a.close();
    }

    testsupport::TempRoot root_;
    Owner owner_;
    SocketPair in_;
    Pipe out_;

private:
    void (*savedPipe_)(int) = nullptr;
};

TEST_F(AsyncCopyTest, CopiesAFileThroughALoopbackConnectionByteForByte)
{
    std::string data(3 * 1024 * 1024 + 517, '\0');
    std::mt19937 random(7);
    for (char& c : data)
        c = char(random());
    std::string const source = file("voice.raw", data);
    std::string const target = root_.dir() + "/recorded.raw";

    // A file player sends the file to a peer; a recorder writes what it receives.
    auto link = testsupport::tcpPair();
    Copy player;
    Owner played;
    player.Bind(&Owner::OnComplete, &played);
    ASSERT_TRUE(player.set_bufsize(8192));
    Copy recorder;
    Owner recorded;
    recorder.Bind(&Owner::OnComplete, &recorded);
    recorder.set_events(Copy::EventsParams(POLLIN, POLLOUT, 0));
    EXPECT_FALSE(recorded.ended());  // an idle copy only stores the masks

    recorder.Start(link.second, openFile(target, O_WRONLY | O_CREAT | O_TRUNC));
    player.Start(openFile(source, O_RDONLY), link.first);
    link.first.close();
    link.second.close();
    ASSERT_TRUE(runUntil([&] { return recorded.ended(); }, 30000));

    EXPECT_EQ(played.statuses, std::vector<int>{Copy::Status::done});
    EXPECT_EQ(recorded.statuses, std::vector<int>{Copy::Status::done});
    EXPECT_EQ(player.written(), data.size());
    EXPECT_EQ(recorder.written(), data.size());
    EXPECT_EQ(recorder.bufsize(), Copy::default_bufsize);
    EXPECT_TRUE(readFile(target) == data);
}

TEST_F(AsyncCopyTest, ASourceAtItsEndCompletesAtOnceOrAfterTheFlush)
{
    std::string const empty = file("empty", "");
    Copy copy;
    copy.Bind(&Owner::OnComplete, &owner_);
    copy.set_events(Copy::EventsParams(POLLIN, POLLOUT, 0));
    copy.Start(openFile(empty, O_RDONLY), out_.w);
    EXPECT_EQ(owner_.statuses, std::vector<int>{Copy::Status::done});

    // With the flush events the copy waits for the destination to report them.
    owner_.statuses.clear();
    copy.set_events(Copy::EventsParams());
    copy.Start(openFile(empty, O_RDONLY), out_.w);
    EXPECT_EQ(copy.state(), Copy::Status::flushing);
    EXPECT_FALSE(owner_.ended());
    ASSERT_TRUE(runUntil([&] { return owner_.ended(); }, 5000));
    EXPECT_EQ(owner_.statuses, std::vector<int>{Copy::Status::done});
}

TEST_F(AsyncCopyTest, ADestinationThatHangsUpFailsTheCopyAndClosesBothSides)
{
    Copy copy;
    startWaiting(copy);
    out_.w.close();
    out_.r.close();
    ASSERT_EQ(write(in_.b, "abc", 3), 3);
    ASSERT_TRUE(runUntil([&] { return owner_.ended(); }, 5000));
    EXPECT_EQ(owner_.statuses, std::vector<int>{Copy::Status::failed});
    EXPECT_TRUE(peerClosed(in_.b));
}

TEST_F(AsyncCopyTest, AReadErrorFailsTheCopyEvenAfterSomeBytes)
{
    testsupport::LoopbackListener listener;
    Fd peer = listener.connect();
    Fd source = listener.accept();
    source.NonBlock();
    Copy copy;
    copy.Bind(&Owner::OnComplete, &owner_);
    copy.Start(source, out_.w);
    ASSERT_EQ(write(peer, "hello", 5), 5);
    ASSERT_TRUE(runUntil([&] { return copy.written() == 5; }, 5000));
    // The peer resets the connection: the stream was cut short, which is not an end.
    linger reset{1, 0};
    ::setsockopt(peer.lowlevel_fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    peer.close();
    ASSERT_TRUE(runUntil([&] { return owner_.ended(); }, 5000));
    EXPECT_EQ(owner_.statuses, std::vector<int>{Copy::Status::failed});

    // The same before any byte, here from within Start.
    owner_.statuses.clear();
    copy.Start(openFile(root_.dir(), O_RDONLY), out_.w);
    EXPECT_EQ(owner_.statuses, std::vector<int>{Copy::Status::failed});
    EXPECT_EQ(copy.written(), 0u);
}

// A source that reports a hang-up while its reads would block (a datagram socket shut
// down) has ended: the copy finishes instead of polling it again and again.
TEST_F(AsyncCopyTest, ASourceThatHangsUpWithNothingToReadIsAtItsEnd)
{
    int s[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, s), 0);
    Fd source(s[0]);
    Fd other(s[1]);
    Copy copy;
    copy.Bind(&Owner::OnComplete, &owner_);
    copy.set_events(Copy::EventsParams(POLLIN, POLLOUT, 0));
    copy.Start(source, out_.w);
    ::shutdown(source.lowlevel_fd(), SHUT_RDWR);
    ASSERT_TRUE(runUntil([&] { return owner_.ended(); }, 5000));
    EXPECT_EQ(owner_.statuses, std::vector<int>{Copy::Status::done});
}

TEST_F(AsyncCopyTest, ChangingMasksOrBufferEndsARunningCopy)
{
    Copy copy;
    startWaiting(copy);
    // A buffer of no bytes would read as an end of file: refused, the copy goes on.
    EXPECT_FALSE(copy.set_bufsize(0));
    EXPECT_EQ(copy.bufsize(), Copy::default_bufsize);
    EXPECT_EQ(copy.state(), Copy::Status::copying);

    copy.set_events(Copy::EventsParams(POLLIN, POLLOUT, 0));
    EXPECT_EQ(owner_.statuses, std::vector<int>{Copy::Status::interrupted});
    EXPECT_TRUE(peerClosed(in_.b));

    SocketPair other;
    copy.Start(other.a, out_.w);
    ASSERT_TRUE(copy.set_bufsize(64));
    EXPECT_EQ(owner_.statuses, (std::vector<int>{Copy::Status::interrupted, Copy::Status::interrupted}));
    EXPECT_EQ(copy.bufsize(), 64u);
    // Changing an ended copy calls nothing.
    copy.set_events(Copy::EventsParams());
    EXPECT_EQ(owner_.statuses.size(), 2u);
}

TEST_F(AsyncCopyTest, StopFinishesTheSourceButWritesWhatWasRead)
{
    Copy copy;
    copy.set_events(Copy::EventsParams(POLLIN, POLLOUT, 0));
    startWaiting(copy);
    copy.Stop();
    EXPECT_EQ(owner_.statuses, std::vector<int>{Copy::Status::done});
    copy.Stop();
    EXPECT_EQ(owner_.statuses.size(), 1u);

    // A destination that takes nothing for now: the window read last stays pending.
    owner_.statuses.clear();
    std::string const big = file("big", std::string(1 << 20, 'z'));
    SocketPair link;
    int small = 4096;
    ::setsockopt(link.a.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    ASSERT_TRUE(copy.set_bufsize(8192));
    copy.Start(openFile(big, O_RDONLY), link.a);
    link.a.close();
    ASSERT_EQ(copy.state(), Copy::Status::copying);
    copy.Stop();
    EXPECT_EQ(copy.state(), Copy::Status::draining);
    std::string received;
    ASSERT_TRUE(runUntil(
        [&] {
            char buf[4096];
            ssize_t n;
            while ((n = read(link.b, buf, sizeof buf)) > 0)
                received.append(buf, std::size_t(n));
            return owner_.ended() && n == 0;
        },
        5000));
    EXPECT_EQ(owner_.statuses, std::vector<int>{Copy::Status::done});
    EXPECT_EQ(received.size(), copy.written());
    EXPECT_LT(received.size(), std::size_t(1 << 20));
    EXPECT_EQ(received.find_first_not_of('z'), std::string::npos);
}

TEST_F(AsyncCopyTest, DeletingACopyMidwayCallsNoHandler)
{
    Copy* copy = new Copy;
    startWaiting(*copy);
    out_.w.close();
    ASSERT_EQ(write(in_.b, "abc", 3), 3);
    delete copy;
    testsupport::settle();
    EXPECT_FALSE(owner_.ended());
    EXPECT_TRUE(peerClosed(out_.r));
}

TEST_F(AsyncCopyTest, TheHandlerMayDeleteTheCopy)
{
    std::string const empty = file("empty", "");
    Copy* copy = new Copy;
    copy->Bind(&Owner::OnComplete, &owner_);
    owner_.deleteOnComplete = copy;
    copy->Start(openFile(empty, O_RDONLY), out_.w);
    ASSERT_TRUE(runUntil([&] { return owner_.ended(); }, 5000));
    EXPECT_EQ(owner_.deleteOnComplete, nullptr);

    copy = new Copy;
    owner_.deleteOnComplete = copy;
    copy->set_events(Copy::EventsParams(POLLIN, POLLOUT, 0));
    startWaiting(*copy);
    in_.b.close();
    ASSERT_TRUE(runUntil([&] { return owner_.deleteOnComplete == nullptr; }, 5000));
    EXPECT_EQ(owner_.statuses, (std::vector<int>{Copy::Status::done, Copy::Status::done}));
}

}  // namespace
