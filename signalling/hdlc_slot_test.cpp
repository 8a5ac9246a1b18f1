#include "signalling/hdlc_slot.h"

#include "asn1/per_common.h"
#include "base/clock.h"
#include "control/tpkt_protocol.h"
#include "signalling/signalling_test_support.h"
#include "tests/controller_client.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <sstream>

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
    void wait(unsigned ms) { testsupport::advance(clock, ms); }
    Answer send(std::vector<std::vector<char>> const& bodies) { return run(40, testsupport::hdlcPackagesCommand(bodies)); }
    // The ioctl signals since the last take (received bodies, counters) on one line each; the
    // others are passed over unless asked for.
    std::vector<std::string> reports(bool others = false)
    {
        std::vector<std::string> out;
        for (std::string const& text : signals.take()) {
            std::istringstream in(text);
            std::string line;
            for (std::string word; in >> word;)
                line += (line.empty() ? "" : " ") + word;
            if (others || text.rfind("ioctl", 0) == 0)
                out.push_back(line);
        }
        return out;
    }
};

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
        {"the delay ends", {}, 1, {"ioctl : hdlcPackages : { { body '01 80'H }, { body '02 81'H } }"}},
        {"a flush with no bodies sends nothing", {0x56, 0x78, 0x00, 0x03, 0x00}, 0, {}},
        {"a frame shorter than the header is dropped", {0x12, 0x34}, 200, {}},
        {"a header alone is an empty body, flushed at once", {0x12, 0x34, 0x00}, 0, {"ioctl : hdlcPackages : { { body ''H } }"}},
        {"a body of one octet flushes at once", {0x12, 0x34, 0x00, 0x09}, 0, {"ioctl : hdlcPackages : { { body '09'H } }"}},
    };
    for (Step const& s : steps) {
        SCOPED_TRACE(s.what);
        if (!s.frame.empty())
            mccPush(s.frame);
        wait(s.wait);
        EXPECT_EQ(reports(), s.reports);
    }
    EXPECT_EQ(linesOf(log.text(), "HdlcSlot[1/*]: frame"), "HdlcSlot[1/*]: frame of 2 octets dropped\n");
}

TEST_F(HdlcSlotTest, PackagesThatDoNotFitTheQueueAreRefusedWholeAndCountersGoUpEveryThreeSeconds)
{
    // Disconnected: the channel is closed and takes nothing, so the queue fills.
    ASSERT_EQ(disconnect(40), ok());
    Answer const refused = fail(ZGCP::ErrorCause::insufficientResources);
    struct Step {
        unsigned packages;
        Answer answer;
    } const steps[] = {
        {HdlcSlot::kQueueSize + 1, refused}, {HdlcSlot::kQueueSize - 1, ok()}, {2, refused}, {1, ok()}, {1, refused},
    };
    // Package n carries the body n; the frames queued are the packages taken, in order.
    std::vector<std::string> queued;
    for (Step const& s : steps) {
        std::vector<std::vector<char>> bodies;
        for (unsigned i = 0; i < s.packages; ++i)
            bodies.push_back({char(queued.size() + i)});
        EXPECT_EQ(send(bodies), s.answer) << s.packages;
        for (unsigned i = 0; s.answer == ok() && i < s.packages; ++i) {
            char frame[16];
            std::snprintf(frame, sizeof frame, "1234%02x%02x", unsigned(queued.size() % 8) << 5, unsigned(queued.size()));
            queued.push_back(frame);
        }
    }
    EXPECT_EQ(linesOf(log.text(), "HdlcSlot[1/*]: transmit"),
              "HdlcSlot[1/*]: transmit queue has room for 120, 121 packages refused\n"
              "HdlcSlot[1/*]: transmit queue has room for 1, 2 packages refused\n"
              "HdlcSlot[1/*]: transmit queue has room for 0, 1 packages refused\n");
    wait(3000);
    EXPECT_EQ(reports(), std::vector<std::string>{"ioctl : hdlcLinkInfo : { txSU 0, txDiscard 0, txError 0, txOverflow 124, rxSU 0 }"});

    // Connected again, the queue drains into the new channel: every package taken, the
    // sequence without a gap, and the next one goes on from there.
    ASSERT_EQ(connect(7, 40), ok());
    settle();
    EXPECT_EQ(mccWritten(), queued);
    EXPECT_EQ(send({{0x7f}}), ok());
    EXPECT_EQ(mccWritten(), std::vector<std::string>{"1234007f"});
    // A deactivate reports at once and leaves the link running.
    EXPECT_EQ(deactivate(40), ok());
    std::vector<std::string> const counters = {
        "ioctl : hdlcLinkInfo : { txSU 121, txDiscard 0, txError 0, txOverflow 124, rxSU 0 }"};
    EXPECT_EQ(reports(), counters);
    EXPECT_TRUE(slot().channel().is_open());
    wait(2999);
    EXPECT_TRUE(reports().empty());
    wait(1);
    EXPECT_EQ(reports(), counters);
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

// A channel that breaks sends up what was gathered and the link's end, once; the link stays
// down until the next activate.
TEST_F(HdlcSlotTest, ABrokenChannelSendsWhatWasGatheredAndDeactivatedOnce)
{
    mccPush({0x12, 0x34, 0x00, 0x01, 0x80});
    ASSERT_TRUE(env.mcc.hangUp(mccChannel()));
    settle();
    EXPECT_EQ(reports(true), (std::vector<std::string>{"ioctl : hdlcPackages : { { body '01 80'H } }",
                                                        "deactivated : networkError"}));
    EXPECT_FALSE(slot().channel().is_open());
    wait(2999);
    EXPECT_EQ(reports(true), std::vector<std::string>{});
    EXPECT_EQ(activate(40), ok());
    EXPECT_TRUE(slot().channel().is_open());
}

// Received bodies go up in signals the controller can read, each within one TPKT frame: a
// body a signal cannot carry is dropped with a line, and what was gathered goes up before a
// body that would take it past 128 bodies or past a frame.
TEST_F(HdlcSlotTest, ReceivedBodiesGoUpInSignalsTheControllerCanRead)
{
    std::size_t const longest = ASN1::per::FragmentLength - 1;
    struct Case {
        char const* what;
        std::size_t length;  // of each body, held (bit 7 of its second octet) when over 1
        unsigned count;
        std::vector<std::size_t> signals;  // bodies in each signal, once the delay is over
    } const cases[] = {
        {"the longest body a signal carries", longest, 1, {1}},
        {"one octet longer", longest + 1, 1, {}},
        {"129 bodies", 2, 129, {128, 1}},
        {"bodies past a frame", 10000, 7, {6, 1}},
    };
    std::string const dropped = " octets is longer than a signal carries, dropped\n";
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        std::size_t const lines = log.count(dropped);
        std::vector<std::uint8_t> frame(3 + c.length, 0x80);
        frame[0] = 0x12;
        frame[1] = 0x34;
        frame[2] = 0x00;
        for (unsigned i = 0; i < c.count; ++i)
            mccPush(frame);
        wait(HdlcSlot::kGatherMs);
        std::vector<std::size_t> bodies;
        for (ZGCP::Signal const& signal : signals.signals) {
            ZGCP::Message message;
            message.set_slot(40);
            message.set_pdu().select_signal(signal);
            std::vector<std::uint8_t> const encoded = testsupport::encodePer(message);
            EXPECT_FALSE(encoded.empty());
            EXPECT_LE(encoded.size(), Tpkt_protocol::max_body);
            if (signal.ioctl_isSelected() && signal.get_ioctl().hdlcPackages_isSelected())
                bodies.push_back(signal.get_ioctl().get_hdlcPackages().size());
        }
        signals.take();
        EXPECT_EQ(bodies, c.signals);
        EXPECT_EQ(log.count(dropped), lines + (c.signals.empty() ? 1 : 0));
    }
}

TEST_F(HdlcSlotTest, NamesItsProtocolHdlc)
{
    EXPECT_TRUE(slot().name().compare(Protocol_name_str("hdlc")));
    EXPECT_FALSE(slot().name().compare(Protocol_name_str("MTP/L2")));
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
