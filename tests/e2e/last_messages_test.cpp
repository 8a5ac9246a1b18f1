// A peer's last message before it resets its connection, on the daemon running on the
// simulated board: whatever the kind of peer, the message is taken every time. The peers
// send and reset while the daemon is stopped (for the player, stopped by the simulated board
// inside the turn that started its connects), so that it finds the message and the reset
// waiting together.

#include "messages/mon.h"
#include "tests/auth_records.h"
#include "tests/hardware_commands.h"
#include "tests/loopback.h"
#include "tests/peer_end.h"
#include "tests/process_figures.h"
#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

using testsupport::DaemonLauncher;
using testsupport::End;

// Each kind of peer sends its last message this many times.
constexpr int kTimes = 20;

enum class Peer { controller, agent, auth, player };
// The authentication client's row holds the lock of the listener's fixed port
// (tests/e2e/CMakeLists.txt): its name begins with "auth".
char const* const peerNames[] = {"controller", "agent", "auth", "player"};

void PrintTo(Peer p, std::ostream* os) { *os << peerNames[int(p)]; }

class LastMessages : public testsupport::SimDaemonTest, public testing::WithParamInterface<Peer> {
protected:
    void SetUp() override
    {
        if (GetParam() == Peer::agent) {
            std::string conf;
            for (int i = 0; i < kTimes; ++i)
                conf += "[snmpagent]\nhost=" + peers.address() + "\nname=qelt\n";
            daemon.writeFile("/usr/local/etc/server.conf", conf);
        }
        SimDaemonTest::SetUp();
        if (GetParam() == Peer::auth)
            takeAuthPort();
        trunkSlot7();
    }

    bool stopped()
    {
        std::string state;
        testsupport::statFields("/proc/" + std::to_string(daemon.pid())) >> state;
        return state == "T";
    }

    // What the peers do runs while the daemon is stopped.
    void whileStopped(std::function<void()> const& peersAct)
    {
        ASSERT_TRUE(daemon.signal(SIGSTOP));
        ASSERT_TRUE(DaemonLauncher::waitFor([&] { return stopped(); }));
        peersAct();
        ASSERT_TRUE(daemon.signal(SIGCONT));
    }

    // A controller connects, asks for a clock source of its own and resets; the board's
    // journal shows each request.
    void controller()
    {
        client.reset();
        ASSERT_TRUE(daemon.waitForErr("control connection 127.0.0.1:"));
        unsigned long long const from = journalNext();
        std::set<std::string> asked;
        for (int i = 0; i < kTimes; ++i) {
            std::size_t const ended = daemon.said("control connection 127.0.0.1:");
            int const source = 100 + i;
            whileStopped([&] {
                testsupport::ControllerClient c(testsupport::TcpClient::Waiting::Socket);
                ASSERT_TRUE(c.connect(std::uint16_t(daemon.port())));
                ASSERT_TRUE(c.send(testsupport::zgcpCommand(
                    testsupport::clockCfgCommand(ZGCP::ClkSel0::external, ZGCP::BExtEn::enabled, source), ++seq)));
                c.close(true);
            });
            asked.insert("ioctl /dev/hal clock-select " + std::to_string(source) + " -> 0");
            ASSERT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said("control connection 127.0.0.1:") > ended; }));
        }
        std::set<std::string> done;
        for (std::string const& entry : journal(from, "ioctl /dev/hal clock-select 1"))
            done.insert(entry);
        EXPECT_EQ(done, asked);
    }

    // Each agent sends a command, which the daemon reports as a message it does not take.
    void agent()
    {
        std::vector<Fd> links;
        for (int i = 0; i < kTimes; ++i)
            links.push_back(peers.accept(DaemonLauncher::kTimeout));
        std::string const prefix = "snmpagent.qelt " + peers.address() + ": ";
        ASSERT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said(prefix + "connected.") == std::size_t(kTimes); }));
        MON::Message command;
        command.set_pdu().select_command().select_ping();
        testsupport::Bytes const frame = testsupport::tpktFrame(testsupport::encodePer(command));
        whileStopped([&] {
            for (Fd& link : links) {
                ASSERT_TRUE(writeAll(link.lowlevel_fd(), frame.data(), frame.size()));
                testsupport::end(link, End::reset);
            }
        });
        std::string const taken = prefix + "receive unknown message type";
        EXPECT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said(taken) >= std::size_t(kTimes); }));
        EXPECT_EQ(daemon.said(taken), std::size_t(kTimes));
    }

    // Each authentication client asks for its user's session, which the modem slot reports.
    void auth()
    {
        testsupport::StubChild pppd(daemon.root(), "/usr/local/sbin/pppd");
        ASSERT_EQ(done(20, create(testsupport::modemCreate(testsupport::modemParams("123")))), "success");
        ASSERT_EQ(done(20, connect(7)), "success");
        whileStopped([&] {
            for (int i = 0; i < kTimes; ++i) {
                testsupport::TcpClient c(testsupport::TcpClient::Waiting::Socket);
                ASSERT_TRUE(c.connect(52000));
                ASSERT_TRUE(c.send(testsupport::authRequest(0, "user" + std::to_string(i), "secret")));
                c.close(true);
            }
        });
        std::set<std::string> users;
        for (int i = 0; i < kTimes; ++i) {
            std::string const s = next();
            if (s == "no message")
                break;
            std::size_t const at = s.find("username \"");
            if (s.rfind("slot=20 modemProceeding auth", 0) == 0 && at != std::string::npos)
                users.insert(s.substr(at + 10, s.find('"', at + 10) - at - 10));
        }
        EXPECT_EQ(users.size(), std::size_t(kTimes));
    }

    // Each network player's peer sends its last octets, which the player puts on its channel.
    void player()
    {
        for (int i = 0; i < kTimes; ++i)
            ASSERT_EQ(on(30 + i, create(testsupport::networkPlayerParams("127.0.0.1", peers.port(), i))), "success");
        // The players connect, then a bus test's pause stops the daemon before its next poll:
        // all in one write, handled in one turn.
        ASSERT_EQ(board->command("stop-at-pause"), "ok");
        testsupport::Bytes batch;
        for (int i = 0; i < kTimes; ++i)
            append(batch, connect(7), unsigned(30 + i));
        append(batch, testsupport::testBpcCommand(0, 1, ZGCP::BpcTestMode::disconnect::id, 0, 1));
        ASSERT_TRUE(client->sendRaw(batch));
        ASSERT_TRUE(DaemonLauncher::waitFor([&] { return stopped(); }));
        std::set<std::string> sent;
        for (int i = 0; i < kTimes; ++i) {
            Fd socket = peers.accept(DaemonLauncher::kTimeout);
            unsigned char const last[] = {0x4c, static_cast<unsigned char>(0x61 + i)};
            ASSERT_TRUE(writeAll(socket.lowlevel_fd(), last, sizeof last));
            testsupport::end(socket, End::reset);
            char hex[8];
            std::snprintf(hex, sizeof hex, "4c%02x", 0x61 + i);
            sent.insert(hex);
        }
        ASSERT_TRUE(daemon.signal(SIGCONT));

        std::vector<std::string> channels;
        while (channels.size() < std::size_t(kTimes)) {
            std::string const m = next();
            ASSERT_NE(m, "no message");
            std::size_t const at = m.find(" transmitter active ");
            if (at != std::string::npos)
                channels.push_back(m.substr(at + 20));
        }
        // What each channel was written since the last look ("ok 4c61").
        std::set<std::string> played;
        EXPECT_TRUE(DaemonLauncher::waitFor([&] {
            for (std::string const& ts : channels) {
                std::string const frames = board->command("device /dev/mcc/ctl written " + ts);
                if (frames.size() > 3)
                    played.insert(frames.substr(3));
            }
            return played == sent;
        })) << played.size() << " of " << sent.size();
    }

    testsupport::LoopbackListener peers{2 * kTimes};
};

TEST_P(LastMessages, AreTakenEveryTime)
{
    switch (GetParam()) {
    case Peer::controller: return controller();
    case Peer::agent: return agent();
    case Peer::auth: return auth();
    case Peer::player: return player();
    }
}

std::string name(testing::TestParamInfo<Peer> const& info) { return peerNames[int(info.param)]; }

INSTANTIATE_TEST_SUITE_P(EveryPeer, LastMessages,
                         testing::Values(Peer::controller, Peer::agent, Peer::auth, Peer::player), name);

}  // namespace
