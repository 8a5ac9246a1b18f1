#include "hardware/hw_mux.h"

#include "board/board.h"
#include "board/hal.h"
#include "board/sim/hal_model.h"
#include "board/sim/sim_board.h"
#include "runtime/multiplexer.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"
#include "tests/sim_env.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

using board::sim::HalModel;
using board::sim::JournalEntry;
using State = HalModel::Output::State;

constexpr int kBusLast = HwMux::kBusFirst + HwMux::kBusCount - 1;

struct HwMuxTest : ::testing::Test {
    board::sim::SimBoard sim;
    HalModel& hal = sim.add<HalModel>();
    board::ScopedBoard installed{sim};
    testsupport::CaptureStream log{std::clog};
    std::unique_ptr<HwMux> mux;

    void build() { mux = std::make_unique<HwMux>(); }

    // The switch requests journaled from sequence number `from` on.
    std::vector<JournalEntry> requests(std::uint64_t from = 0)
    {
        std::vector<JournalEntry> out;
        for (JournalEntry const& e : sim.journal().since(from))
            if (e.kind == JournalEntry::Kind::request)
                out.push_back(e);
        return out;
    }
    // The whole journal kept.
    std::vector<JournalEntry> entries() { return sim.journal().since(0); }
};

// The first entries must be the open, every bus output disabled in increasing order, then
// the pause; returns the index after them.
std::size_t expectSweep(std::vector<JournalEntry> const& j, std::size_t at)
{
    EXPECT_GE(j.size(), at + HwMux::kBusCount + 2);
    if (j.size() < at + HwMux::kBusCount + 2)
        return j.size();
    EXPECT_EQ(j[at].kind, JournalEntry::Kind::open);
    EXPECT_EQ(j[at].path, hal::kPath);
    EXPECT_FALSE(j[at].failed());
    for (int i = 0; i < HwMux::kBusCount; ++i) {
        JournalEntry const& e = j[at + 1 + std::size_t(i)];
        if (e.name != "disable" || e.word(0) != std::uint32_t(HwMux::kBusFirst + i)) {
            ADD_FAILURE() << "sweep entry " << i << ": " << e.text();
            return j.size();
        }
    }
    JournalEntry const& pause = j[at + 1 + HwMux::kBusCount];
    EXPECT_EQ(pause.kind, JournalEntry::Kind::pause);
    EXPECT_EQ(pause.value, 500u);
    return at + HwMux::kBusCount + 2;
}

TEST_F(HwMuxTest, ConstructionOpensTheDeviceAndDisablesEveryBusOutput)
{
    build();
    EXPECT_EQ(log.text(), "hwMux: init\nhwMux: device opened\n");
    auto j = entries();
    EXPECT_EQ(expectSweep(j, 0), j.size());
    for (int out = HwMux::kBusFirst; out <= kBusLast; ++out)
        ASSERT_EQ(hal.disableCount(out), 1u) << out;
    EXPECT_EQ(hal.disableCount(HwMux::kBusFirst - 1), 0u);
    EXPECT_EQ(hal.disableCount(kBusLast + 1), 0u);
    EXPECT_EQ(mux->shadow(0), HwMux::kDisabled);
    EXPECT_TRUE(mux->IsOpened());
    EXPECT_EQ(entries().size(), j.size());  // no second open
    EXPECT_EQ(sim.openCount(), 1u);
}

TEST_F(HwMuxTest, WithTheDeviceMissingALaterOperationOpensAndSweepsFirst)
{
    sim.remove(hal::kPath);
    build();
    EXPECT_EQ(log.text(), "hwMux: init\nhwMux: can't open device: No such file or directory\n");
    EXPECT_FALSE(mux->Connect(8322, 37));
    EXPECT_NE(log.text().find("hwMux: can't open device: No such file or directory\nhwMux: ERROR not opened\n"),
              std::string::npos);
    EXPECT_EQ(mux->Read(5), 255);
    EXPECT_FALSE(mux->Disconnect(5));
    mux->OnDPC();
    EXPECT_TRUE(requests().empty());

    sim.restore(hal::kPath);
    std::uint64_t from = sim.journal().next();
    ASSERT_TRUE(mux->Connect(8322, 37));
    auto j = sim.journal().since(from);
    std::size_t after = expectSweep(j, 0);
    ASSERT_EQ(j.size(), after + 1);
    EXPECT_EQ(j[after].name, "connect");
    EXPECT_EQ(j[after].word(0), 37u);
    EXPECT_EQ(j[after].word(1), 8322u);
    EXPECT_EQ(hal.output(37).state, State::connected);
    EXPECT_EQ(hal.output(37).input, 8322);
}

TEST_F(HwMuxTest, ConnectSetsTheShadowOfBusOutputsOnly)
{
    build();
    ASSERT_TRUE(mux->Connect(8322, 37));
    for (int i = 0; i < HwMux::kBusCount; ++i)
        ASSERT_EQ(mux->shadow(i), HwMux::kDisabled);
    ASSERT_TRUE(mux->Connect(12, 8200));
    EXPECT_EQ(mux->shadow(8), 12);
    EXPECT_EQ(hal.output(8200).input, 12);
}

TEST_F(HwMuxTest, AFailedConnectLeavesTheOutputDisabledAndRefreshed)
{
    build();
    sim.failRequest(hal::kPath, hal::kSwitchConnect, EIO);
    EXPECT_FALSE(mux->Connect(8322, 8200));
    EXPECT_NE(log.text().find("hwMux: connect 8322 -> 8200 failed: Input/output error\n"), std::string::npos);
    EXPECT_EQ(mux->shadow(8), HwMux::kDisabled);
    for (int i = 0; i < 16; ++i)
        mux->OnDPC();
    EXPECT_EQ(hal.disableCount(8200), 2u);
}

TEST_F(HwMuxTest, NegativeChannelsAreRefusedWithoutARequest)
{
    build();
    std::uint64_t from = sim.journal().next();
    std::string before = log.text();
    EXPECT_FALSE(mux->Connect(-1, 5));
    EXPECT_FALSE(mux->Connect(5, -1));
    EXPECT_EQ(log.text(), before + "hwMux: ERROR not opened\nhwMux: ERROR not opened\n");
    EXPECT_FALSE(mux->Disconnect(-1));
    EXPECT_FALSE(mux->Disable(-1));
    EXPECT_FALSE(mux->Write(-1, 1));
    EXPECT_EQ(mux->Read(-1), 255);
    EXPECT_EQ(log.text(), before + "hwMux: ERROR not opened\nhwMux: ERROR not opened\n");
    EXPECT_TRUE(requests(from).empty());
}

TEST_F(HwMuxTest, DisconnectWritesTheIdleByteAndWriteTheGivenOne)
{
    build();
    ASSERT_TRUE(mux->Connect(8322, 8200));
    ASSERT_TRUE(mux->Disconnect(8200));
    EXPECT_EQ(hal.output(8200).state, State::written);
    EXPECT_EQ(hal.output(8200).byte, 0xD5);
    EXPECT_EQ(mux->shadow(8), HwMux::kWritten);
    EXPECT_EQ(requests().back().text().substr(requests().back().text().find(' ')), " ioctl /dev/hal write 8200 213 -> 0");

    ASSERT_TRUE(mux->Write(8201, 0x7F));
    EXPECT_EQ(hal.output(8201).byte, 0x7F);
    EXPECT_EQ(mux->shadow(9), HwMux::kWritten);
    ASSERT_TRUE(mux->Disable(8201));
    EXPECT_EQ(mux->shadow(9), HwMux::kDisabled);
    EXPECT_EQ(hal.output(8201).state, State::disabled);
    ASSERT_TRUE(mux->Write(40, 1));  // a trunk output: no shadow entry
    EXPECT_EQ(hal.output(40).byte, 1);
}

TEST_F(HwMuxTest, FailuresAreLoggedWithTheChannelAndTheErrorText)
{
    build();
    sim.failRequest(hal::kPath, hal::kSwitchWrite, EIO, 2);
    // Not the disables that follow the failed writes.
    sim.failRequest(hal::kPath, hal::kSwitchDisable, ENXIO, 1, 5u);
    EXPECT_FALSE(mux->Disconnect(8200));
    EXPECT_FALSE(mux->Write(8193, 0x7F));
    EXPECT_FALSE(mux->Disable(5));
    EXPECT_NE(log.text().find("hwMux: disconnect failed 8200 : Input/output error\n"
                              "hwMux: write failed 8193 <- 0x7f : Input/output error\n"
                              "hwMux: disable failed 5 : No such device or address\n"),
              std::string::npos)
        << log.text();
}

TEST_F(HwMuxTest, ReadGivesTheChannelsByteOr255OnFailure)
{
    build();
    hal.setChannelByte(12, 0x2A);
    EXPECT_EQ(mux->Read(12), 0x2A);
    ASSERT_TRUE(mux->Write(8200, 0x55));
    EXPECT_EQ(mux->Read(8200), 0x55);
    sim.failRequest(hal::kPath, hal::kSwitchRead, EIO, 1, 12u);
    EXPECT_EQ(mux->Read(12), 255);
    EXPECT_NE(log.text().find("hwMux: read failed 12 -> 0xff : Input/output error\n"), std::string::npos);
    EXPECT_EQ(mux->Read(12), 0x2A);
}

TEST_F(HwMuxTest, SixteenRefreshPassesReDisableEveryIdleBusOutputOnce)
{
    build();
    ASSERT_TRUE(mux->Disconnect(8200));
    ASSERT_TRUE(mux->Connect(3, 8201));
    ASSERT_TRUE(mux->Write(kBusLast, 9));
    std::uint64_t from = sim.journal().next();
    mux->OnDPC();
    auto first = requests(from);
    // Indices 1 to 128, less the two driven outputs among them.
    ASSERT_EQ(first.size(), std::size_t(HwMux::kRefreshPerPass - 2));
    EXPECT_EQ(first.front().word(0), std::uint32_t(HwMux::kBusFirst + 1));
    EXPECT_EQ(first.back().word(0), std::uint32_t(HwMux::kBusFirst + HwMux::kRefreshPerPass));
    for (int i = 1; i < 16; ++i)
        mux->OnDPC();
    for (int out = HwMux::kBusFirst; out <= kBusLast; ++out) {
        bool driven = out == 8200 || out == 8201 || out == kBusLast;
        ASSERT_EQ(hal.disableCount(out), driven ? 1u : 2u) << out;
    }
    EXPECT_EQ(requests(from).size(), std::size_t(HwMux::kBusCount - 3));
    EXPECT_EQ(hal.output(8200).state, State::written);
    EXPECT_EQ(hal.output(8201).state, State::connected);
}

TEST_F(HwMuxTest, TheEventLoopKeepsReDisablingIdleOutputs)
{
    build();
    ASSERT_TRUE(mux->Disconnect(8300));
    EXPECT_TRUE(testsupport::runUntil([&] { return hal.disableCount(kBusLast) >= 3; }, 10000));
    EXPECT_GE(hal.disableCount(HwMux::kBusFirst), 3u);
    EXPECT_EQ(hal.disableCount(8300), 1u);  // the sweep's only
    EXPECT_EQ(hal.output(8300).state, State::written);
    mux.reset();
    std::uint64_t from = sim.journal().next();
    testsupport::settle();
    EXPECT_TRUE(requests(from).empty());  // the deferred call went with the switch
}

TEST(HwMuxInstance, OneSwitchForTheProcess)
{
    testsupport::SimEnv::get();  // the process's board, which the switch keeps
    testsupport::CaptureStream log(std::clog);
    HwMux& a = HwMux::instance();
    HwMux& b = HwMux::instance();
    EXPECT_EQ(&a, &b);
    EXPECT_TRUE(a.IsOpened());
    // Built here, unless an earlier test of the process (the HDLC channel's) built it.
    if (!log.text().empty()) {
        EXPECT_EQ(log.text(), "hwMux: init\nhwMux: device opened\n");
    }
}

}  // namespace
