#include "signalling/isdn_slot.h"

#include "base/clock.h"
#include "board/dsp_data.h"
#include "board/mcc.h"
#include "board/sim/console.h"
#include "signalling/signalling_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

namespace {

using namespace signallingtest;
using Type = ZGCP::IsdnType;
using testsupport::isdnParams;
using testsupport::qsigBParams;
using testsupport::qsigParams;

struct IsdnSlotTest : SignallingSlotsTest {
    IsdnSlotTest() { IsdnFactory::instance(); }

    board::sim::Console console{env.sim};

    IsdnSlot& isdn(unsigned number) { return dynamic_cast<IsdnSlot&>(*at(number)); }
    // Slot 20 on an established link with the peer of its channel.
    void established()
    {
        EXPECT_EQ(create(20, isdnParams(Type::pri, 2)), ok());
        env.mcc.line(mccChannel())->peer(true);
        EXPECT_EQ(activate(20), ok());
        settle();
        EXPECT_EQ(kinds(), (std::vector<std::string>{"isdnLinkInfo", "activated"}));
        mccWritten();
    }
};

TEST_F(IsdnSlotTest, EachKindSetsUpItsChannelAndLink)
{
    struct Case {
        char const* what;
        ZGCP::CreateParams params;
        std::vector<std::vector<std::uint32_t>> allocations;
        char const* name;
        char const* link;     // the link's log header: its number
        ACP::IsdnSide::NamedNumber side;
        bool teiManagement;   // a basic-rate user side asks for a TEI when the network removes them
    } const cases[] = {
        {"primary rate", isdnParams(Type::pri, 2, true), {{mcc::kData, 512, 0, 1, 1}}, "MCC", "LAPD[2] (",
         ACP::IsdnSide::network, false},
        {"basic rate", isdnParams(Type::bri, 3), {{mcc::kBri, 512, 0, 1, 1}}, "MCC", "LAPD[3] (", ACP::IsdnSide::user,
         true},
        {"QSIG: the link's number is its channel", qsigParams(false), {}, "ATS-QSIG", "LAPD[768] (",
         ACP::IsdnSide::user, false},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        auto const mark = env.mark();
        ASSERT_EQ(create(20, c.params), ok());
        EXPECT_EQ(testsupport::mccAllocations(env.sim, mark), c.allocations);
        IsdnSlot& slot = isdn(20);
        int const channel = c.allocations.empty() ? dsp.channels().at(0) : mccChannel();
        EXPECT_EQ(slot.GetTransmitChannel(), channel);
        EXPECT_EQ(slot.GetReceiveChannel(), channel);
        EXPECT_EQ(std::string(slot.GetName()), c.name);
        std::ostringstream header;
        slot.link().PutHeader(header);
        EXPECT_EQ(header.str().rfind(c.link, 0), 0u) << header.str();
        ACP::IsdnLinkInfo info;
        slot.link().GetInfo(info);
        EXPECT_EQ(info.get_side().asInt(), c.side);

        // An identity remove for every TEI.
        char const* const path = c.allocations.empty() ? dspdata::kPath : mcc::kPath;
        board::sim::FrameLine* line = c.allocations.empty() ? dsp.line(channel) : env.mcc.line(channel);
        EXPECT_EQ(console.execute(std::string("device ") + path + " push " + std::to_string(channel) + " feff030f000006ff"),
                  "ok 1");
        settle();
        std::vector<std::string> const sent = written(line);
        EXPECT_EQ(!sent.empty() && sent.back().rfind("fcff030f", 0) == 0, c.teiManagement);
        ASSERT_EQ(destroy(20), ok());
    }
}

TEST_F(IsdnSlotTest, CreatesThatCannotBeMetMakeNoSlot)
{
    ASSERT_EQ(create(20, isdnParams(Type::pri, 2)), ok());
    ASSERT_EQ(create(21, qsigParams(false)), ok());
    auto failRequest = [this](char const* path, unsigned long request, int error) {
        return [=] { env.sim.failRequest(path, request, error); };
    };
    struct Case {
        ZGCP::CreateParams params;
        std::function<void()> inject;
        char const* line;
    } const cases[] = {
        {isdnParams(Type::pri, 2), [this] { testsupport::failMcc(env.sim, "open", EACCES); },
         "mcc/isdn: fail to open MCC device: Permission denied\n"},
        {isdnParams(Type::bri, 2), [this] { testsupport::failMcc(env.sim, "allocate", ENOSPC); },
         "mcc/isdn: MCC_ALLOCATE fail: No space left on device\n"},
        {isdnParams(Type::pri, 2), [this] { testsupport::failMcc(env.sim, "timeslot", EINVAL); },
         "mcc/isdn: MCC_TIMESLOT fail: Invalid argument\n"},
        {qsigParams(true), [this] { env.sim.failOpen(dspdata::kPath, ENOENT); },
         "mcc/isdn: fail to open dsp-data device: No such file or directory\n"},
        {qsigParams(true), failRequest(dspdata::kPath, dspdata::kSignallingChannel, EIO),
         "mcc/isdn: signalling channel fail: Input/output error\n"},
        {qsigBParams(21, 2), failRequest(dspdata::kPath, dspdata::kAddBChannel, EBUSY), "ats-qsig: add B channel fail !!!\n"},
        {qsigBParams(21, 0), [] {}, "mcc/isdn: no B channel 0 of a QSIG slot 21\n"},
        {qsigBParams(20, 1), [] {}, "mcc/isdn: no B channel 1 of a QSIG slot 20\n"},
        {qsigBParams(99, 1), [] {}, "mcc/isdn: no B channel 1 of a QSIG slot 99\n"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.line);
        testsupport::CaptureStream e(std::cerr);
        c.inject();
        EXPECT_EQ(create(30, c.params), fail(ZGCP::ErrorCause::insufficientResources));
        EXPECT_EQ(e.text().rfind(c.line, 0), 0u) << e.text();
        EXPECT_EQ(at(30), nullptr);
        env.sim.service();
        EXPECT_EQ(env.mcc.timeslots().size(), 1u);
        EXPECT_EQ(dsp.channels().size(), 1u);
        EXPECT_TRUE(dsp.lent(dsp.channels().at(0)).empty());
    }
}

// A channel lost for good takes the link down: the controller hears deactivated once, no
// timer of the link runs on, and nothing comes up any more.
TEST_F(IsdnSlotTest, AChannelLostForGoodTakesTheLinkDownOnceAndIsNoLongerPolled)
{
    Mux::TestClock clock;
    struct Case {
        char const* what;
        ZGCP::CreateParams params;
        char const* push;  // a frame from the far side; none: the link is established
    } const cases[] = {
        {"primary rate, established", isdnParams(Type::pri, 2), nullptr},
        {"basic rate, asking for its TEI", isdnParams(Type::bri, 2), "feff030f000006ff"},
        {"QSIG, established", qsigParams(false), nullptr},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(create(20, c.params), ok());
        bool const qsig = c.params.ats_qsig_isSelected();
        std::string const device = std::string("device ") + (qsig ? dspdata::kPath : mcc::kPath) + " ";
        std::string const channel = " " + std::to_string(qsig ? dsp.channels().at(0) : mccChannel());
        EXPECT_EQ(console.execute(device + (c.push ? "push" + channel + " " + c.push : "peer" + channel + " on")),
                  c.push ? "ok 1" : "ok");
        if (!c.push) {
            EXPECT_EQ(activate(20), ok());
        }
        settle();
        kinds();
        EXPECT_EQ(console.execute(device + "hangup" + channel), "ok");
        settle();
        EXPECT_EQ(kinds(), (std::vector<std::string>{"isdnLinkInfo", "deactivated"}));
        EXPECT_FALSE(isdn(20).is_open());
        EXPECT_EQ(isdn(20).link().state_text(), std::string("TEI unassigned"));
        // Beyond every timer of the link (a TEI request's five tries take 10 s); user data has
        // no channel to go to.
        std::size_t const tries = log.count("tx full");
        EXPECT_EQ(run(20, testsupport::userDataCommand({8})), fail(ZGCP::ErrorCause::unsupported));
        testsupport::advance(clock, 11000);
        EXPECT_EQ(kinds(), std::vector<std::string>{});
        EXPECT_EQ(log.count("tx full"), tries);
        // Nothing comes up any more: an activate is answered with deactivated at once.
        EXPECT_EQ(activate(20), ok());
        EXPECT_EQ(kinds(), std::vector<std::string>{"deactivated"});
        ASSERT_EQ(destroy(20), ok());
    }
    std::string const once = "20:MCC: read error: end of file\n20:MCC: user data refused: the link's channel has ended\n";
    EXPECT_EQ(linesOf(err.text(), "20:MCC: "), once + once);
}

TEST_F(IsdnSlotTest, AFullChannelHoldsTheLinkUntilItIsWritableAgain)
{
    established();
    IsdnSlot& slot = isdn(20);
    // Without the loop nothing drains the channel: it fills up.
    Packet filler;
    filler.reserve_head(0);
    filler.put8(0x7E);
    int n = 0;
    while (slot.hdlc_transmit(filler) && n < 100000)
        ++n;
    ASSERT_GT(n, 0);
    EXPECT_FALSE(slot.is_ready());
    EXPECT_EQ(run(20, testsupport::userDataCommand({8, 1})), ok());
    settle();
    EXPECT_TRUE(slot.is_ready());
    std::vector<std::string> const sent = mccWritten();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), "000100000801");
}

TEST_F(IsdnSlotTest, AQsigSlotGivesBackTheBChannelsOfItsBSlots)
{
    ASSERT_EQ(create(21, qsigParams(false)), ok());
    int const sig = dsp.channels().at(0);
    for (unsigned b = 1; b <= 3; ++b)
        ASSERT_EQ(create(21 + b, qsigBParams(21, b)), ok());
    EXPECT_EQ(at(22)->GetTransmitChannel(), sig + 1);
    EXPECT_EQ(at(24)->GetReceiveChannel(), sig + 3);
    ASSERT_EQ(create(30, testsupport::trunkParams(1, 5)), ok());
    ASSERT_EQ(connect(30, 24), ok());
    signals.take();

    auto mark = env.mark();
    ASSERT_EQ(destroy(22), ok());
    ASSERT_EQ(destroy(21), ok());
    EXPECT_EQ(journal(mark, dspdata::kPath),
              (std::vector<std::string>{"ioctl /dev/dsp-data delete-b 0 -> 0", "ioctl /dev/dsp-data delete-b 1 -> 0",
                                        "ioctl /dev/dsp-data delete-b 2 -> 0", "close /dev/dsp-data"}));
    // A B slot whose channel went back leaves its connections, and the channel's output is
    // no longer driven.
    EXPECT_EQ(kinds(), std::vector<std::string>{"receiver"});
    EXPECT_EQ(at(24)->GetSource(), nullptr);
    EXPECT_EQ(output(sig + 3).state, board::sim::HalModel::Output::State::disabled);

    // A new QSIG slot under the same number lends nothing the old B slots could take back,
    // nor do they touch its connections.
    ASSERT_EQ(create(21, qsigParams(false)), ok());
    ASSERT_EQ(create(25, qsigBParams(21, 3)), ok());
    ASSERT_EQ(connect(30, 25), ok());
    mark = env.mark();
    ASSERT_EQ(destroy(24), ok());
    EXPECT_EQ(output(sig + 3).input, 37);
    EXPECT_TRUE(journal(mark, dspdata::kPath).empty());
    EXPECT_EQ(linesOf(log.text(), "ats-qsig-b: "), "ats-qsig-b: Can't find signalling slot\n");
    EXPECT_EQ(dsp.lent(dsp.channels().at(0)), (std::map<std::uint32_t, int>{{2, sig + 3}}));
}

// A B channel whose return the driver refuses is owed by its QSIG slot until the device ends,
// which lets go of it.
TEST_F(IsdnSlotTest, AnOwedBChannelGoesWithTheQsigDevice)
{
    ASSERT_EQ(create(21, qsigParams(false)), ok());
    ASSERT_EQ(create(22, qsigBParams(21, 1)), ok());
    env.sim.failRequest(dspdata::kPath, dspdata::kDeleteBChannel, EIO, -1);
    ASSERT_EQ(destroy(22), ok());
    auto const& qsig = dynamic_cast<AtsQsigSlot const&>(*at(21));
    EXPECT_TRUE(qsig.owes(0));
    env.sim.failRead(dspdata::kPath, {board::sim::ReadFault::Kind::eof, 0});
    settle();
    EXPECT_FALSE(qsig.owes(0));
}

}  // namespace
