// Modems and fax on the daemon running on the simulated board: the test is the controller
// and the PPP authentication client (on the fixed local port), and the stub child stands in
// for pppd and the fax programs.

#include "tests/auth_records.h"
#include "tests/loopback.h"
#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::Bytes;
using testsupport::DaemonLauncher;
using testsupport::modemCreate;
using testsupport::modemParams;
using testsupport::plainCommand;
using testsupport::operator+;

constexpr std::uint16_t kAuthPort = 52000;


class Modems : public testsupport::SimDaemonTest {
protected:
    void SetUp() override
    {
        SimDaemonTest::SetUp();
        takeAuthPort();
        trunkSlot7();
    }

    // The modem counts of the resources: "modem=2 digital-modems=0".
    std::string modems()
    {
        ZGCP::Resources const r = resources();
        return "modem=" + std::to_string(r.get_modem().getValue())
             + " digital-modems=" + std::to_string(r.get_digital_modems().getValue());
    }

    // The first run of the stub once it has recorded its start.
    int started(testsupport::StubChild const& stub)
    {
        int pid = 0;
        DaemonLauncher::waitFor([&] {
            pid = stub.pids().empty() ? 0 : stub.pids().front();
            return pid && stub.lines(pid).size() >= 2;
        });
        return pid;
    }
};

TEST_F(Modems, ADataCallIsAnsweredAuthenticatedAccountedAndHungUp)
{
    testsupport::StubChild pppd(daemon.root(), "/usr/local/sbin/pppd");
    EXPECT_EQ(board->command("device /dev/mctl modems 2"), "ok");
    EXPECT_EQ(modems(), "modem=2 digital-modems=0");
    EXPECT_EQ(on(20, create(modemCreate(modemParams("123")))), "success");
    EXPECT_EQ(on(20, connect(7)), "slot=20 transmitter active 1536");
    EXPECT_EQ(next(2), (std::vector<std::string>{"slot=20 receiver active 1536",
                                                 "seq=" + std::to_string(seq) + " slot=20 success"}));
    EXPECT_EQ(board->command("dump /dev/mctl"), "ok modems=2 0:ts=1536,modes=0x0,params=,call=answer 1:free");
    int const pid = started(pppd);
    EXPECT_EQ(pppd.args(pid), "file " + daemon.root() + "/usr/local/etc/ppp/aoptions /dev/mdm0 remotenumber 123");

    testsupport::TcpClient auth(testsupport::TcpClient::Waiting::Socket);
    ASSERT_TRUE(auth.connect(kAuthPort));
    ASSERT_TRUE(auth.send(testsupport::authRequest(0, "alice", "secret")));
    EXPECT_EQ(next(), "slot=20 modemProceeding auth : {\n  username \"alice\",\n  password \"secret\"\n}");
    EXPECT_EQ(on(20, testsupport::modemActivate("10.1.2.3", "255.255.255.0", "10.1.2.1", "no address", 1500)),
              "success");
    ASSERT_TRUE(auth.receive(16 + 36));
    Bytes const addresses{10, 1, 2, 3, 255, 255, 255, 0, 10, 1, 2, 1, 255, 255, 255, 255};
    EXPECT_EQ(auth.take(52), testsupport::words({16, 2, 0, 1, 36, 3, 0, 0}) + addresses + testsupport::words({1500}));
    ASSERT_TRUE(auth.send(testsupport::accounting(0, {1, 2, 3, 4, 0, 5, 0, 6, 70})));
    EXPECT_EQ(next(), "slot=20 modemProceeding acct : {\n  octetsOut {\n    low 2,\n    high 1\n  },\n"
                      "  octetsIn {\n    low 4,\n    high 3\n  },\n  packetsOut {\n    low 5,\n    high 0\n  },\n"
                      "  packetsIn {\n    low 6,\n    high 0\n  },\n  time {\n    low 70,\n    high 0\n  }\n}");

    // pppd hangs up and goes: the destroy gets one answer, and nothing else comes.
    EXPECT_EQ(on(20, plainCommand(ZGCP::Command::destroy::id)), "success");
    EXPECT_TRUE(pppd.recorded(pid, "signal HUP"));
    EXPECT_TRUE(pinged());
    EXPECT_TRUE(logged("20:dsp-modem: pppd terminated with code 1\n"));
}

TEST_F(Modems, AReceivedFaxReportsItsPagesThenItsEnd)
{
    testsupport::StubChild fax(daemon.root(), "/usr/local/bin/fax");
    fax.configure("RUN=0; EXIT=3");
    TERM::ModemParams params = modemParams("");
    params.set_fax();
    EXPECT_EQ(on(21, create(modemCreate(params))), "success");
    EXPECT_EQ(on(21, connect(7)), "slot=21 transmitter active 1536");
    EXPECT_EQ(next(2), (std::vector<std::string>{"slot=21 receiver active 1536",
                                                 "seq=" + std::to_string(seq) + " slot=21 success"}));
    EXPECT_EQ(next(2), (std::vector<std::string>{
                           "slot=21 modemProceeding acct : {\n  octetsOut {\n    low 0,\n    high 0\n  },\n"
                           "  octetsIn {\n    low 3,\n    high 0\n  },\n  packetsOut {\n    low 0,\n    high 0\n  },\n"
                           "  packetsIn {\n    low 0,\n    high 0\n  },\n  time {\n    low 0,\n    high 0\n  }\n}",
                           "slot=21 abort 768"}));
    // The file's time of day is the in-process test's (a frozen clock).
    std::string const args = fax.args(started(fax));
    EXPECT_EQ(args.rfind("-m 0 receive " + daemon.root() + "/var/fax-", 0), 0u) << args;
    EXPECT_TRUE(logged("21:dsp-modem: pages received: 3\n"));
}

TEST_F(Modems, ADigitalModemRunsPppOnAPointToPointInterface)
{
    testsupport::StubChild pppd(daemon.root(), "/usr/local/sbin/pppd");
    EXPECT_EQ(board->command("device hdlc0 p2p on"), "ok");
    EXPECT_EQ(board->command("device hdlc0 channel 7200"), "ok");
    EXPECT_EQ(modems(), "modem=4 digital-modems=1");
    TERM::ModemParams params = modemParams("");
    params.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddmV110));
    EXPECT_EQ(on(22, create(modemCreate(params))), "success");

    unsigned long long const mark = journalNext();
    EXPECT_EQ(on(22, connect(7)), "slot=22 transmitter active 7200");
    EXPECT_EQ(answer(next(), 22), "success");
    // The settings type of each SIOCWANDEV: the fifth word of the request record.
    std::vector<std::string> types;
    for (std::string const& entry : journal(mark, "iface hdlc0 wandev ")) {
        std::istringstream words(entry);
        std::string word;
        for (int i = 0; i < 8; ++i)
            words >> word;
        types.push_back(word);
    }
    EXPECT_EQ(types, (std::vector<std::string>{"1", "8193"}));
    int const pid = started(pppd);
    EXPECT_EQ(pppd.args(pid), "file " + daemon.root() + "/usr/local/etc/ppp/ioptions hdlc0");
    EXPECT_EQ(board->command("dump hdlc0"), "ok p2p=on channel=7200 proto=ppp up=off");

    EXPECT_EQ(on(22, plainCommand(ZGCP::Command::destroy::id)), "success");
    EXPECT_EQ(board->command("dump hdlc0"), "ok p2p=on channel=7200 proto=hdlc up=off");
    EXPECT_EQ(modems(), "modem=4 digital-modems=1");
}

// Idle connections to the authentication listener are bounded: with 600 of them held against a
// limit of 1024 descriptors the daemon still has descriptors for slots.
TEST_F(Modems, IdleAuthConnectionsLeaveDescriptorsForSlots)
{
    rlimit const limit{1024, 1024};
    ASSERT_EQ(::prlimit(daemon.pid(), RLIMIT_NOFILE, &limit, nullptr), 0);
    std::vector<Fd> idle;
    sockaddr_in const to = testsupport::loopbackAddress(kAuthPort);
    // In batches that the listener's queue holds, each connected before the next starts.
    for (int batch = 0; batch < 12; ++batch) {
        std::vector<pollfd> connecting;
        for (int i = 0; i < 50; ++i) {
            idle.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            ASSERT_TRUE(idle.back());
            int const result = ::connect(idle.back().lowlevel_fd(), reinterpret_cast<sockaddr const*>(&to), sizeof to);
            ASSERT_TRUE(result == 0 || errno == EINPROGRESS) << std::strerror(errno);
            connecting.push_back(pollfd{idle.back().lowlevel_fd(), POLLOUT, 0});
        }
        ASSERT_TRUE(DaemonLauncher::waitFor([&] {
            ::poll(connecting.data(), connecting.size(), 0);
            return std::all_of(connecting.begin(), connecting.end(), [](pollfd const& p) { return p.revents & POLLOUT; });
        })) << "batch " << batch;
    }
    // The daemon closes those beyond its bound; it keeps at most a few dozen.
    auto closedByDaemon = [&] {
        std::size_t closed = 0;
        for (Fd const& fd : idle) {
            char c = 0;
            closed += ::recv(fd.lowlevel_fd(), &c, 1, MSG_DONTWAIT | MSG_PEEK) == 0;
        }
        return closed;
    };
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return closedByDaemon() >= idle.size() - 64; }));
    EXPECT_EQ(on(21, create(testsupport::rtpParams(testsupport::rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1", 40000)))),
              "success");
    next(2);
    EXPECT_EQ(on(22, create(testsupport::mccParams(ZGCP::MccType::data, ZGCP::MccMode::standard))), "success");
    EXPECT_EQ(daemon.said("modem[4,0]: auth connection refused: "), 1u) << daemon.err();
}

}  // namespace
