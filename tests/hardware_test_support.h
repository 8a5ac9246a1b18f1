#pragma once

// Shared by the in-process tests of the hardware command services: the simulated board
// with "/dev/hal", "/dev/maintenance" and "/dev/e1-cas" installed, a controller server on a
// loopback port with a controller client, the loop on the test clock.

#include "board/board.h"
#include "board/sim/e1_cas_model.h"
#include "board/sim/hal_model.h"
#include "board/sim/maintenance_model.h"
#include "board/sim/sim_board.h"
#include "control/acceptor_net.h"
#include "control/ctrl_server.h"
#include "tests/capture.h"
#include "tests/controller_client.h"
#include "tests/hardware_commands.h"
#include "tests/loop_pump.h"
#include "tests/sim_env.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

namespace hwtest {

struct HardwareTest : ::testing::Test {
    board::sim::SimBoard sim;
    board::sim::HalModel& hal = sim.add<board::sim::HalModel>();
    board::sim::MaintenanceModel& maintenance = sim.add<board::sim::MaintenanceModel>();
    board::sim::E1CasModel& cas = sim.add<board::sim::E1CasModel>();
    board::ScopedBoard installed{sim};
    testsupport::CaptureStream err{std::cerr};
    testsupport::CaptureStream log{std::clog};
    Mux::TestClock clock;
    CtrlSrv::Server server;
    std::uint16_t port = testsupport::freePort();
    testsupport::ControllerClient client;
    int seq = 0;

    HardwareTest() { EXPECT_TRUE(server.Activate(new Control::AcceptorNet(port, false))); }

    void connect()
    {
        ASSERT_TRUE(client.connect(port));
        ASSERT_TRUE(testsupport::runUntil([&] { return server.link()->IsConnected(); }, 5000));
    }

    void disconnect()
    {
        client.close();
        ASSERT_TRUE(testsupport::runUntil([&] { return !server.link()->IsConnected(); }, 5000));
        testsupport::settle();
    }

    // Sends the command and returns the messages up to its answer (testsupport::exchange).
    std::vector<std::string> call(ZGCP::Command const& command) { return testsupport::exchange(client, command, ++seq, 5000); }

    // The reports sent until now (a ping, which no service here takes, marks the end).
    std::vector<std::string> reports()
    {
        std::vector<std::string> out = call(testsupport::pingCommand());
        EXPECT_EQ(out.back(), "error=4");
        out.pop_back();
        return out;
    }

    // The requests journaled on the device from the sequence number on, from their names on
    // ("spi-write 3 87 56 -> 0").
    std::vector<std::string> requests(std::string const& path, std::uint64_t from)
    {
        return testsupport::journalRequests(sim, from, path);
    }
    std::uint64_t mark() { return sim.journal().next(); }
};

}  // namespace hwtest
