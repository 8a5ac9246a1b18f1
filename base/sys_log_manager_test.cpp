#include "base/sys_log_manager.h"

#include "board/path.h"
#include "tests/temp_root.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <chrono>
#include <fstream>
#include <iterator>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// 2023-07-04 14:51:07 UTC: a day below 10 shows the blank padding of "%e".
constexpr long kWhen = 1688482267;
char const kStamp[] = "Jul  4 14:51:07 ";

// A fresh board root with a "dev" folder, the wall clock frozen; the client reset after.
struct Board {
    testsupport::TempRoot root{{"/dev"}};
    testsupport::FrozenWallClock clock{kWhen};
    std::string const& dir = root.dir();
    ~Board()
    {
        syslogManager.openlog(nullptr, 0, LOG_USER);
        syslogManager.closelog();
    }
};

// A syslog daemon on "$GW_ROOT/dev/log": a datagram socket keeps each datagram as one
// record; a stream socket keeps the bytes of all its connections in arrival order.
class Receiver {
public:
    Receiver(std::string const& root, int type) : type_(type)
    {
        path_ = root + "/dev/log";
        ::unlink(path_.c_str());
        fd_ = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
        struct sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path_.c_str());
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (type == SOCK_STREAM)
            ::listen(fd_, 4);
        thread_ = std::thread([this] { run(); });
    }
    ~Receiver()
    {
        stop_ = true;
        thread_.join();
        for (int c : conns_)
            ::close(c);
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    bool bound() const { return bound_; }

    // Waits (generously) until n records are there; returns what is there.
    std::vector<std::string> waitFor(std::size_t n)
    {
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (records().size() >= n)
                    return records();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::lock_guard<std::mutex> lock(mutex_);
        return records();
    }
    // What has arrived, after a short pause for stragglers.
    std::vector<std::string> settled()
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::lock_guard<std::mutex> lock(mutex_);
        return records();
    }

private:
    // Datagrams as they came; a stream cut after each NUL (the NUL kept).
    std::vector<std::string> records() const
    {
        if (type_ == SOCK_DGRAM)
            return datagrams_;
        std::vector<std::string> out;
        std::size_t start = 0, nul;
        while ((nul = stream_.find('\0', start)) != std::string::npos) {
            out.push_back(stream_.substr(start, nul + 1 - start));
            start = nul + 1;
        }
        return out;
    }

    void run()
    {
        std::vector<char> buf(65536);
        while (!stop_) {
            std::vector<pollfd> fds{{fd_, POLLIN, 0}};
            for (int c : conns_)
                fds.push_back({c, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 20) <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                if (type_ == SOCK_STREAM) {
                    int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
                    if (c >= 0)
                        conns_.push_back(c);
                } else {
                    ssize_t n = ::recv(fd_, buf.data(), buf.size(), 0);
                    if (n >= 0) {
                        std::lock_guard<std::mutex> lock(mutex_);
                        datagrams_.emplace_back(buf.data(), std::size_t(n));
                    }
                }
            }
            for (std::size_t i = 1; i < fds.size(); ++i)
                if (fds[i].revents) {
                    ssize_t n = ::recv(fds[i].fd, buf.data(), buf.size(), 0);
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (n > 0)
                        stream_.append(buf.data(), std::size_t(n));
                    else  // the client closed: forget the connection
                        conns_.erase(std::find(conns_.begin(), conns_.end(), fds[i].fd)), ::close(fds[i].fd);
                }
        }
    }

    int type_;
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
    std::atomic<bool> stop_{false};
    std::vector<int> conns_;
    std::mutex mutex_;
    std::vector<std::string> datagrams_;
    std::string stream_;
    std::thread thread_;
};

std::string msg(int priority, std::string const& identAndText)
{
    return "<" + std::to_string(priority) + ">" + kStamp + identAndText + std::string(1, '\0');
}

// A stream over a managed buffer, as start-up makes for std::cout, std::cerr, std::clog.
struct LogStream {
    ManagedSysLogStreamBuf buf;
    std::ostream os{&buf};
    explicit LogStream(int severity) : buf(LOG_DAEMON, severity) {}
};

void openDaemonLog() { syslogManager.openlog("vtd-T230714-1451", LOG_NDELAY, 0); }

// ---------------------------------------------------------------------------------------

TEST(SysLogManager, WireFormatOfTheThreeDaemonStreams)
{
    Board b;
    Receiver r(b.dir, SOCK_DGRAM);
    ASSERT_TRUE(r.bound());
    openDaemonLog();
    ASSERT_GE(syslogManager.fd(), 0);
    EXPECT_TRUE(::fcntl(syslogManager.fd(), F_GETFD) & FD_CLOEXEC);
    LogStream out(LOG_NOTICE), err(LOG_ERR), log(LOG_DEBUG);
    out.os << "Starting server [T230714-1451], port=20001" << std::endl;
    err.os << "dump status error" << std::endl;
    log.os << "update hardware resources" << std::endl;
    EXPECT_EQ(r.waitFor(3),
              (std::vector<std::string>{
                  msg(29, "vtd-T230714-1451: Starting server [T230714-1451], port=20001"),
                  msg(27, "vtd-T230714-1451: dump status error"),
                  msg(31, "vtd-T230714-1451: update hardware resources")}));
}

TEST(SysLogManager, LinesOfAFlushAndUnfinishedLines)
{
    Board b;
    Receiver r(b.dir, SOCK_DGRAM);
    syslogManager.openlog("", LOG_NDELAY, 0);
    LogStream out(LOG_NOTICE);
    out.os << "a\nb" << std::flush;
    EXPECT_EQ(r.waitFor(2), (std::vector<std::string>{msg(29, "a"), msg(29, "b")}));
    out.os << "c\n\nd\n" << std::flush;  // an empty line in between is a message too
    EXPECT_EQ(r.waitFor(5).size(), 5u);
    out.os << "x" << std::flush;  // no line end: waits for the rest
    EXPECT_EQ(r.settled().size(), 5u);
    out.os << "y" << std::endl;
    auto got = r.waitFor(6);
    EXPECT_EQ(std::vector<std::string>(got.begin() + 2, got.end()),
              (std::vector<std::string>{msg(29, "c"), msg(29, ""), msg(29, "d"), msg(29, "xy")}));
}

TEST(SysLogManager, EmptyIdentFacilityDefaultAndPercentSigns)
{
    Board b;
    Receiver r(b.dir, SOCK_DGRAM);
    syslogManager.openlog("", LOG_NDELAY, 0);
    syslogManager.syslog(LOG_INFO, "%s", "100%s done %d");
    syslogManager.openlog(nullptr, LOG_NDELAY, LOG_LOCAL0);
    syslogManager.syslog(LOG_INFO, "local");
    syslogManager.syslog(LOG_DAEMON | LOG_ERR, "daemon");
    syslogManager.sendmsg();
    EXPECT_EQ(r.waitFor(3), (std::vector<std::string>{msg(14, "100%s done %d"), msg(134, "local"),
                                                      msg(27, "daemon")}));
}

TEST(SysLogManager, ProcessIdAndCopyToTheErrorDescriptor)
{
    Board b;
    Receiver r(b.dir, SOCK_DGRAM);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    int savedErr = ::dup(2);
    ::dup2(pipeFds[1], 2);
    syslogManager.openlog("id", LOG_NDELAY | LOG_PID | LOG_PERROR, 0);
    syslogManager.syslog(LOG_NOTICE, "one");
    syslogManager.syslog(LOG_NOTICE, "two\n");
    syslogManager.sendmsg();
    ::dup2(savedErr, 2);
    ::close(savedErr);
    ::close(pipeFds[1]);
    std::string copied;
    char buf[256];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0)
        copied.append(buf, std::size_t(n));
    ::close(pipeFds[0]);
    std::string pid = "[" + std::to_string(::getpid()) + "]";
    EXPECT_EQ(copied, "id" + pid + ": one\nid" + pid + ": two\n");
    EXPECT_EQ(r.waitFor(2), (std::vector<std::string>{msg(13, "id" + pid + ": one"),
                                                      msg(13, "id" + pid + ": two\n")}));
}

TEST(SysLogManager, EveryMessageOfABigFlushArrivesAsItsOwnDatagram)
{
    Board b;
    Receiver r(b.dir, SOCK_DGRAM);
    openDaemonLog();
    LogStream out(LOG_NOTICE);
    std::vector<std::string> expected;
    // 300 short lines in one flush: past the 256 messages of one batch.
    for (int i = 0; i < 300; ++i) {
        out.os << "line " << i << '\n';
        expected.push_back(msg(29, "vtd-T230714-1451: line " + std::to_string(i)));
    }
    out.os << std::flush;
    // Lines of 900 characters: the batch leaves each time it passes 12288 bytes, and the
    // stream buffer fills up in the middle of a line.
    for (int i = 0; i < 20; ++i) {
        std::string text = std::to_string(i) + std::string(897, 'a' + i % 26);
        out.os << text << '\n';
        expected.push_back(msg(29, "vtd-T230714-1451: " + text));
    }
    out.os << std::flush;
    // And one flush per line.
    for (int i = 0; i < 300; ++i) {
        out.os << "single " << i << std::endl;
        expected.push_back(msg(29, "vtd-T230714-1451: single " + std::to_string(i)));
    }
    auto got = r.waitFor(expected.size());
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], expected[i]) << i;
}

TEST(SysLogManager, LongMessageIsCutTo1023CharactersAndItsNul)
{
    Board b;
    Receiver r(b.dir, SOCK_DGRAM);
    openDaemonLog();
    syslogManager.syslog(LOG_DAEMON | LOG_NOTICE, "%s", std::string(3000, 'z').c_str());
    syslogManager.sendmsg();
    auto got = r.waitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].size(), 1024u);
    EXPECT_EQ(got[0].back(), '\0');
    std::string head = "<29>" + std::string(kStamp) + "vtd-T230714-1451: zzz";
    EXPECT_EQ(got[0].compare(0, head.size(), head), 0);
}

TEST(SysLogManager, DescriptorZeroIsAUsableSocket)
{
    Board b;
    Receiver r(b.dir, SOCK_DGRAM);
    int savedIn = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
    ::close(0);
    openDaemonLog();
    int fd = syslogManager.fd();
    syslogManager.syslog(LOG_DAEMON | LOG_NOTICE, "on zero");
    syslogManager.sendmsg();
    syslogManager.closelog();
    ::dup2(savedIn, 0);
    ::close(savedIn);
    EXPECT_EQ(fd, 0);
    EXPECT_EQ(r.waitFor(1), (std::vector<std::string>{msg(29, "vtd-T230714-1451: on zero")}));
}

TEST(SysLogManager, StreamReceiverGetsNulTerminatedMessagesInOrder)
{
    Board b;
    Receiver r(b.dir, SOCK_STREAM);
    openDaemonLog();  // the datagram connect fails with EPROTOTYPE: stream is tried
    ASSERT_GE(syslogManager.fd(), 0);
    LogStream out(LOG_NOTICE);
    std::vector<std::string> expected;
    for (int i = 0; i < 300; ++i) {
        out.os << "s" << i << '\n';
        expected.push_back(msg(29, "vtd-T230714-1451: s" + std::to_string(i)));
    }
    out.os << std::flush;
    EXPECT_EQ(r.waitFor(expected.size()), expected);
}

TEST(SysLogManager, NoReceiverDropsQuietlyAndTheClientRecoversByItself)
{
    Board b;
    syslogManager.openlog("vtd-T230714-1451", LOG_NDELAY, 0);
    EXPECT_EQ(syslogManager.fd(), -1);
    LogStream out(LOG_NOTICE);
    out.os << "lost" << std::endl;
    Receiver r(b.dir, SOCK_DGRAM);
    out.os << "found" << std::endl;
    EXPECT_EQ(r.waitFor(1), (std::vector<std::string>{msg(29, "vtd-T230714-1451: found")}));
    EXPECT_EQ(r.settled().size(), 1u);
}

TEST(SysLogManager, RestartedReceiverGetsTheNextFlush)
{
    Board b;
    LogStream out(LOG_NOTICE);
    {
        Receiver first(b.dir, SOCK_DGRAM);
        openDaemonLog();
        out.os << "before" << std::endl;
        EXPECT_EQ(first.waitFor(1).size(), 1u);
    }
    Receiver second(b.dir, SOCK_DGRAM);
    out.os << "after 1\nafter 2" << std::endl;
    EXPECT_EQ(second.waitFor(2), (std::vector<std::string>{msg(29, "vtd-T230714-1451: after 1"),
                                                           msg(29, "vtd-T230714-1451: after 2")}));
}

TEST(SysLogManager, ConsoleIsTheLastResortUnderLogCons)
{
    Board b;
    std::ofstream(b.dir + "/dev/console").close();
    syslogManager.openlog("vtd", LOG_NDELAY | LOG_CONS, 0);
    syslogManager.syslog(LOG_ERR, "nobody listens");
    std::ifstream in(b.dir + "/dev/console");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "vtd: nobody listens\r\n");
}

TEST(SysLogManager, RootTooLongForASocketAddressFailsCleanly)
{
    Board b;
    std::string longRoot = b.dir + "/" + std::string(120, 'r');
    board::setRoot(longRoot);
    openDaemonLog();
    EXPECT_EQ(syslogManager.fd(), -1);
    syslogManager.syslog(LOG_NOTICE, "dropped");
    EXPECT_EQ(syslogManager.sendmsg(), 0);
}

// What a receiver that never reads on its own has been sent since last asked: it takes every
// connection that waits (a stream), and reads what they and it hold.
std::string takeAll(int receiver, int type, std::vector<Fd>& connections)
{
    std::string text;
    char buf[4096];
    if (type == SOCK_STREAM) {
        for (int c; (c = ::accept4(receiver, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;)
            connections.emplace_back(c);
    } else {
        for (ssize_t n; (n = ::recv(receiver, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
            text.append(buf, std::size_t(n));
    }
    for (Fd const& c : connections)
        for (ssize_t n; (n = ::recv(c.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT)) > 0;)
            text.append(buf, std::size_t(n));
    return text;
}

// In a child process: flushes that the receiver cannot take, so that most of them are lost;
// then, once the receiver has taken what it holds, a flush that reaches it. The exit code
// says which step failed (0: none).
int floodThenRecover(int receiver, int type)
{
    openDaemonLog();
    int const lines = 3000;
    for (int flush = 0; flush < lines / 300; ++flush) {
        for (int i = 0; i < 300; ++i)
            syslogManager.syslog(LOG_DAEMON | LOG_NOTICE, "%0200d", i);
        syslogManager.sendmsg();
    }
    std::vector<Fd> connections;
    std::string const held = takeAll(receiver, type, connections);
    if (std::count(held.begin(), held.end(), '\0') >= lines)
        return 1;
    syslogManager.syslog(LOG_DAEMON | LOG_NOTICE, "found");
    if (syslogManager.sendmsg() < 0)
        return 2;
    return takeAll(receiver, type, connections).find(": found") == std::string::npos ? 3 : 0;
}

// A receiver that takes nothing (a syslog daemon that hangs) holds a flush up for a second at
// most, and the flushes after it not at all; what they held is lost. Once the receiver takes
// again, the next flush reaches it. The flushes run in a child, ended should it hang.
TEST(SysLogManager, AReceiverThatTakesNothingHoldsNoFlushForLong)
{
    for (int type : {SOCK_DGRAM, SOCK_STREAM}) {
        SCOPED_TRACE(type);
        Board b;
        Fd receiver(::socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        struct sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s/dev/log", b.dir.c_str());
        ASSERT_EQ(::bind(receiver.lowlevel_fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_TRUE(type == SOCK_DGRAM || ::listen(receiver.lowlevel_fd(), 1) == 0);
        pid_t const child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            ::_exit(floodThenRecover(receiver.lowlevel_fd(), type));
        int status = -1;
        bool ended = false;
        for (int i = 0; i < 3000 && !ended; ++i) {
            ended = ::waitpid(child, &status, WNOHANG) == child;
            if (!ended)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!ended) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
        }
        EXPECT_TRUE(ended);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

TEST(SysLogManager, CallerArrayFullWithoutLineEndGoesOutWhole)
{
    Board b;
    Receiver r(b.dir, SOCK_DGRAM);
    syslogManager.openlog("", LOG_NDELAY, 0);
    LogStream out(LOG_NOTICE);
    char area[4];  // three characters of text and the NUL
    out.buf.pubsetbuf(area, sizeof area);
    out.os << "abcdefgh" << std::endl;
    EXPECT_EQ(r.waitFor(3), (std::vector<std::string>{msg(29, "abc"), msg(29, "def"), msg(29, "gh")}));
}

}  // namespace
