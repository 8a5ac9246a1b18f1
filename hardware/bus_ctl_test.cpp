#include "hardware/bus_ctl.h"

#include "board/hal.h"
#include "hardware/spi_ctrl.h"
#include "tests/hardware_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using hwtest::HardwareTest;
using V = std::vector<std::string>;
using C = ZGCP::ClkSel0;
using B = ZGCP::BExtEn;

struct BusCtlTest : HardwareTest {
    spiCtrl spi;
    BusCtl bus{&spi};

    BusCtlTest() { server.Bind(&bus); }

    V clockRequests(std::uint64_t from)
    {
        V out;
        for (std::string const& r : requests(hal::kPath, from))
            if (r.rfind("clock-select", 0) == 0)
                out.push_back(r);
        return out;
    }
};

TEST_F(BusCtlTest, SourcesTheNameTableLacksAndFailingSelectionsAreStillAnswered)
{
    connect();
    struct Case {
        ZGCP::Command command;
        bool fail;
        V requests;
        char const* logged;
    };
    Case const cases[] = {
        // An enabled external clock without a source selects nothing.
        {testsupport::clockCfgCommand(C::external, B::enabled, -1), false, {}, ""},
        {testsupport::clockCfgCommand(C::external, B::enabled, 9), false, {"clock-select 9 -> 0"},
         "clkctl: clock source = 9\n"},
        {testsupport::clockCfgCommand(C::external, B::enabled, 1), true, {"clock-select 1 -> EIO"},
         "clkctl: HW_CLOCK_SELECT fail.\n"},
    };
    for (Case const& c : cases) {
        if (c.fail)
            sim.failRequest(hal::kPath, hal::kClockSelect, EIO);
        std::uint64_t const from = mark();
        std::string const before = err.text();
        EXPECT_EQ(call(c.command), V{"success"}) << c.command;
        EXPECT_EQ(clockRequests(from), c.requests) << c.command;
        std::string const lines = err.text().substr(before.size());
        std::string const cmd = "clkctl: set clock source cmd: {\n  clkSel0 external,\n  bextEn enabled,\n  source "
                              + std::to_string(c.command.get_clockCfg().get_source().getValue()) + "\n}\n";
        EXPECT_EQ(lines, cmd + c.logged);
    }
}

TEST_F(BusCtlTest, WithoutTheHalTheLineChipsLeaveClockMasterUntilItOpens)
{
    sim.remove(hal::kPath);
    std::uint64_t const from = mark();
    connect();
    V expected;
    for (int line = 0; line < spiCtrl::kLines; ++line)
        expected.push_back("spi-write " + std::to_string(line) + " 87 48 -> 0");
    EXPECT_EQ(requests(hal::kPath, from), expected);
    EXPECT_NE(err.text().find("clkctl: set clock source fail: code 1.\n"), std::string::npos) << err.text();
    EXPECT_EQ(call(testsupport::clockCfgCommand(C::internal, B::enabled, 0)), V{"success"});

    sim.restore(hal::kPath);
    std::uint64_t const back = mark();
    disconnect();
    EXPECT_EQ(clockRequests(back), V{"clock-select 4 -> 0"});
    EXPECT_TRUE(bus.IsOpen());
}

}  // namespace
