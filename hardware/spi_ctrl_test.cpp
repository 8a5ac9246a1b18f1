#include "hardware/spi_ctrl.h"

#include "board/hal.h"
#include "tests/hardware_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using hwtest::HardwareTest;
using V = std::vector<std::string>;

struct SpiCtrlTest : HardwareTest {
    std::unique_ptr<spiCtrl> spi;

    void build()
    {
        spi = std::make_unique<spiCtrl>();
        server.Bind(spi.get());
    }
    V spiRequests(std::uint64_t from) { return requests(hal::kPath, from); }
    // The SPI writes that put register reg of every line to value.
    static V everyLine(unsigned reg, unsigned value)
    {
        V out;
        for (int line = 0; line < spiCtrl::kLines; ++line)
            out.push_back("spi-write " + std::to_string(line) + " " + std::to_string(reg) + " " + std::to_string(value) + " -> 0");
        return out;
    }
};

TEST_F(SpiCtrlTest, LineStatesAndASlipReportedOnceOnEachLinesRisingEdge)
{
    build();
    connect();
    EXPECT_EQ(reports(), V{});  // the first pass comes a second after the connect
    struct Pass {
        std::vector<std::uint8_t> status;  // lines 0..
        V reports;                         // of lines 0..2
    };
    Pass const passes[] = {
        {{0xE5, 0xC5, 0xE5}, {"bri 0 normal slips=1", "bri 1 normal", "bri 2 normal slips=1"}},
        {{0xE5, 0xE5, 0xE5}, {"bri 0 normal", "bri 1 normal slips=1", "bri 2 normal"}},
        {{0xC5, 0xE5, 0x25}, {"bri 0 normal", "bri 1 normal", "bri 2 ais"}},
        {{0xA5, 0xE5, 0x25}, {"bri 0 rai slips=1", "bri 1 normal", "bri 2 ais"}},
    };
    for (Pass const& p : passes) {
        for (std::size_t line = 0; line < p.status.size(); ++line)
            hal.spi().setReg(int(line), spiCtrl::Status, p.status[line]);
        testsupport::advance(clock, spiCtrl::kPollMs);
        V got = reports();
        ASSERT_EQ(got.size(), 8u);
        got.resize(3);
        EXPECT_EQ(got, p.reports);
    }
    disconnect();
    EXPECT_FALSE(spi->polling());
}

// Start-up sets up and enables all eight lines; clock master is one line or none; the end
// disables every line and drops clock master.
TEST_F(SpiCtrlTest, WhatEachStepWritesToTheLineChips)
{
    V start;
    std::string started = "spi: try init\n";
    for (int line = 0; line < spiCtrl::kLines; ++line) {
        std::string const l = std::to_string(line);
        for (char const* step : {"50 128", "48 8", "87 48", "52 96", "53 0", "54 0", "55 0", "50 0"})
            start.push_back("spi-write " + l + " " + step + " -> 0");
        started += "spi: init channel " + l + "\nspi: enable channel " + l + "\n";
    }
    V three = everyLine(87, 48);
    three.push_back("spi-write 3 87 56 -> 0");
    V end = everyLine(50, 128);
    std::string ended;
    for (int line = 0; line < spiCtrl::kLines; ++line)
        ended += "spi: disable channel " + std::to_string(line) + "\n";
    for (std::string const& w : everyLine(87, 48))
        end.push_back(w);
    struct Case {
        char const* name;
        std::function<void()> step;
        V writes;
        std::string logged;
    } const cases[] = {
        {"start-up", [this] { build(); }, start, started},
        {"clock master 3", [this] { spi->clock(3); }, three, "spi: set clock master on channel 3\n"},
        {"no clock master", [this] { spi->clock(-1); }, everyLine(87, 48), "spi: clock master disabled\n"},
        {"clock master 8", [this] { spi->clock(8); }, {}, "spi: bad channel for set clock master 8\n"},
        {"the end", [this] { spi.reset(); }, end, ended + "spi: clock master disabled\n"},
    };
    for (Case const& c : cases) {
        std::uint64_t const from = mark();
        std::size_t const logged = log.text().size();
        c.step();
        EXPECT_EQ(spiRequests(from), c.writes) << c.name;
        EXPECT_EQ(log.text().substr(logged), c.logged) << c.name;
    }
    EXPECT_EQ(sim.journal().entries().back().kind, board::sim::JournalEntry::Kind::close);
}

TEST_F(SpiCtrlTest, FailedOpensBadLinesAndRegisterErrorsAreLogged)
{
    sim.failOpen(hal::kPath, EIO);
    build();
    connect();
    EXPECT_FALSE(spi->polling());
    spi->init_channel(8);
    spi->enable_channel(-1);
    spi->disable_channel(8);
    EXPECT_EQ(spiRequests(0), V{});
    // The next line operation opens the device, which sets every line up first.
    sim.failRequest(hal::kPath, hal::kSpiWrite, EIO, 1);
    spi->enable_channel(4);
    EXPECT_EQ(spiRequests(0).size(), 8 * 8 + 1u);
    sim.failRequest(hal::kPath, hal::kSpiRead, EIO);
    EXPECT_EQ(spi->read(6, spiCtrl::Status), 0u);
    std::string const text = log.text();
    EXPECT_EQ(text.substr(0, text.find("ctrl [")), "spi: try init\nspi: /dev/hal open fail\n");
    for (char const* line : {"spi: bad channel for init 8\n", "spi: bad channel for enable -1\n",
                             "spi: bad channel for disable 8\n", "spi: write error: channel=0 addr=50 data=128\n",
                             "spi: read error: channel=6 addr=51\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_TRUE(spi->available());
}

}  // namespace
