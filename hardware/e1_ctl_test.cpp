#include "hardware/e1_ctl.h"

#include "board/e1_cas.h"
#include "board/maintenance.h"
#include "tests/hardware_test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using hwtest::HardwareTest;
using testsupport::casCommand;
using V = std::vector<std::string>;

struct E1CtlTest : HardwareTest {
    std::unique_ptr<E1Ctl> e1 = std::make_unique<E1Ctl>();

    E1CtlTest() { server.Bind(e1.get()); }

    // Connected, past the first reports.
    void connectQuietly()
    {
        connect();
        EXPECT_EQ(reports().size(), 4u);
    }
};

ZGCP::Command echoSuppressor()
{
    ZGCP::Command c;
    c.select_ioctl().select_echoSuppressor(true);
    return c;
}

TEST_F(E1CtlTest, CasCommandsThatReachNoChannel)
{
    connectQuietly();
    struct Case {
        ZGCP::Command command;
        V messages;
    };
    Case const cases[] = {
        {casCommand("open", 4, 1, 9), {"success"}},
        {casCommand("open", -1, 1, 9), {"success"}},
        {casCommand("get", 0, 1), {"success"}},    // trunk 0 not open
        {casCommand("close", 0, 1), {"success"}},  // trunk 0 not open
        {casCommand("open", 0, 16, 9), {"cas 0/0 rx=0 tx=0", "success"}},
        {casCommand("open", 0, 0, 9), {"cas 0/0 rx=0 tx=0", "success"}},  // already open
        {casCommand("close", 0, 16), {"success"}},
        {echoSuppressor(), {"success"}},
    };
    for (Case const& c : cases)
        EXPECT_EQ(call(c.command), c.messages) << c.command;
    EXPECT_EQ(cas.dump(), "open=0");
    EXPECT_EQ(requests(e1cas::kPath, 0), V{"open -> 0"});  // trunk 0, by value
}

TEST_F(E1CtlTest, DriverFailuresGoToTheControllerInsideTheCasReports)
{
    connectQuietly();
    struct Case {
        char const* request;  // the one that fails
        ZGCP::Command command;
        V messages;
    };
    Case const cases[] = {
        {"open", casCommand("open", 1, 2, 9), {"cas 1/0 rx=-1 tx=0", "success"}},
        {"control", casCommand("open", 1, 2, 9), {"cas 1/0 rx=0 tx=0", "cas 1/2 rx=-1 tx=0", "success"}},
        {"get", casCommand("open", 1, 2, 9), {"cas 1/0 rx=0 tx=0", "cas 1/2 rx=-1 tx=0", "success"}},
        {"get", casCommand("get", 1, 2), {"cas 1/2 rx=-1 tx=0", "success"}},
        {"control", casCommand("close", 1, 2), {"cas 1/2 rx=-1 tx=0", "success"}},
        {"close", casCommand("close", 1, 0), {"cas 1/0 rx=-1 tx=0", "success"}},
    };
    for (Case const& c : cases) {
        sim.failRequest(e1cas::kPath, cas.find(c.request)->number, EIO);
        EXPECT_EQ(call(c.command), c.messages) << c.request << ' ' << c.command;
    }
    EXPECT_NE(log.text().find("E1: open cas signalling on trunk(1) - fail(-1)\n"), std::string::npos);
    EXPECT_NE(log.text().find("E1: open cas signalling on trunk(1) - ok\n"), std::string::npos);
    // The failed close left the trunk open.
    EXPECT_TRUE(e1->casOpen(1));
}

TEST_F(E1CtlTest, StatusPollSkipsAFailingTrunkAndGoesOnAfterADisconnect)
{
    maintenance.framer(3).state = 9;
    maintenance.framer(0).lossAIS = 2;
    connect();
    EXPECT_EQ(reports(), (V{"e1 0 normal lossAIS=2", "e1 1 normal", "e1 2 normal", "e1 3 unknown"}));

    sim.failRequest(maintenance::kPath, maintenance::kSyncStatus, EIO, 1, 1);
    testsupport::advance(clock, E1Ctl::kPollMs);
    EXPECT_EQ(reports(), (V{"e1 0 normal lossAIS=2", "e1 2 normal", "e1 3 unknown"}));
    EXPECT_NE(err.text().find("E1: synchronization status read fail, trunk = 1 cause = "), std::string::npos);

    disconnect();
    std::uint64_t const from = mark();
    testsupport::advance(clock, 2 * E1Ctl::kPollMs);
    EXPECT_EQ(requests(maintenance::kPath, from).size(), 8u);
    EXPECT_TRUE(e1->polling());
}

TEST_F(E1CtlTest, AMissingCasDeviceIsTriedAgainAndOnlyWholeRecordsReported)
{
    sim.remove(e1cas::kPath);
    connectQuietly();
    EXPECT_EQ(call(casCommand("open", 2, 1, 3)), V{"error=6"});

    sim.restore(e1cas::kPath);
    testsupport::advance(clock, E1Ctl::kPollMs);
    EXPECT_EQ(reports().size(), 4u);
    EXPECT_NE(log.text().find("E1: cas interface opened!\n"), std::string::npos);
    ASSERT_EQ(cas.opens().size(), 1u);

    cas_channel const event{2, 7, 5, 1, {0, 0}};
    unsigned char longer[sizeof event + 4] = {};
    std::memcpy(longer, &event, sizeof event);
    cas.opens()[0]->send(&event, 5);
    cas.opens()[0]->send(longer, sizeof longer);
    cas.opens()[0]->send(&event, sizeof event);
    testsupport::settle();
    EXPECT_EQ(reports(), V{"cas 2/7 rx=5 tx=1"});
    // What is not one record is dropped with a line.
    EXPECT_EQ(err.count(", dropped"), 2u);
    EXPECT_NE(err.text().find("E1: cas event: short record of 5 bytes of 12, dropped\n"), std::string::npos);
    EXPECT_NE(err.text().find("E1: cas event: long record of more than 12 bytes, dropped\n"), std::string::npos);
}

TEST_F(E1CtlTest, ACasDeviceThatHangsUpIsClosedAndOpenedAgainByTheNextUse)
{
    connectQuietly();
    EXPECT_EQ(call(casCommand("open", 2, 1, 3)), (V{"cas 2/0 rx=0 tx=0", "cas 2/1 rx=0 tx=3", "success"}));
    auto& replaced = sim.add<board::sim::E1CasModel>();  // the old open sees a hang-up
    testsupport::settle();
    EXPECT_NE(err.text().find("E1: cas interface closed: end of file\n"), std::string::npos);
    // Kept, to be opened again on the new descriptor.
    EXPECT_TRUE(e1->casOpen(2));
    EXPECT_EQ(call(casCommand("open", 2, 1, 3)), (V{"cas 2/0 rx=0 tx=0", "cas 2/1 rx=0 tx=3", "success"}));
    EXPECT_EQ(replaced.opens().size(), 1u);
    // The trunk was opened again on the new descriptor.
    EXPECT_EQ(replaced.dump(), "open=2 2/1:rx=0,tx=3");
}

// Once as it is, and once with the driver refusing a channel of the put-back at the first
// try: the refusal is said once, the put-back is tried again on the back-off, and the device
// is back, said once, when it holds all of it. A trunk closed and opened again comes back
// without the channels its close took.
TEST_F(E1CtlTest, ACasDeviceThatEndsComesBackWithItsTrunksAndChannelsAndTheirBits)
{
    connectQuietly();
    for (ZGCP::Command const& c : {casCommand("open", 1, 2, 9), casCommand("open", 1, 5, 3), casCommand("close", 1, 5),
                                   casCommand("open", 3, 7, 4), casCommand("open", 0, 0, 1), casCommand("close", 0, 0),
                                   casCommand("open", 2, 6, 5), casCommand("close", 2, 0), casCommand("open", 2, 0, 0)})
        call(c);
    std::string const before = cas.dump();
    EXPECT_EQ(before, "open=1,2,3 1/2:rx=0,tx=9 3/7:rx=0,tx=4");
    std::string const refusal = "cas interface opened, but the driver refused part of what is put back on it";
    for (bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "refused" : "taken");
        std::size_t const backs = log.count("cas interface opened!");
        if (refused)
            sim.failRequest(e1cas::kPath, e1cas::kChannelControl, EIO);
        sim.failRead(e1cas::kPath, {board::sim::ReadFault::Kind::eof, 0});
        testsupport::settle();
        EXPECT_TRUE(e1->casAway());
        testsupport::advance(clock, DeviceReturn::first_wait_ms);
        EXPECT_FALSE(e1->casAway());
        EXPECT_EQ(cas.dump() == before, !refused) << cas.dump();
        EXPECT_EQ(err.count(refusal), refused ? 1u : 0u);
        testsupport::advance(clock, (refused ? DeviceReturn::first_wait_ms : 0) + DeviceReturn::trial_ms);
        EXPECT_EQ(cas.dump(), before);
        EXPECT_EQ(log.count("cas interface opened!"), backs + 1);
    }
}

TEST_F(E1CtlTest, TrunksOutsideTheMaskChangeNoBitAndEachConnectClearsIt)
{
    connectQuietly();
    call(testsupport::trunkCfgCommand(31, ZGCP::TrunkMode::slave));
    std::uint64_t const from = mark();
    EXPECT_EQ(call(testsupport::trunkCfgCommand(-1, ZGCP::TrunkMode::slave)), V{"success"});
    EXPECT_EQ(call(testsupport::trunkCfgCommand(32, ZGCP::TrunkMode::master)), V{"success"});
    EXPECT_EQ(requests(maintenance::kPath, from), V{"tclk 2147483648 -> 0"});
    disconnect();
    connect();
    EXPECT_EQ(maintenance.tclk(), 0u);
}

}  // namespace
