#include "slots/connection.h"

#include "board/hal.h"
#include "tests/slots_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using namespace slotstest;
using State = board::sim::HalModel::Output::State;

// A slot with its own switch channel and priority that records which hooks ran.
class ProbeSlot : public Slot {
public:
    ProbeSlot(char const* name, int channel, int priority = 0) : name_(name), channel_(channel), priority_(priority) {}
    ~ProbeSlot() override
    {
        Disconnect(*this);
        while (!GetListeners().empty())
            Disconnect(*GetListeners().front());
    }

    int GetConnectionPriority() override { return priority_; }
    bool IHwConnectTransmitter(Slot& d) override { return note("tx-connect", d, Slot::IHwConnectTransmitter(d)); }
    bool IHwConnectReceiver(Slot& s) override { return note("rx-connect", s, Slot::IHwConnectReceiver(s)); }
    bool IHwDisconnectTransmitter(Slot& d) override { return note("tx-disconnect", d, Slot::IHwDisconnectTransmitter(d)); }
    bool IHwDisconnectReceiver(Slot& s) override { return note("rx-disconnect", s, Slot::IHwDisconnectReceiver(s)); }
    bool IOnOutputStream() override
    {
        calls->push_back(std::string(name_) + " open-output");
        return hasOutput;
    }
    bool IOnInputStream() override
    {
        calls->push_back(std::string(name_) + " open-input");
        return hasInput;
    }
    void IOnOutputRelease() override { calls->push_back(std::string(name_) + " release-output"); }
    void IOnInputRelease() override { calls->push_back(std::string(name_) + " release-input"); }
    int IGetTransmitChannel() override { return channel_; }
    int IGetReceiveChannel() override { return channel_; }
    char const* GetName() const override { return name_; }

    bool hasOutput = true;
    bool hasInput = true;
    std::vector<std::string>* calls = nullptr;

private:
    bool note(char const* what, Slot& peer, bool result)
    {
        calls->push_back(std::string(name_) + " " + what + " " + peer.GetName());
        return result;
    }

    char const* name_;
    int channel_;
    int priority_;
};

struct ConnectionTest : SlotsTest {
    std::vector<std::string> calls;
    ProbeSlot a{"a", 40};
    ProbeSlot b{"b", 41};
    ProbeSlot c{"c", 42};
    ProbeSlot d{"d", 43};

    ConnectionTest()
    {
        for (ProbeSlot* s : {&a, &b, &c, &d})
            s->calls = &calls;
    }
    std::vector<std::string> take()
    {
        std::vector<std::string> out;
        out.swap(calls);
        return out;
    }
};

using Calls = std::vector<std::string>;

TEST_F(ConnectionTest, FirstConnectionOpensBothStreamsAndTheDestinationProgramsTheSwitch)
{
    ASSERT_TRUE(Connect(a, b));
    EXPECT_EQ(take(), (Calls{"a open-output", "b open-input", "b rx-connect a"}));
    EXPECT_EQ(output(41).input, 40);
    EXPECT_EQ(b.GetSource(), &a);
    EXPECT_EQ(a.GetListeners(), std::vector<Slot*>{&b});
    EXPECT_TRUE(a.GetOutputStream());
    EXPECT_TRUE(b.GetInputStream());
    EXPECT_NE(log.text().find("mux: slot na:a [40] -> na:b [41]\n"), std::string::npos) << log.text();
}

TEST_F(ConnectionTest, SecondDestinationDoesNotOpenTheOutputAgain)
{
    ASSERT_TRUE(Connect(a, b));
    take();
    ASSERT_TRUE(Connect(a, c));
    EXPECT_EQ(take(), (Calls{"c open-input", "c rx-connect a"}));
    EXPECT_TRUE(a.GetOutputStream());
    EXPECT_TRUE(c.GetInputStream());
    EXPECT_EQ(a.GetListeners(), (std::vector<Slot*>{&b, &c}));
}

TEST_F(ConnectionTest, ListenersKeepTheirConnectionOrder)
{
    ASSERT_TRUE(Connect(a, d));
    ASSERT_TRUE(Connect(a, b));
    ASSERT_TRUE(Connect(a, c));
    EXPECT_EQ(a.GetListeners(), (std::vector<Slot*>{&d, &b, &c}));
    take();
    a.OnChangeOutputStream(false);
    EXPECT_EQ(take(), (Calls{"a tx-disconnect d", "d release-input", "a tx-disconnect b", "b release-input",
                             "a tx-disconnect c", "c release-input", "a release-output"}));
    EXPECT_TRUE(a.GetListeners().empty());
    EXPECT_FALSE(a.GetOutputStream());
    // The listeners' inputs stay reported open: only the source's output changed.
    EXPECT_TRUE(b.GetInputStream());
}

TEST_F(ConnectionTest, MovingADestinationRemovesTheOldLinkFirstAndReleasesTheOldOutput)
{
    ASSERT_TRUE(Connect(a, c));
    take();
    auto const mark = env.mark();
    ASSERT_TRUE(Connect(b, c));
    EXPECT_EQ(take(), (Calls{"b open-output", "a tx-disconnect c", "c rx-connect b", "a release-output"}));
    EXPECT_EQ(env.requests(mark), (std::vector<std::string>{"write 42 213 -> 0", "connect 42 41 -> 0"}));
    EXPECT_EQ(c.GetSource(), &b);
    EXPECT_TRUE(a.GetListeners().empty());
    EXPECT_TRUE(c.GetInputStream());
}

TEST_F(ConnectionTest, ReconnectingToTheSameSourceTouchesNothing)
{
    ASSERT_TRUE(Connect(a, b));
    take();
    auto const mark = env.mark();
    EXPECT_TRUE(Connect(a, b));
    EXPECT_TRUE(take().empty());
    EXPECT_TRUE(env.requests(mark).empty());
}

TEST_F(ConnectionTest, DisconnectWithoutSourceSucceedsWithoutHardware)
{
    auto const mark = env.mark();
    EXPECT_TRUE(Disconnect(b));
    EXPECT_TRUE(take().empty());
    EXPECT_TRUE(env.requests(mark).empty());
    EXPECT_FALSE(llDisconnect(b));
}

TEST_F(ConnectionTest, FailedHardwareDisconnectStillDissolvesTheLink)
{
    ASSERT_TRUE(Connect(a, b));
    take();
    env.sim.failRequest(hal::kPath, hal::kSwitchWrite, EIO);
    EXPECT_FALSE(Disconnect(b));
    EXPECT_EQ(take(), (Calls{"a tx-disconnect b", "b release-input", "a release-output"}));
    EXPECT_EQ(b.GetSource(), nullptr);
    EXPECT_TRUE(a.GetListeners().empty());
    env.sim.clearFailures();
}

TEST_F(ConnectionTest, DisconnectKeepsAConnectionMadeOnTheOutputSince)
{
    ASSERT_TRUE(Connect(a, b));
    ASSERT_TRUE(HwMux::instance().Connect(60, 41));
    EXPECT_TRUE(Disconnect(b));
    EXPECT_EQ(output(41).input, 60);
    EXPECT_NE(log.text().find("mux: slot na:b [41] no longer fed by na:a, left as it is\n"), std::string::npos);
}

TEST_F(ConnectionTest, FailedMoveRestoresTheOldSourcesLinkInTheSwitch)
{
    ASSERT_TRUE(Connect(a, c));
    take();
    env.sim.failRequest(hal::kPath, hal::kSwitchConnect, EIO, 1, 42u);
    EXPECT_FALSE(Connect(b, c));
    env.sim.clearFailures();
    EXPECT_EQ(take(), (Calls{"b open-output", "a tx-disconnect c", "c rx-connect b", "c rx-connect a",
                             "b release-output"}));
    EXPECT_EQ(c.GetSource(), &a);
    EXPECT_EQ(output(42).state, State::connected);
    EXPECT_EQ(output(42).input, 40);
}

TEST_F(ConnectionTest, FailedFirstConnectionReleasesWhatItOpened)
{
    env.sim.failRequest(hal::kPath, hal::kSwitchConnect, EIO, 1, 41u);
    EXPECT_FALSE(Connect(a, b));
    env.sim.clearFailures();
    EXPECT_EQ(take(), (Calls{"a open-output", "b open-input", "b rx-connect a", "b release-input", "a release-output"}));
    EXPECT_EQ(b.GetSource(), nullptr);
    // The flags stay as the stream changes reported them.
    EXPECT_TRUE(b.GetInputStream());
}

TEST_F(ConnectionTest, MissingStreamsFailWithTheirLines)
{
    a.hasOutput = false;
    EXPECT_FALSE(Connect(a, b));
    EXPECT_NE(err.text().find("slot na:a don't have output stream to na:b\n"), std::string::npos) << err.text();
    EXPECT_FALSE(a.GetOutputStream());

    take();
    c.hasInput = false;
    EXPECT_FALSE(Connect(b, c));
    EXPECT_NE(err.text().find("slot na:c don't have input stream from na:b\n"), std::string::npos) << err.text();
    // The output opened for this connection alone is released again.
    EXPECT_EQ(take(), (Calls{"b open-output", "c open-input", "b release-output"}));
}

TEST_F(ConnectionTest, HigherPrioritySideProgramsTheHardwareTheDestinationOnATie)
{
    ProbeSlot high{"high", 50, 1};
    high.calls = &calls;
    ASSERT_TRUE(Connect(high, a));
    ASSERT_TRUE(Disconnect(a));
    EXPECT_EQ(take(), (Calls{"high open-output", "a open-input", "high tx-connect a", "high tx-disconnect a",
                             "a release-input", "high release-output"}));

    ASSERT_TRUE(Connect(a, high));
    ASSERT_TRUE(Disconnect(high));
    EXPECT_EQ(take(), (Calls{"a open-output", "high open-input", "high rx-connect a", "high rx-disconnect a",
                             "high release-input", "a release-output"}));

    ASSERT_TRUE(Connect(a, b));
    ASSERT_TRUE(Disconnect(b));
    EXPECT_EQ(take(), (Calls{"a open-output", "b open-input", "b rx-connect a", "a tx-disconnect b",
                             "b release-input", "a release-output"}));
}

}  // namespace
