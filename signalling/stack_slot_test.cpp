#include "signalling/stack_slot.h"

#include "signalling/hdlc_slot.h"
#include "signalling/isdn_slot.h"
#include "signalling/pstn_slot.h"
#include "signalling/signalling_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using namespace signallingtest;
using Type = ZGCP::IsdnType;

struct LinkSlotsTest : SignallingSlotsTest {
    LinkSlotsTest()
    {
        PstnFactory::instance();
        IsdnFactory::instance();
        HdlcSlotFactory::instance();
    }

    // The frames written on the only MCC channel, or on the QSIG signalling channel.
    std::vector<std::string> sent() { return mccChannel() >= 0 ? mccWritten() : written(dsp.line(dsp.channels().at(0))); }
};

// Every slot that puts a link header in front of the controller's octets sends the longest
// octets that fit in one frame behind it, and refuses one octet more with an error answer.
TEST_F(LinkSlotsTest, TheLongestDataThatFitsGoesOutAndLongerIsRefused)
{
    auto userData = [](std::size_t n) {
        std::vector<char> octets(n, 0);
        octets[3] = 0x05;  // a SETUP, which the network side of a bus sends to every terminal
        return testsupport::userDataCommand(octets);
    };
    auto package = [](std::size_t n) { return testsupport::hdlcPackagesCommand({std::vector<char>(n, 0x11)}); };
    struct Case {
        char const* what;
        std::function<void(LinkSlotsTest&)> up;  // slot 20 made, its link up, what it wrote taken
        std::function<ZGCP::Command(std::size_t)> command;
        std::size_t longest;
        std::size_t header;
    } const cases[] = {
        {"ISDN, primary rate",
         [](LinkSlotsTest& t) {
             ASSERT_EQ(t.create(20, testsupport::isdnParams(Type::pri, 2)), ok());
             t.env.mcc.line(t.mccChannel())->peer(true);
             EXPECT_EQ(t.activate(20), ok());
         },
         userData, 65532, 4},
        {"QSIG",
         [](LinkSlotsTest& t) {
             ASSERT_EQ(t.create(20, testsupport::qsigParams(false)), ok());
             t.dsp.line(t.dsp.channels().at(0))->peer(true);
             EXPECT_EQ(t.activate(20), ok());
         },
         userData, 65532, 4},
        {"PSTN, primary rate",
         [](LinkSlotsTest& t) {
             ASSERT_EQ(t.create(20, testsupport::pstnIsdnParams(Type::pri, 2, true)), ok());
             ASSERT_EQ(t.connect(7, 20), ok());
             t.settle();
             t.mccPush({0x02, 0x01, 0x73});
         },
         userData, 65532, 4},
        {"PSTN, network side of a bus",
         [](LinkSlotsTest& t) {
             ASSERT_EQ(t.create(20, testsupport::pstnIsdnParams(Type::bri, 2, true)), ok());
             ASSERT_EQ(t.connect(7, 20), ok());
             ASSERT_EQ(t.connect(20, 7), ok());
         },
         userData, 65532, 3},
        {"HDLC link",
         [](LinkSlotsTest& t) {
             ASSERT_EQ(t.create(20, testsupport::hdlcParams(2, 0x1234)), ok());
             ASSERT_EQ(t.connect(7, 20), ok());
         },
         package, 65533, 3},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        c.up(*this);
        settle();
        sent();
        EXPECT_EQ(run(20, c.command(c.longest)), ok());
        settle();
        std::vector<std::string> frames = sent();
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames.front().size() / 2, c.header + c.longest);
        EXPECT_EQ(run(20, c.command(c.longest + 1)), fail(ZGCP::ErrorCause::unsupported));
        settle();
        EXPECT_EQ(sent(), std::vector<std::string>{});
        ASSERT_EQ(destroy(20), ok());
        signals.take();
    }
}

}  // namespace
