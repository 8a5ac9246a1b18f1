// The daemon on the simulated board, driven through its board socket.

#include "tests/board_client.h"
#include "tests/capture.h"
#include "tests/daemon_launcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::BoardClient;
using testsupport::DaemonLauncher;
using ::testing::HasSubstr;
using ::testing::Not;

struct Word {
    std::string text;
    long ms;
};

// The words of the watchdog's console dump ("ok START@1000 PING@1001").
std::vector<Word> dumped(std::string const& reply)
{
    std::vector<Word> words;
    std::istringstream in(reply);
    for (std::string w; in >> w;)
        if (auto at = w.find('@'); at != std::string::npos)
            words.push_back({w.substr(0, at), std::stol(w.substr(at + 1))});
    return words;
}

TEST(ServerSim, StartUpSweepsTheSharedBusOutputsOfTheSwitch)
{
    DaemonLauncher daemon(GW_SERVER_SIM_BINARY);
    ASSERT_TRUE(daemon.start({daemon.portOption()}));
    ASSERT_TRUE(daemon.waitForOut("Starting server ["));
    ASSERT_TRUE(daemon.logged("hwMux: device opened"));

    BoardClient board(daemon.root());
    ASSERT_TRUE(board.connected());
    EXPECT_EQ(board.command("dump /dev/hal"), "ok 8192-10239:off");
    std::string journal = board.command("journal 1 100");
    EXPECT_EQ(journal.rfind("ok ", 0), 0u) << journal;
    EXPECT_NE(journal.find("open /dev/hal"), std::string::npos) << journal;

    EXPECT_EQ(daemon.stop(), 0);
    EXPECT_FALSE(daemon.exists("/var/run/board.sock"));
}

// The loop drives the board's watchdog: "START" as it begins, a "PING" one to two seconds
// after the one before, "STOP" when SIGTERM ends it. The console shows the words while the
// daemon runs, the trace keeps them after it.
TEST(ServerSim, TheLoopStartsPingsAndStopsTheWatchdog)
{
    DaemonLauncher daemon(GW_SERVER_SIM_BINARY);
    ASSERT_TRUE(daemon.start({daemon.portOption()}));
    ASSERT_TRUE(daemon.waitForOut("Starting server ["));
    BoardClient board(daemon.root());
    ASSERT_TRUE(board.connected());

    std::vector<Word> words;
    ASSERT_TRUE(DaemonLauncher::waitFor([&] {
        words = dumped(board.command("dump /dev/misc/gw-wd"));
        return words.size() >= 4;
    })) << board.command("dump /dev/misc/gw-wd");
    EXPECT_EQ(words[0].text, "START");
    for (std::size_t i = 1; i < words.size(); ++i) {
        EXPECT_EQ(words[i].text, "PING");
        // Stamped as the loop hands each word to the board, a little after its write: a
        // margin below one second for that, and above two for a loaded machine.
        if (i >= 2) {
            EXPECT_GE(words[i].ms - words[i - 1].ms, 900) << i;
            EXPECT_LE(words[i].ms - words[i - 1].ms, 2500) << i;
        }
    }
    EXPECT_THAT(daemon.readFile("/var/log/gw-wd.trace"), Not(HasSubstr("STOP")));

    EXPECT_EQ(daemon.stop(), 0);
    std::string const trace = daemon.readFile("/var/log/gw-wd.trace");  // "1000 START" lines
    EXPECT_GT(testsupport::occurrences(trace, "\n"), words.size());
    EXPECT_THAT(trace, ::testing::MatchesRegex("[0-9]+ START\n.*\n[0-9]+ STOP\n"));
    EXPECT_THAT(daemon.err(), Not(HasSubstr("watchdog")));
}

}  // namespace
