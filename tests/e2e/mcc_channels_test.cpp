// The slots on channels of the MCC controller, on the daemon running on the simulated board:
// raw frame channels, players and recorders with a TCP peer in the test, and T.38 relays
// started as child programs (the stub child in place of the relay).

#include "tests/loopback.h"
#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"

#include <signal.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::DaemonLauncher;
using testsupport::LoopbackListener;
using testsupport::plainCommand;

constexpr int kTimeout = DaemonLauncher::kTimeout;


class MccChannels : public testsupport::SimDaemonTest {
protected:
    void SetUp() override
    {
        SimDaemonTest::SetUp();
        trunkSlot7();
    }

    // The only channel of the controller in use: its switch channel and inode ("512",
    // "4711"), from the board's dump.
    std::pair<std::string, std::string> channel()
    {
        std::string const dump = board->command("dump /dev/mcc/ctl");
        auto at = dump.find(':', dump.rfind(' ') + 1);
        auto ino = dump.find(":ino=");
        if (at == std::string::npos || ino == std::string::npos)
            return {};
        return {dump.substr(dump.rfind(' ') + 1, at - dump.rfind(' ') - 1), dump.substr(ino + 5)};
    }
    // The frames the daemon wrote on the channel, joined.
    std::string written(std::string const& ts)
    {
        std::string const reply = board->command("device /dev/mcc/ctl written " + ts);
        std::string bytes;
        std::istringstream words(reply.substr(2));
        for (std::string frame; words >> frame;)
            for (std::size_t i = 0; frame != "-" && i + 1 < frame.size(); i += 2)
                bytes += char(std::stoi(frame.substr(i, 2), nullptr, 16));
        return bytes;
    }
    // Waits until the daemon has written that much on the channel in all.
    std::string writtenUntil(std::string const& ts, std::size_t size)
    {
        std::string all;
        DaemonLauncher::waitFor([&] {
            all += written(ts);
            return all.size() >= size;
        });
        return all;
    }
};

TEST_F(MccChannels, DataSlotCarriesFramesBothWaysAndSurvivesItsLine)
{
    EXPECT_EQ(on(20, create(testsupport::mccParams(ZGCP::MccType::data, ZGCP::MccMode::standard))), "success");
    std::string const ts = channel().first;
    ASSERT_FALSE(ts.empty());
    EXPECT_EQ(on(20, connect(7)), "slot=20 transmitter active " + ts);
    EXPECT_EQ(answer(next(), 20), "success");
    EXPECT_EQ(on(7, connect(20)), "slot=20 receiver active " + ts);
    EXPECT_EQ(answer(next(), 7), "success");
    EXPECT_EQ(output(37).rfind("ok <" + ts + " ", 0), 0u) << output(37);
    EXPECT_EQ(output(std::stoi(ts)).rfind("ok <37 ", 0), 0u) << output(std::stoi(ts));

    EXPECT_EQ(on(20, testsupport::userDataCommand({1, 2})), "success");
    EXPECT_EQ(writtenUntil(ts, 2), "\x01\x02");
    EXPECT_EQ(board->command("device /dev/mcc/ctl push " + ts + " 0a 0b0c 0d"), "ok 3");
    EXPECT_EQ(next(3), (std::vector<std::string>{"slot=20 userData 0a", "slot=20 userData 0b0c", "slot=20 userData 0d"}));

    // The end of the line does not hold the daemon; the slot says it with its streams gone and
    // an abort.
    EXPECT_EQ(board->command("device /dev/mcc/ctl hangup " + ts), "ok");
    EXPECT_EQ(next(3), (std::vector<std::string>{"slot=20 receiver inactive", "slot=20 transmitter inactive",
                                                 "slot=20 abort 0"}));
    EXPECT_TRUE(logged("20:MCC: MCC line closed: end of file\n"));
    EXPECT_TRUE(pinged());
    EXPECT_EQ(on(20, testsupport::userDataCommand({3})), "error=" + std::to_string(ZGCP::ErrorCause::unsupported));
    EXPECT_TRUE(logged("20:MCC: user data refused: the line has ended"));
}

TEST_F(MccChannels, NetworkPlayerSendsItsIdThenPlaysWhatThePeerSends)
{
    LoopbackListener peer;
    EXPECT_EQ(on(30, create(testsupport::networkPlayerParams("127.0.0.1", peer.port(), 0x01020304))), "success");
    std::string const ts = channel().first;
    EXPECT_EQ(on(30, connect(7)), "slot=30 transmitter active " + ts);
    EXPECT_EQ(answer(next(), 30), "success");
    Fd socket = peer.accept(kTimeout);
    ASSERT_TRUE(socket);
    EXPECT_EQ(next(), "slot=30 ioctl startPlaying : NULL");
    EXPECT_EQ(testsupport::readFor(socket, 4, kTimeout), std::string("\x01\x02\x03\x04"));

    ASSERT_EQ(::send(socket.lowlevel_fd(), "hello", 5, MSG_NOSIGNAL), 5);
    EXPECT_EQ(writtenUntil(ts, 5), "hello");
    socket.close();
    EXPECT_EQ(next(2), (std::vector<std::string>{"slot=30 transmitter inactive", "slot=30 abort 0"}));
    EXPECT_TRUE(logged("player[" + ts + "]: connection to 127.0.0.1:" + std::to_string(peer.port()) + " closed.\n"));
    // The daemon sent nothing but the id.
    EXPECT_EQ(testsupport::readFor(socket, 1, 0), "");
}

TEST_F(MccChannels, FilePlayerPlaysItsPhrasesRepeatTimesWithinTheVoiceFolder)
{
    daemon.writeFile("/usr/local/voice/a", "AAA");
    daemon.writeFile("/usr/local/voice/b", "BB");
    daemon.writeFile("/usr/local/secret", "S");
    for (char const* name : {"../secret", "sub/a"}) {
        EXPECT_EQ(on(31, create(testsupport::filePlayerParams({"a", name}, 1))), "error=1") << name;
        EXPECT_TRUE(logged(std::string("voice/mcc[0]: phrase name refused: \"") + name + "\"\n"));
    }

    EXPECT_EQ(on(31, create(testsupport::filePlayerParams({"a", "b"}, 2))), "success");
    std::string const ts = channel().first;
    EXPECT_EQ(on(31, connect(7)), "slot=31 transmitter active " + ts);
    EXPECT_EQ(answer(next(), 31), "success");
    EXPECT_EQ(next(2), (std::vector<std::string>{"slot=31 transmitter inactive", "slot=31 abort 0"}));
    EXPECT_EQ(writtenUntil(ts, 10), "AAABBAAABB");
}

TEST_F(MccChannels, RecorderSendsTheChannelUntilThePeerCloses)
{
    LoopbackListener peer;
    EXPECT_EQ(on(40, create(testsupport::recorderParams("127.0.0.1", peer.port()))), "success");
    std::string const ts = channel().first;
    EXPECT_EQ(next(), "slot=40 receiver active " + ts);
    EXPECT_EQ(on(7, connect(40)), "success");
    Fd socket = peer.accept(kTimeout);
    ASSERT_TRUE(socket);
    EXPECT_TRUE(logged("recorder[" + ts + "]: connected to 127.0.0.1:" + std::to_string(peer.port()) + ".\n"));

    EXPECT_EQ(board->command("device /dev/mcc/ctl push " + ts + " 6869 21"), "ok 2");
    EXPECT_EQ(testsupport::readFor(socket, 3, kTimeout), "hi!");
    socket.close();
    EXPECT_EQ(next(), "slot=40 ioctl stopRecording : userRequest");
    EXPECT_TRUE(pinged());
}

TEST_F(MccChannels, T38RelayRunsOnTheChannelAndIsToldToEnd)
{
    testsupport::StubChild relay(daemon.root(), "/usr/local/sbin/t38");
    relay.configure("INSTANCES=4; IGNORE=TERM");
    EXPECT_EQ(resources().get_t38_instances().getValue(), 4);

    EXPECT_EQ(on(50, create(testsupport::t38Params("10.0.0.1", 4000, 5000))), "success");
    auto const [ts, ino] = channel();
    EXPECT_EQ(next(2), (std::vector<std::string>{"slot=50 transmitter active " + ts, "slot=50 receiver active " + ts}));
    int pid = 0;
    ASSERT_TRUE(DaemonLauncher::waitFor([&] {
        auto pids = relay.pids();
        pid = pids.size() == 2 ? pids[1] : 0;
        return pid && relay.lines(pid).size() >= 2;
    }));
    EXPECT_EQ(relay.lines(pid), (std::vector<std::string>{"args --child --remote 10.0.0.1/4000/5000",
                                                          "stdin socket:[" + ino + "]"}));

    // The answer does not wait for the relay, which here ignores the request to end.
    EXPECT_EQ(on(50, plainCommand(ZGCP::Command::destroy::id)), "success");
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return relay.recorded(pid, "signal TERM"); }));
    EXPECT_EQ(::kill(pid, 0), 0);
    EXPECT_TRUE(pinged());
}

}  // namespace
