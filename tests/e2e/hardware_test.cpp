// The hardware command services of the daemon on the simulated board: E1 and BRI line
// reports, CAS bits, the transmit-clock mask, the clock source and the bus tests, seen by a
// controller and through the board socket.

#include "tests/hardware_commands.h"
#include "tests/sim_daemon_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using testsupport::DaemonLauncher;

// Each test starts the daemon itself, with its own options, and sees the line reports in
// short.
class HardwareE2E : public testsupport::SimDaemonTest {
protected:
    void SetUp() override {}

    void start(std::vector<std::string> args = {})
    {
        args.push_back(daemon.portOption());
        ASSERT_TRUE(daemon.start(args));
        board.emplace(daemon.root());
        ASSERT_TRUE(board->connected());
    }

    // A controller; with lineReports false the trunk reports are dropped as they come.
    void attach(bool lineReports)
    {
        client.emplace(testsupport::TcpClient::Waiting::Socket);
        client->skipSignal(ZGCP::Signal::power::id);
        if (!lineReports)
            client->skipSignal(ZGCP::Signal::trunkStatus::id);
        ASSERT_TRUE(client->connect(std::uint16_t(daemon.port()), DaemonLauncher::kTimeout));
    }

    // The next message in short, the line reports too (testsupport::describeReport).
    using SimDaemonTest::next;
    std::string next() override
    {
        ZGCP::Message m;
        return client->receive(m, testsupport::ControllerClient::kTimeout) ? testsupport::describeReport(m) : "no message";
    }

    // Sends the command and returns what comes up to its answer ("success", "error=N").
    std::vector<std::string> exchange(ZGCP::Command const& command) { return testsupport::exchange(*client, command, ++seq); }

    // After a ping answer every report reflects what the board was told before.
    void sync() { ASSERT_EQ(exchange(testsupport::pingCommand()).back(), "success"); }

    // The next report that begins with the words ("e1 2 ", "bri 3 ").
    std::string nextReport(std::string const& words)
    {
        for (;;) {
            std::string const text = next();
            if (text.rfind(words, 0) == 0 || text == "no message")
                return text;
        }
    }

    std::string device(std::string const& words) { return board->command("device " + words); }
};

TEST_F(HardwareE2E, E1TrunksAtOnceAndEverySecondBriLinesFromOneSecondOn)
{
    start();
    attach(true);
    EXPECT_EQ(next(4), (std::vector<std::string>{"e1 0 normal", "e1 1 normal", "e1 2 normal", "e1 3 normal"}));
    // The next pass of each: the four trunks again and the eight lines, the lines with no
    // status bit set having lost their carrier.
    std::vector<std::string> pass = next(12);
    std::sort(pass.begin(), pass.end());
    std::vector<std::string> expected{"e1 0 normal", "e1 1 normal", "e1 2 normal", "e1 3 normal"};
    for (int line = 0; line < 8; ++line)
        expected.push_back("bri " + std::to_string(line) + " lossCarrier");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(pass, expected);

    EXPECT_EQ(device("/dev/maintenance trunk 2 state lossCarrier slips 3 lossRAI 1"), "ok");
    struct Line {
        int line;
        char const* status;
        char const* state;
    };
    Line const lines[] = {{3, "0x85", "rai"}, {4, "0xC5", "normal"}, {5, "0x45", "ais"},
                          {6, "0x04", "lossCarrier"}, {7, "0x01", "lossBF"}};
    for (Line const& l : lines)
        EXPECT_EQ(device("/dev/hal spi " + std::to_string(l.line) + " 51 " + l.status), "ok");
    sync();
    EXPECT_EQ(nextReport("e1 2 "), "e1 2 lossCarrier slips=3 lossRAI=1");
    for (Line const& l : lines) {
        std::string const words = "bri " + std::to_string(l.line) + " ";
        EXPECT_EQ(nextReport(words), words + l.state) << l.status;
    }
}

TEST_F(HardwareE2E, CasBitsAreOpenedReadReceivedAndClosed)
{
    start();
    attach(false);
    using testsupport::casCommand;
    using V = std::vector<std::string>;
    EXPECT_EQ(exchange(casCommand("open", 0, 1, 9)), (V{"cas 0/0 rx=0 tx=0", "cas 0/1 rx=0 tx=9", "success"}));
    EXPECT_EQ(device("/dev/e1-cas channel 0 1"), "ok open rx=0 tx=9");

    EXPECT_EQ(device("/dev/e1-cas rx 0 1 5"), "ok");
    EXPECT_EQ(next(), "cas 0/1 rx=5 tx=9");

    struct Step {
        ZGCP::Command command;
        V reports;
        char const* channel;  // the model's time slot 0/1 afterwards
    };
    Step const steps[] = {
        {casCommand("get", 0, 1), {"cas 0/1 rx=5 tx=9", "success"}, "ok open rx=5 tx=9"},
        {casCommand("set", 0, 1, 0x13), {"cas 0/0 rx=0 tx=0", "cas 0/1 rx=5 tx=3", "success"}, "ok open rx=5 tx=3"},
        {casCommand("close", 0, 1), {"cas 0/1 rx=-1 tx=1", "success"}, "ok closed rx=5 tx=0"},
        {casCommand("close", 0, 0), {"cas 0/0 rx=1 tx=0", "success"}, "ok closed rx=5 tx=0"},
        // The trunk is closed: nothing to read.
        {casCommand("get", 0, 1), {"success"}, "ok closed rx=5 tx=0"},
    };
    for (Step const& s : steps) {
        EXPECT_EQ(exchange(s.command), s.reports) << s.command;
        EXPECT_EQ(device("/dev/e1-cas channel 0 1"), s.channel) << s.command;
    }
    EXPECT_EQ(board->command("dump /dev/e1-cas"), "ok open= 0/1:closed,rx=5,tx=0");
}

TEST_F(HardwareE2E, TrunkCfgSetsAndClearsATrunksTransmitClockBit)
{
    start();
    attach(false);
    EXPECT_EQ(exchange(testsupport::trunkCfgCommand(2, ZGCP::TrunkMode::slave)), std::vector<std::string>{"success"});
    EXPECT_EQ(device("/dev/maintenance tclk"), "ok 4");
    EXPECT_TRUE(logged("E1: TCLT = 0x4\n"));
    EXPECT_EQ(exchange(testsupport::trunkCfgCommand(2, ZGCP::TrunkMode::master)), std::vector<std::string>{"success"});
    EXPECT_EQ(device("/dev/maintenance tclk"), "ok 0");
}

TEST_F(HardwareE2E, ClockCfgSelectsOneSourceAndEachControllerChangePutsFreeRunBack)
{
    start();
    EXPECT_EQ(device("/dev/hal clock"), "ok none");
    attach(false);
    sync();
    EXPECT_EQ(device("/dev/hal clock"), "ok 4");

    using C = ZGCP::ClkSel0;
    using B = ZGCP::BExtEn;
    struct Case {
        ZGCP::Command command;
        char const* source;
        char const* name;
    };
    Case const cases[] = {
        {testsupport::clockCfgCommand(C::external, B::enabled, 2), "ok 2", "f2"},
        {testsupport::clockCfgCommand(C::internal, B::enabled, 2), "ok 4", "freerun"},
        {testsupport::clockCfgCommand(C::external, B::disabled, 3), "ok 5", "X3"},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(exchange(c.command), std::vector<std::string>{"success"}) << c.command;
        EXPECT_EQ(device("/dev/hal clock"), c.source) << c.command;
        EXPECT_TRUE(logged(std::string("clkctl: clock source = ") + c.name + "\n")) << c.command;
    }
    client->close();
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return device("/dev/hal clock") == "ok 4"; }));
}

TEST_F(HardwareE2E, DisabledClockControlLeavesTheClockAlone)
{
    start({"--disable-clock"});
    EXPECT_TRUE(logged("clock control disabled.\n"));
    attach(false);
    using C = ZGCP::ClkSel0;
    using B = ZGCP::BExtEn;
    EXPECT_EQ(exchange(testsupport::clockCfgCommand(C::internal, B::disabled, 0)), std::vector<std::string>{"error=6"});
    EXPECT_EQ(device("/dev/hal clock"), "ok none");
}

// The first byte of the pattern of a seed, as the C library draws it.
unsigned firstByte(int seed)
{
    ::srandom(unsigned(seed));
    return unsigned(::random()) & 0xFF;
}

std::string hex(unsigned byte)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

TEST_F(HardwareE2E, BusTestsWriteAndReadBackTheSeedsPattern)
{
    start();
    attach(false);
    using testsupport::testBpcCommand;
    using V = std::vector<std::string>;
    int const read = ZGCP::BpcTestMode::read::id;
    int const write = ZGCP::BpcTestMode::write::id;
    int const disconnect = ZGCP::BpcTestMode::disconnect::id;
    EXPECT_EQ(exchange(testBpcCommand(1, 11, write, 5, 10)), V{"success"});
    EXPECT_EQ(exchange(testBpcCommand(1, 11, read, 5, 10)), V{"success"});

    // Another seed's pattern is not on the bus.
    ASSERT_NE(firstByte(12), firstByte(11));
    EXPECT_EQ(exchange(testBpcCommand(1, 12, read, 5, 10)), V{"error=10"});
    EXPECT_TRUE(logged("bus 1: test failed on channel 5 expected " + hex(firstByte(12)) + "  read " + hex(firstByte(11))
                       + " \n"));

    for (int mode : {read, write, disconnect})
        EXPECT_EQ(exchange(testBpcCommand(3, 11, mode, 40, 0)), V{"success"}) << mode;
}

TEST_F(HardwareE2E, WithoutSpiNoBriLineIsReported)
{
    start();
    EXPECT_TRUE(logged("spi: try init\n"));
    EXPECT_EQ(device("/dev/hal spi absent"), "ok");
    attach(true);
    // Three passes of the E1 trunks take two seconds: the line chips were polled meanwhile.
    std::vector<std::string> const reports = next(12);
    for (std::string const& r : reports)
        EXPECT_EQ(r.rfind("e1 ", 0), 0u) << r;
    EXPECT_EQ(daemon.said("spi: hal without spi\n"), 1u) << daemon.err();
}

}  // namespace
