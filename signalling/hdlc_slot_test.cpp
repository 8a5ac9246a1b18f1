#include "signalling/hdlc_slot.h"

#include "base/clock.h"
#include "signalling/signalling_test_support.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace signallingtest;

// Slot 40, a link with address 0x1234 on trunk 2 (shown as 1), joined from the trunk slot
// on a loop driven by the test clock.
struct HdlcSlotTest : SignallingSlotsTest {
    Mux::TestClock clock;

    HdlcSlotTest()
    {
        HdlcSlotFactory::instance();
        EXPECT_EQ(create(40, testsupport::hdlcParams(2, 0x1234)), ok());
        EXPECT_EQ(connect(7, 40), ok());
        settle();
        signals.take();
    }

    HdlcSlot& slot() { return dynamic_cast<HdlcSlot&>(*at(40)); }
    board::sim::FrameLine* line() { return env.mcc.line(mccChannel()); }
    void wait(unsigned ms) { testsupport::advance(clock, ms); }
    Answer send(std::vector<std::vector<char>> const& bodies) { return run(40, testsupport::hdlcPackagesCommand(bodies)); }
    void receive(std::vector<std::uint8_t> const& frame)
    {
        ASSERT_TRUE(env.mcc.push(mccChannel(), frame));
        settle();
    }
    // The bodies of each hdlcPackages signal since the last take, as hexadecimal text, and
    // the counters of hdlcLinkInfo as "txSU/txDiscard/txError/txOverflow/rxSU"; the other
    // signals are passed over.
    std::vector<std::string> reports()
    {
        std::vector<std::string> out;
        for (ZGCP::Signal const& s : signals.signals) {
            if (!s.ioctl_isSelected())
                continue;
            ZGCP::IoctlResponse const& r = s.get_ioctl();
            std::string text;
            if (r.hdlcPackages_isSelected()) {
                for (ZGCP::HdlcPackage const& p : r.get_hdlcPackages())
                    text += (text.empty() ? "" : ",") + board::sim::frameText({p.get_body().begin(), p.get_body().end()});
            } else {
                ZGCP::HdlcLinkInfo const& i = r.get_hdlcLinkInfo();
                for (int v : {i.get_txSU().getValue(), i.get_txDiscard().getValue(), i.get_txError().getValue(),
                              i.get_txOverflow().getValue(), i.get_rxSU().getValue()})
                    text += (text.empty() ? "" : "/") + std::to_string(v);
            }
            out.push_back(text);
        }
        signals.take();
        return out;
    }
};

TEST_F(HdlcSlotTest, TheNinthFrameSentCarriesSequenceZeroAgain)
{
    ASSERT_EQ(send(std::vector<std::vector<char>>(9, {0x55})), ok());
    settle();
    EXPECT_EQ(written(line()), (std::vector<std::string>{"12340055", "12342055", "12344055", "12346055", "12348055",
                                                         "1234a055", "1234c055", "1234e055", "12340055"}));
}

TEST_F(HdlcSlotTest, ReceivedBodiesAreHeldAtMostTheGatheringDelay)
{
    struct Step {
        char const* what;
        std::vector<std::uint8_t> frame;  // received, or none
        unsigned wait;                    // then the clock moves on
        std::vector<std::string> reports;
    } const steps[] = {
        {"bit 7 of the second octet holds the body", {0x12, 0x34, 0x00, 0x01, 0x80}, 0, {}},
        {"a later held frame does not restart the delay", {0x12, 0x34, 0x00, 0x02, 0x81}, 99, {}},
        {"the delay ends", {}, 1, {"0180,0281"}},
        {"a flush with no bodies sends nothing", {0x56, 0x78, 0x00, 0x03, 0x00}, 0, {}},
        {"a frame shorter than the header is dropped", {0x12, 0x34}, 200, {}},
        {"a header alone is an empty body, flushed at once", {0x12, 0x34, 0x00}, 0, {"-"}},
        {"a body of one octet flushes at once", {0x12, 0x34, 0x00, 0x09}, 0, {"09"}},
    };
    for (Step const& s : steps) {
        SCOPED_TRACE(s.what);
        if (!s.frame.empty())
            receive(s.frame);
        wait(s.wait);
        EXPECT_EQ(reports(), s.reports);
    }
    EXPECT_EQ(linesOf(log.text(), "HdlcSlot[1/*]: frame"), "HdlcSlot[1/*]: frame of 2 octets dropped\n");
}

TEST_F(HdlcSlotTest, AFullQueueDropsCountsAndSaysSoAndCountersGoUpEveryThreeSeconds)
{
    // Disconnected: the channel is closed and takes nothing, so the queue fills.
    ASSERT_EQ(disconnect(40), ok());
    ASSERT_EQ(send(std::vector<std::vector<char>>(HdlcSlot::kQueueSize + 1, {0x66})), ok());
    EXPECT_EQ(linesOf(log.text(), "HdlcSlot[1/*]: transmit"), "HdlcSlot[1/*]: transmit queue full, package dropped\n");
    wait(3000);
    EXPECT_EQ(reports(), std::vector<std::string>{"0/0/0/1/0"});

    // Connected again, the queue drains into the new channel.
    ASSERT_EQ(connect(7, 40), ok());
    settle();
    EXPECT_EQ(written(line()).size(), HdlcSlot::kQueueSize);
    // A deactivate reports at once and leaves the link running.
    EXPECT_EQ(deactivate(40), ok());
    EXPECT_EQ(reports(), std::vector<std::string>{"120/0/0/1/0"});
    EXPECT_TRUE(slot().channel().is_open());
    wait(2999);
    EXPECT_TRUE(reports().empty());
    wait(1);
    EXPECT_EQ(reports(), std::vector<std::string>{"120/0/0/1/0"});
}

TEST_F(HdlcSlotTest, EitherConnectOpensTheChannelEitherDisconnectClosesIt)
{
    struct Step {
        char const* what;
        std::function<Answer()> act;
        bool open;
    } const steps[] = {
        {"disconnect from the trunk", [this] { return disconnect(40); }, false},
        {"connect to the trunk", [this] { return connect(40, 7); }, true},
        {"connect from the trunk as well", [this] { return connect(7, 40); }, true},
        {"disconnect to the trunk", [this] { return disconnect(7); }, false},
        {"activate", [this] { return activate(40); }, true},
    };
    for (Step const& s : steps) {
        SCOPED_TRACE(s.what);
        EXPECT_EQ(s.act(), ok());
        EXPECT_EQ(slot().channel().is_open(), s.open);
        env.sim.service();
        EXPECT_EQ(env.mcc.timeslots().size(), s.open ? 1u : 0u);
    }
    signals.take();

    // A channel that cannot be had is reported as deactivated.
    testsupport::failMcc(env.sim, "allocate", ENOSPC);
    EXPECT_EQ(activate(40), ok());
    EXPECT_EQ(signals.take(), std::vector<std::string>{"deactivated : networkError"});
}

TEST_F(HdlcSlotTest, AnAddressBeyondSixteenBitsMakesNoSlot)
{
    for (int address : {-1, 0x10000}) {
        EXPECT_EQ(create(41, testsupport::hdlcParams(2, address)), fail(ZGCP::ErrorCause::insufficientResources));
        EXPECT_NE(err.text().find("HdlcSlotFactory: address out of range: " + std::to_string(address) + "\n"),
                  std::string::npos);
    }
}

}  // namespace
