#include "signalling/stack_slot.h"

#include "signalling/hdlc_slot.h"
#include "signalling/isdn_slot.h"
#include "signalling/pstn_slot.h"
#include "signalling/signalling_test_support.h"

#include <gtest/gtest.h>

namespace {

using namespace signallingtest;
using Type = ZGCP::IsdnType;
using LinkSlotsTest = SignallingSlotsTest;

// Every slot that puts a link header in front of the controller's octets sends the longest
// octets that fit in one frame behind it, and refuses one octet more with an error answer.
TEST_F(LinkSlotsTest, TheLongestDataThatFitsGoesOutAndLongerIsRefused)
{
    PstnFactory::instance();
    IsdnFactory::instance();
    HdlcSlotFactory::instance();
    enum Up { peerAnswers, uaFromPeer, joinedBothWays, joinedFromTrunk };
    struct Case {
        char const* what;
        ZGCP::CreateParams params;
        Up up;
        std::size_t longest, header;
    } const cases[] = {
        {"ISDN, primary rate", testsupport::isdnParams(Type::pri, 2), peerAnswers, 65532, 4},
        {"QSIG", testsupport::qsigParams(false), peerAnswers, 65532, 4},
        {"PSTN, primary rate", testsupport::pstnIsdnParams(Type::pri, 2, true), uaFromPeer, 65532, 4},
        {"PSTN, a SETUP to every terminal of a bus", testsupport::pstnIsdnParams(Type::bri, 2, true), joinedBothWays,
         65532, 3},
        {"HDLC link", testsupport::hdlcParams(2, 0x1234), joinedFromTrunk, 65533, 3},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        bool const qsig = c.params.ats_qsig_isSelected(), hdlc = c.params.hdlcParams_isSelected();
        auto sent = [&] { return qsig ? written(dsp.line(dsp.channels().at(0))) : mccWritten(); };
        auto command = [&](std::size_t n) {
            std::vector<char> octets(n, 0);
            octets[3] = 0x05;  // a SETUP
            return hdlc ? testsupport::hdlcPackagesCommand({octets}) : testsupport::userDataCommand(octets);
        };
        ASSERT_EQ(create(20, c.params), ok());
        if (c.up == peerAnswers) {
            (qsig ? dsp.line(dsp.channels().at(0)) : env.mcc.line(mccChannel()))->peer(true);
            EXPECT_EQ(activate(20), ok());
        } else {
            EXPECT_EQ(connect(7, 20), ok());
            if (c.up == joinedBothWays) {
                EXPECT_EQ(connect(20, 7), ok());
            }
            settle();
            if (c.up == uaFromPeer)
                mccPush({0x02, 0x01, 0x73});
        }
        settle();
        sent();
        EXPECT_EQ(run(20, command(c.longest)), ok());
        settle();
        std::vector<std::string> const frames = sent();
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames.front().size() / 2, c.header + c.longest);
        EXPECT_EQ(run(20, command(c.longest + 1)), fail(ZGCP::ErrorCause::unsupported));
        settle();
        EXPECT_EQ(sent(), std::vector<std::string>{});
        ASSERT_EQ(destroy(20), ok());
    }
}

}  // namespace
