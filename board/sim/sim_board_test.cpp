#include "board/sim/sim_board.h"

#include "base/fd.h"
#include "board/ioc.h"
#include "tests/loop_pump.h"

#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's allocator tells every allocation to a hook (its header is not installed).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(void const volatile*, std::size_t),
                                                         void (*)(void const volatile*));
#endif

namespace {

using board::sim::Device;
using board::sim::JournalEntry;
using board::sim::OpenFile;
using board::sim::ReadFault;
using board::sim::RequestInfo;
using board::sim::SimBoard;
namespace ioc = board::ioc;

constexpr unsigned long kDouble = ioc::make(ioc::readWrite, 'T', 1, 4);
constexpr unsigned long kValue = ioc::make(ioc::read, 'T', 2, 4);
constexpr unsigned long kPoke = ioc::make(ioc::none, 'T', 3, 0);

// A device that doubles a word, returns a value given by value, and records what it sees.
struct Probe : Device {
    explicit Probe(std::string path = "/dev/probe")
        : Device(std::move(path), {{kDouble, "double", 4}, {kValue, "value", 0, true}, {kPoke, "poke"}})
    {
    }
    int opened(OpenFile& f) override
    {
        if (refuse)
            return -EBUSY;
        opensSeen.push_back(f.id());
        return 0;
    }
    int request(OpenFile* f, RequestInfo const& info, void* arg) override
    {
        lastOpen = f ? int(f->id()) : 0;
        if (info.number == kDouble) {
            *static_cast<std::uint32_t*>(arg) *= 2;
            return 0;
        }
        if (info.number == kValue)
            return int(reinterpret_cast<unsigned long>(arg));
        return 5;
    }
    void received(OpenFile&, void const* data, std::size_t n) override
    {
        writes.emplace_back(static_cast<char const*>(data), n);
    }
    void closed(OpenFile& f) override { closedIds.push_back(f.id()); }

    bool refuse = false;
    int lastOpen = -1;
    std::vector<unsigned> opensSeen;
    std::vector<unsigned> closedIds;
    std::vector<std::string> writes;
};

struct SimBoardTest : ::testing::Test {
    SimBoard sim;
    Probe& probe = sim.add<Probe>();

    JournalEntry const& last() { return sim.journal().entries().back(); }
};

TEST_F(SimBoardTest, UnknownPathFailsWithNoSuchFileAndIsJournaled)
{
    errno = 0;
    EXPECT_EQ(sim.open("/dev/none", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(last().kind, JournalEntry::Kind::open);
    EXPECT_EQ(last().path, "/dev/none");
    EXPECT_EQ(last().error, ENOENT);
    EXPECT_EQ(last().text(), "1 open /dev/none rdwr -> ENOENT");
}

TEST_F(SimBoardTest, OpenGivesASeqPacketSocketWithTheFlagsAsked)
{
    int fd = sim.open("/dev/probe", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    int type = 0;
    socklen_t len = sizeof type;
    ASSERT_EQ(::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len), 0);
    EXPECT_EQ(type, SOCK_SEQPACKET);
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(::fcntl(fd, F_GETFL) & O_NONBLOCK);
    EXPECT_EQ(last().text(), "1 open /dev/probe rdwr,nonblock,cloexec -> " + std::to_string(fd));

    int plain = sim.open("/dev/probe", O_RDONLY);
    ASSERT_GE(plain, 0);
    EXPECT_FALSE(::fcntl(plain, F_GETFD) & FD_CLOEXEC);
    EXPECT_FALSE(::fcntl(plain, F_GETFL) & O_NONBLOCK);
    EXPECT_EQ(probe.opens().size(), 2u);
    ::close(fd);
    ::close(plain);
}

TEST_F(SimBoardTest, DupsReachTheSameOpenAndOnlyTheLastCloseHangsUp)
{
    int a = sim.open("/dev/probe", O_RDWR);
    int b = sim.open("/dev/probe", O_RDWR);
    ASSERT_GE(b, 0);
    int a2 = ::dup(a);
    std::uint32_t w = 21;
    ASSERT_EQ(sim.ioctl(a2, kDouble, &w), 0);
    EXPECT_EQ(w, 42u);
    EXPECT_EQ(probe.lastOpen, 1);
    ASSERT_EQ(sim.ioctl(b, kDouble, &w), 0);
    EXPECT_EQ(probe.lastOpen, 2);

    ::close(a);
    EXPECT_EQ(sim.openCount(), 2u);
    EXPECT_TRUE(probe.closedIds.empty());
    ::close(a2);
    EXPECT_EQ(sim.openCount(), 1u);
    EXPECT_EQ(probe.closedIds, std::vector<unsigned>{1});
    EXPECT_EQ(last().text().substr(last().text().find(' ') + 1), "close /dev/probe");
    ::close(b);
}

TEST_F(SimBoardTest, RequestsOutsideTheTableOrTheBoardFailAsADriverWould)
{
    int fd = sim.open("/dev/probe", O_RDWR);
    unsigned long unknown = ioc::make(ioc::write, 'T', 9, 4);
    errno = 0;
    EXPECT_EQ(sim.ioctl(fd, unknown, &unknown), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(last().name, "");
    EXPECT_NE(last().text().find("0x80045409 -> ENOTTY"), std::string::npos);

    errno = 0;
    EXPECT_EQ(sim.ioctl(fd, kDouble, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);

    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    errno = 0;
    EXPECT_EQ(sim.ioctl(p[0], kDouble, &unknown), -1);
    EXPECT_EQ(errno, ENOTTY);
    ::close(p[0]);
    ::close(p[1]);
    errno = 0;
    EXPECT_EQ(sim.ioctl(-1, kDouble, &unknown), -1);
    EXPECT_EQ(errno, EBADF);
    ::close(fd);
}

TEST_F(SimBoardTest, AReusedDescriptorNumberNeverReachesTheOldOpen)
{
    board::ScopedBoard installed(sim);
    // How the number is given up: closed through Fd while a dup keeps the open, closed
    // through Fd as its only descriptor, or closed behind the board's back and its hang-up
    // seen.
    struct {
        char const* how;
        bool keepDup;
        bool throughFd;
    } const cases[] = {{"Fd, dup kept", true, true}, {"Fd", false, true}, {"raw close", false, false}};
    for (auto const& c : cases) {
        Fd fd(sim.open("/dev/probe", O_RDWR));
        ASSERT_TRUE(fd.is_valid());
        int const number = fd.lowlevel_fd();
        std::uint32_t w = 1;
        ASSERT_EQ(sim.ioctl(number, kDouble, &w), 0);
        Fd dup;
        if (c.keepDup) {
            dup = fd;
            ASSERT_EQ(sim.ioctl(dup.lowlevel_fd(), kDouble, &w), 0);  // found through the dup too
        }
        if (c.throughFd) {
            fd.close();
        } else {
            ::close(fd.lowlevel_fd());
            sim.service();
            fd = Fd();  // forget the number without closing it again
        }
        int p[2];
        ASSERT_EQ(::pipe(p), 0);
        ASSERT_EQ(p[0], number) << c.how;  // the lowest free number is taken again
        errno = 0;
        EXPECT_EQ(sim.ioctl(number, kDouble, &w), -1) << c.how;
        EXPECT_EQ(errno, ENOTTY) << c.how;
        if (c.keepDup) {
            EXPECT_EQ(sim.ioctl(dup.lowlevel_fd(), kPoke, nullptr), 5) << c.how;
        }
        ::close(p[0]);
        ::close(p[1]);
    }
}

// Allocations counted while a test asks for it.
long allocations = -1;  // -1: not counting

TEST_F(SimBoardTest, RequestsAllocateNothing)
{
#if defined(__SANITIZE_ADDRESS__)
    static bool const hooked = __sanitizer_install_malloc_and_free_hooks(
        [](void const volatile*, std::size_t) { allocations += allocations >= 0 ? 1 : 0; },
        [](void const volatile*) {});
    ASSERT_TRUE(hooked);
#else
    GTEST_SKIP() << "allocations are counted by the address sanitizer's allocator";
#endif
    int fd = sim.open("/dev/probe", O_RDWR);
    unsigned long const unknown = ioc::make(ioc::write, 'T', 9, 4);
    std::uint32_t w = 1;
    sim.ioctl(fd, unknown, &w);  // its site is kept from here on
    allocations = 0;
    for (int i = 0; i < 10000; ++i) {
        w = 1;
        sim.ioctl(fd, kDouble, &w);
        sim.ioctl(fd, kValue, board::byValue(unsigned(i)));
        sim.ioctl(fd, kDouble, nullptr);
        sim.pause(10);
    }
    long const made = allocations;
    allocations = -1;
    EXPECT_EQ(made, 0);
    EXPECT_EQ(sim.journal().since(0).size(), 8192u);  // the ring, full
    ::close(fd);
}

TEST_F(SimBoardTest, JournalKeepsRecordsValuesAndResults)
{
    int fd = sim.open("/dev/probe", O_RDWR);
    std::uint32_t w = 7;
    sim.ioctl(fd, kDouble, &w);
    EXPECT_EQ(last().word(0), 7u);  // the record as the daemon gave it
    EXPECT_EQ(last().text(), "2 ioctl /dev/probe double 7 -> 0");
    EXPECT_EQ(sim.ioctl(fd, kValue, board::byValue(33)), 33);
    EXPECT_EQ(last().text(), "3 ioctl /dev/probe value 33 -> 33");
    EXPECT_EQ(sim.ioctl(fd, kPoke, nullptr), 5);
    EXPECT_EQ(last().text(), "4 ioctl /dev/probe poke -> 5");
    sim.pause(500);
    EXPECT_EQ(last().text(), "5 pause 500");
    ::close(fd);
}

TEST_F(SimBoardTest, ModelRecordsAreReadOneAtATimeAndDaemonWritesReachTheModel)
{
    int fd = sim.open("/dev/probe", O_RDWR | O_NONBLOCK);
    OpenFile& f = *probe.opens().front();
    ASSERT_TRUE(f.send("first", 5));
    EXPECT_EQ(probe.broadcast("second!", 7), 1);
    char buf[64];
    EXPECT_EQ(::read(fd, buf, sizeof buf), 5);
    EXPECT_EQ(std::string(buf, 5), "first");
    EXPECT_EQ(::read(fd, buf, sizeof buf), 7);
    EXPECT_EQ(::read(fd, buf, sizeof buf), -1);
    EXPECT_EQ(errno, EAGAIN);

    ASSERT_EQ(::write(fd, "frame-1", 7), 7);
    ASSERT_EQ(::write(fd, "f2", 2), 2);
    sim.service();
    EXPECT_EQ(probe.writes, (std::vector<std::string>{"frame-1", "f2"}));

    // Written just before the close: still handed over before the hang-up.
    ASSERT_EQ(::write(fd, "last", 4), 4);
    ::close(fd);
    sim.service();
    EXPECT_EQ(probe.writes.back(), "last");
    EXPECT_EQ(probe.closedIds.size(), 1u);
}

TEST_F(SimBoardTest, WhatADescriptorWroteReachesTheModelWhenItIsClosed)
{
    int fd = sim.open("/dev/probe", O_RDWR);
    ASSERT_EQ(::write(fd, "STOP", 4), 4);
    sim.closing(fd);  // as Fd tells the board just before its close; no loop runs after it
    ::close(fd);
    EXPECT_EQ(probe.writes, std::vector<std::string>{"STOP"});
}

TEST_F(SimBoardTest, TheEventLoopHandsWritesAndClosesToTheModel)
{
    int fd = sim.open("/dev/probe", O_RDWR);
    ASSERT_EQ(::write(fd, "abc", 3), 3);
    EXPECT_TRUE(testsupport::runUntil([&] { return probe.writes.size() == 1; }, 5000));
    ::close(fd);
    EXPECT_TRUE(testsupport::runUntil([&] { return probe.closedIds.size() == 1; }, 5000));
    EXPECT_TRUE(probe.opens().empty());
}

TEST_F(SimBoardTest, ClosingTheBoardHangsUpTheDaemonsDescriptors)
{
    auto other = std::make_unique<SimBoard>();
    other->add<Probe>();
    int fd = other->open("/dev/probe", O_RDWR);
    other.reset();
    char c;
    EXPECT_EQ(::read(fd, &c, 1), 0);
    ::close(fd);
}

TEST_F(SimBoardTest, InjectedOpenFailuresCountDown)
{
    sim.failOpen("/dev/probe", EIO, 2);
    EXPECT_EQ(sim.open("/dev/probe", O_RDWR), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(sim.open("/dev/probe", O_RDWR), -1);
    int fd = sim.open("/dev/probe", O_RDWR);
    EXPECT_GE(fd, 0);
    ::close(fd);

    probe.refuse = true;
    EXPECT_EQ(sim.open("/dev/probe", O_RDWR), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(sim.openCount(), 0u);
}

TEST_F(SimBoardTest, InjectedRequestFailuresMatchNumberAndFirstWord)
{
    int fd = sim.open("/dev/probe", O_RDWR);
    sim.failRequest("/dev/probe", kDouble, EIO, 1, 9u);
    sim.failRequest("/dev/probe", kPoke, ENXIO, -1);
    std::uint32_t w = 8;
    EXPECT_EQ(sim.ioctl(fd, kDouble, &w), 0);  // first word 8: not matched
    w = 9;
    EXPECT_EQ(sim.ioctl(fd, kDouble, &w), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(w, 9u);  // the model did not see it
    EXPECT_EQ(last().text(), std::to_string(last().seq) + " ioctl /dev/probe double 9 -> EIO");
    EXPECT_EQ(sim.ioctl(fd, kDouble, &w), 0);  // used up
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(sim.ioctl(fd, kPoke, nullptr), -1);
    sim.clearFailures();
    EXPECT_EQ(sim.ioctl(fd, kPoke, nullptr), 5);
    ::close(fd);
}

TEST_F(SimBoardTest, RemovedDeviceCannotBeOpenedButHeldOpensWork)
{
    int fd = sim.open("/dev/probe", O_RDWR);
    EXPECT_TRUE(sim.remove("/dev/probe"));
    EXPECT_FALSE(sim.present("/dev/probe"));
    EXPECT_EQ(sim.open("/dev/probe", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(sim.ioctl(fd, kPoke, nullptr), 5);
    EXPECT_TRUE(sim.restore("/dev/probe"));
    int again = sim.open("/dev/probe", O_RDWR);
    EXPECT_GE(again, 0);
    EXPECT_FALSE(sim.remove("/dev/none"));
    ::close(fd);
    ::close(again);
}

TEST_F(SimBoardTest, ReplacingAModelHangsUpTheOpensOfTheOldOne)
{
    int fd = sim.open("/dev/probe", O_RDWR);
    EXPECT_EQ(sim.ioctl(fd, kPoke, nullptr), 5);
    Probe& fresh = sim.add<Probe>();
    EXPECT_EQ(sim.device("/dev/probe"), &fresh);
    char c;
    EXPECT_EQ(::read(fd, &c, 1), 0);
    errno = 0;
    EXPECT_EQ(sim.ioctl(fd, kPoke, nullptr), -1);
    EXPECT_EQ(errno, ENOTTY);
    ::close(fd);
    // The same request on the fresh model reaches the fresh model.
    int again = sim.open("/dev/probe", O_RDWR);
    EXPECT_EQ(sim.ioctl(again, kPoke, nullptr), 5);
    EXPECT_EQ(fresh.lastOpen, 2);
    ::close(again);
}

TEST_F(SimBoardTest, InterfaceRequestsGoToTheInterfaceModel)
{
    sim.addInterface(std::make_unique<Probe>("hdlc0"));
    ifreq ifr{};
    std::strcpy(ifr.ifr_name, "hdlc0");
    EXPECT_EQ(sim.ifaceIoctl(kPoke, &ifr), 5);
    EXPECT_EQ(last().kind, JournalEntry::Kind::iface);
    EXPECT_EQ(sim.ifaceIoctl(SIOCGIFFLAGS, &ifr), -1);
    EXPECT_EQ(errno, ENOTTY);
    std::strcpy(ifr.ifr_name, "hdlc1");
    EXPECT_EQ(sim.ifaceIoctl(SIOCGIFINDEX, &ifr), -1);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(last().path, "hdlc1");
}

TEST_F(SimBoardTest, TheDescriptorsTheBoardHoldsItselfAreNeverTheDaemons)
{
    struct Case {
        char const* name;
        std::optional<ReadFault::Kind> fault;
        std::size_t own;  // while the daemon holds its descriptor
    };
    Case const cases[] = {
        {"open", std::nullopt, 2},  // the model's end and its watch
        {"end of file", ReadFault::Kind::eof, 2},
        {"hang-up", ReadFault::Kind::hangup, 3},  // and the socket the daemon's descriptor was
        {"error", ReadFault::Kind::err, 3},
    };
    for (Case const& c : cases) {
        int const fd = sim.open("/dev/probe", O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        if (c.fault)
            sim.failRead("/dev/probe", ReadFault{*c.fault, 0});
        std::vector<int> const own = sim.ownDescriptors();
        EXPECT_EQ(own.size(), c.own) << c.name;
        EXPECT_EQ(std::count(own.begin(), own.end(), fd), 0) << c.name;
        for (int d : own)
            EXPECT_GE(::fcntl(d, F_GETFD), 0) << c.name << " " << d;
        sim.clearFailures();
        ::close(fd);
        sim.service();
        EXPECT_EQ(sim.ownDescriptors(), std::vector<int>{}) << c.name;
    }
}

}  // namespace
