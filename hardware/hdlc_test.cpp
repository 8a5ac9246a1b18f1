#include "hardware/hdlc.h"

#include "board/hal.h"
#include "board/sim/hal_model.h"
#include "board/sim/mcc_model.h"
#include "hardware/hw_mux.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"
#include "tests/mcc_test_support.h"
#include "tests/sim_env.h"

#include <gtest/gtest.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

using board::sim::HalModel;
using board::sim::MccModel;
using State = HalModel::Output::State;

// Records what the channel reports, in order.
struct Recorder : HDLC::Notify {
    std::vector<std::string> events;
    void on_hdlc_receive(Packet& p) override { events.push_back("rx " + p.text()); }
    void on_hdlc_error(Cause::Type c) override { events.push_back("error " + std::to_string(int(c))); }
    void on_hdlc_ready() override { events.push_back("ready"); }
    std::vector<std::string> take()
    {
        std::vector<std::string> out;
        out.swap(events);
        return out;
    }
};

Packet frame(std::vector<unsigned char> const& bytes)
{
    Packet p;
    p.reserve_head(0);
    for (unsigned char b : bytes)
        p.put8(b);
    return p;
}

struct HdlcTest : ::testing::Test {
    testsupport::SimEnv& b = testsupport::SimEnv::get();
    testsupport::CaptureStream err{std::cerr};
    testsupport::CaptureStream log{std::clog};
    Recorder notify;
    HDLC hdlc;

    HdlcTest()
    {
        // A write to a line the model hung up must not end the test process.
        std::signal(SIGPIPE, SIG_IGN);
        HwMux::instance();
        hdlc.bind(&notify);
        hdlc.trunk(1);
        HDLC::Params p;
        p.trunk = 1;
        p.timeslot = 16;
        p.tdm = 48;
        p.type = 1;
        hdlc.params(p);
    }
    ~HdlcTest() override { b.sim.clearFailures(); }

    // The controller channel's switch channel (the only one allocated).
    int channel()
    {
        b.sim.service();
        auto ts = b.mcc.timeslots();
        return ts.size() == 1 ? ts[0] : -1;
    }
    HalModel::Output output(int ch) { return b.hal.output(ch); }
    void settle() { testsupport::settle(); }
    bool idle(int ch) { return output(ch).state == State::written && output(ch).byte == HwMux::kIdleByte; }
};

TEST_F(HdlcTest, ActivateAllocatesByTypeAndJoinsBothDirections)
{
    struct Case {
        std::uint32_t type;
        std::int32_t txTdm;
        std::uint32_t channelType;
        int lineOutput;  // the switch output the controller drives
    } const cases[] = {
        {0, -1, mcc::kSs7, 48},
        {1, -1, mcc::kData, 48},
        {2, 50, mcc::kBri, 50},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.type);
        HDLC::Params p = hdlc.params();
        p.type = c.type;
        p.txTdm = c.txTdm;
        hdlc.params(p);
        std::uint64_t const mark = b.sim.journal().next();
        ASSERT_TRUE(hdlc.activate());
        int const ts = channel();
        ASSERT_GE(ts, MccModel::kFirstTimeslot);
        EXPECT_EQ(output(c.lineOutput), (HalModel::Output{State::connected, ts, 0}));
        EXPECT_EQ(output(ts), (HalModel::Output{State::connected, 48, 0}));
        EXPECT_EQ(testsupport::mccAllocations(b.sim, mark),
                  (std::vector<std::vector<std::uint32_t>>{{c.channelType, 512, 0, 1, 4}}));

        // Not ready until the first writable report, which is told once.
        EXPECT_TRUE(hdlc.is_open());
        EXPECT_FALSE(hdlc.is_ready());
        settle();
        EXPECT_TRUE(hdlc.is_ready());
        EXPECT_EQ(notify.take(), (std::vector<std::string>{"ready"}));

        // Deactivating leaves the line output idle; the channel goes with its descriptor.
        hdlc.deactivate();
        EXPECT_FALSE(hdlc.is_open());
        EXPECT_TRUE(idle(c.lineOutput));
        EXPECT_EQ(channel(), -1);
    }
    EXPECT_EQ(err.text(), "");
}

// The controller's channel goes back with its own output disabled; the line output is left
// idle unless another connection was made on it since.
TEST_F(HdlcTest, GivingTheChannelBackLeavesNothingOfItInTheSwitch)
{
    struct Case {
        char const* name;
        bool lineTaken;
        bool destroyed;
    } const cases[] = {
        {"deactivated", false, false},
        {"destroyed", false, true},
        {"line taken over, deactivated", true, false},
        {"line taken over, destroyed", true, true},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        auto other = std::make_unique<HDLC>();
        other->params(hdlc.params());
        ASSERT_TRUE(other->activate());
        int const ts = channel();
        if (c.lineTaken) {
            ASSERT_TRUE(HwMux::instance().Connect(99, 48));
        }
        if (c.destroyed)
            other.reset();
        else
            other->deactivate();
        EXPECT_EQ(output(ts).state, State::disabled);
        HalModel::Output const line =
            c.lineTaken ? HalModel::Output{State::connected, 99, 0} : HalModel::Output{State::written, -1, HwMux::kIdleByte};
        EXPECT_EQ(output(48), line);
        // The switch is the process's: the next test finds the line as it would on a fresh board.
        if (c.lineTaken) {
            EXPECT_TRUE(HwMux::instance().Disable(48));
        }
    }
}

TEST_F(HdlcTest, FailedActivationSaysWhyAndLeavesNoChannel)
{
    int const ts = MccModel::kFirstTimeslot;
    std::string const tsText = std::to_string(ts);
    struct Case {
        char const* inject;
        int error;
        std::string line;
        std::uint32_t output = 0;  // of a switch connection refused
    } const cases[] = {
        {"open", EIO, "hdlc [1/16]: fail to open MCC device: Input/output error\n"},
        {"allocate", ENOSPC, "hdlc [1/16]: MCC_ALLOCATE fail: No space left on device\n"},
        {"timeslot", EINVAL, "hdlc [1/16]: MCC_TIMESLOT fail: Invalid argument\n"},
        // Half a line is no link: what was joined goes again.
        {"connect", EIO, "hdlc [1/16]: switch connect " + tsText + " -> 48 failed\n", 48},
        {"connect", EIO, "hdlc [1/16]: switch connect 48 -> " + tsText + " failed\n", std::uint32_t(ts)},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.line);
        testsupport::CaptureStream e(std::cerr);
        if (c.output != 0)
            b.sim.failRequest(hal::kPath, hal::kSwitchConnect, c.error, 1, c.output);
        else
            testsupport::failMcc(b.sim, c.inject, c.error);
        EXPECT_FALSE(hdlc.activate());
        EXPECT_FALSE(hdlc.is_open());
        EXPECT_EQ(e.text(), c.line);
        b.sim.service();
        EXPECT_EQ(b.sim.device(mcc::kPath)->opens().size(), 0u);
        EXPECT_NE(output(48).state, State::connected);
        EXPECT_NE(output(ts).state, State::connected);
    }
}

TEST_F(HdlcTest, FramesBothWaysWithTheirCounters)
{
    ASSERT_TRUE(hdlc.activate());
    int const ts = channel();
    Packet null;
    EXPECT_TRUE(hdlc.hdlc_transmit(null));
    Packet nothing = frame({});
    EXPECT_TRUE(hdlc.hdlc_transmit(nothing));
    Packet one = frame({1, 2});
    EXPECT_TRUE(hdlc.hdlc_transmit(one));
    Packet two = frame({3});
    EXPECT_TRUE(hdlc.hdlc_transmit(two));
    settle();
    EXPECT_EQ(b.mcc.takeWritten(ts), (std::vector<MccModel::Frame>{{1, 2}, {3}}));

    // Each readable report delivers one frame.
    ASSERT_TRUE(b.mcc.push(ts, {0xA0, 0x01}));
    ASSERT_TRUE(b.mcc.push(ts, {0xA1}));
    settle();
    EXPECT_EQ(notify.take(), (std::vector<std::string>{"ready", "rx A0 01", "rx A1"}));

    hdlc.deactivate();
    EXPECT_FALSE(hdlc.hdlc_transmit(one));
    HDLC::Statistics s = hdlc.statistics();
    EXPECT_EQ((std::vector<std::uint32_t>{s.txSU, s.txDiscard, s.txError, s.txOverflow, s.rxSU}),
              (std::vector<std::uint32_t>{2, 1, 0, 0, 2}));

    // Activating again releases the first channel and clears the counters.
    ASSERT_TRUE(hdlc.activate());
    EXPECT_EQ(b.mcc.timeslots().size(), 1u);
    s = hdlc.statistics();
    EXPECT_EQ(s.txSU + s.txDiscard + s.rxSU, 0u);
    EXPECT_EQ(err.text(), "");
}

TEST_F(HdlcTest, AFullChannelIsReadyAgainWhenWritable)
{
    ASSERT_TRUE(hdlc.activate());
    settle();
    ASSERT_TRUE(hdlc.is_ready());
    notify.take();
    // Without the loop nothing drains the channel: it fills up.
    int written = 0;
    Packet p = frame({7});
    while (hdlc.hdlc_transmit(p) && written < 10000)
        ++written;
    EXPECT_GT(written, 0);
    EXPECT_FALSE(hdlc.is_ready());
    EXPECT_EQ(hdlc.statistics().txSU, unsigned(written));
    EXPECT_EQ(hdlc.statistics().txError, 0u);
    EXPECT_TRUE(notify.events.empty());
    settle();
    EXPECT_TRUE(hdlc.is_ready());
    EXPECT_EQ(notify.take(), (std::vector<std::string>{"ready"}));
}

TEST_F(HdlcTest, AClosedLineIsAnErrorAndLeavesTheLineIdle)
{
    ASSERT_TRUE(hdlc.activate());
    int const ts = channel();
    settle();
    notify.take();
    ASSERT_TRUE(b.mcc.push(ts, {0x42}));
    ASSERT_TRUE(b.mcc.hangUp(ts));
    settle();
    // The frame queued before the end is still delivered.
    EXPECT_EQ(notify.take(), (std::vector<std::string>{"rx 42", "error 0"}));
    EXPECT_FALSE(hdlc.is_open());
    EXPECT_TRUE(idle(48));
    EXPECT_EQ(err.text(), "hdlc [1/16]: read error: end of file\n");

    // The destructor leaves the line idle as well.
    {
        HDLC other;
        other.params(hdlc.params());
        ASSERT_TRUE(other.activate());
        EXPECT_EQ(output(48).state, State::connected);
    }
    EXPECT_TRUE(idle(48));
}

}  // namespace
