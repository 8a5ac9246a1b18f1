// The daemon on the simulated board, driven through its board socket.

#include "tests/board_client.h"
#include "tests/daemon_launcher.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testsupport::BoardClient;
using testsupport::DaemonLauncher;

TEST(ServerSim, StartUpSweepsTheSharedBusOutputsOfTheSwitch)
{
    DaemonLauncher daemon(GW_SERVER_SIM_BINARY);
    ASSERT_TRUE(daemon.start({daemon.portOption()}));
    ASSERT_TRUE(daemon.waitForOut("Starting server ["));
    ASSERT_TRUE(daemon.waitForErr("hwMux: device opened") || daemon.waitForOut("hwMux: device opened"));

    BoardClient board(daemon.root());
    ASSERT_TRUE(board.connected());
    EXPECT_EQ(board.command("dump /dev/hal"), "ok 8192-10239:off");
    std::string journal = board.command("journal 1 100");
    EXPECT_EQ(journal.rfind("ok ", 0), 0u) << journal;
    EXPECT_NE(journal.find("open /dev/hal"), std::string::npos) << journal;

    EXPECT_EQ(daemon.stop(), 0);
    EXPECT_FALSE(daemon.exists("/var/run/board.sock"));
}

}  // namespace
