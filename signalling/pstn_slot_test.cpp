#include "signalling/pstn_slot.h"

#include "base/clock.h"
#include "board/mcc.h"
#include "signalling/lapd_test_support.h"
#include "signalling/signalling_test_support.h"
#include "slots/trunk_slot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace signallingtest;
using Type = ZGCP::IsdnType;
using testsupport::pstnCasParams;
using testsupport::pstnIsdnParams;
using testsupport::ss7Params;

struct PstnSlotTest : SignallingSlotsTest {
    PstnSlotTest() { PstnFactory::instance(); }

    PstnSlot& pstn(unsigned number) { return dynamic_cast<PstnSlot&>(*at(number)); }
    // Slot 20 made and joined to the trunk slot both ways, its first frames and reports taken.
    void joined(ZGCP::CreateParams const& params)
    {
        ASSERT_EQ(create(20, params), ok());
        ASSERT_EQ(connect(7, 20), ok());
        ASSERT_EQ(connect(20, 7), ok());
        settle();
        mccWritten();
        kinds();
    }
    void trunkStatus(unsigned trunk, ACP::TrunkState::NamedNumber state, ACP::TrunkType::NamedNumber type)
    {
        ZGCP::Signal s;
        ACP::TrunkStatus& t = s.select_trunkStatus();
        t.set_trunk(int(trunk));
        t.set_state(state);
        t.set_type(type);
        table.OnSignal(s);
        settle();
    }
};

char const kSio[] = "ffff0100", kSios[] = "ffff0103", kCheckRequest[] = "feff030f000004ff";

// Each kind of link on a controller channel of its type: a primary-rate or SS7 link starts
// on the connect from the trunk, a basic-rate one once both directions are connected, in
// either order; a basic-rate link alone stops when the direction towards the trunk goes; the
// channel goes with the slot.
TEST_F(PstnSlotTest, EachKindRunsItsLinkOnAChannelOfItsType)
{
    struct Case {
        char const* what;
        ZGCP::CreateParams params;
        PstnSlot::Mode mode;
        std::uint32_t type;
        bool slotFirst;  // the direction from the slot to the trunk is connected first
        bool bothWays;
        std::vector<std::string> first;    // written by the link as it starts
        std::vector<std::string> reports;  // signals other than the streams
        std::vector<std::string> stopped;  // when the direction towards the trunk goes
    } const cases[] = {
        {"SS7", ss7Params(2, 1, 2, 3, false), PstnSlot::ss7, mcc::kSs7, false, false, {kSio}, {}, {}},
        {"primary rate, network side", pstnIsdnParams(Type::pri, 2, true), PstnSlot::isdnPri, mcc::kData, false, false,
         {"02017f"}, {}, {}},
        {"basic rate, user side", pstnIsdnParams(Type::bri, 2, false), PstnSlot::isdnBri, mcc::kBri, false, true,
         {"00017f"}, {}, {"isdnLinkInfo", "hdlcLinkInfo", "deactivated"}},
        {"basic rate, network side", pstnIsdnParams(Type::bri, 2, true), PstnSlot::isdnBriNetwork, mcc::kBri, true, true,
         {kCheckRequest}, {"activated"}, {}},
        {"cas: no link", pstnCasParams(2), PstnSlot::ss7, mcc::kSs7, false, false, {}, {}, {}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        auto const mark = env.mark();
        ASSERT_EQ(create(20, c.params), ok());
        EXPECT_EQ(pstn(20).mode(), c.mode);
        EXPECT_EQ(std::string(pstn(20).GetName()), "pstn");
        ASSERT_EQ(c.slotFirst ? connect(20, 7) : connect(7, 20), ok());
        settle();
        EXPECT_EQ(testsupport::mccAllocations(env.sim, mark).size(), c.bothWays ? 0u : 1u);
        ASSERT_EQ(c.slotFirst ? connect(7, 20) : connect(20, 7), ok());
        settle();
        auto const allocations = testsupport::mccAllocations(env.sim, mark);
        ASSERT_EQ(allocations.size(), 1u);
        EXPECT_EQ(allocations[0], (std::vector<std::uint32_t>{c.type, 512, 0, 1, 4}));
        EXPECT_EQ(mccWritten(), c.first);
        EXPECT_EQ(kinds(false), c.reports);
        ASSERT_EQ(disconnect(7), ok());
        settle();
        EXPECT_EQ(kinds(false), c.stopped);
        ASSERT_EQ(destroy(20), ok());
        EXPECT_EQ(mccChannel(), -1);
        kinds();
    }
}

// A slot that says it stands for a time slot beyond a trunk's 32.
struct WideSlot : Slot {
    unsigned int GetTrunk() override { return 1; }
    unsigned int GetTrunkTimeSlot() override { return 40; }
    char const* GetName() const override { return "wide"; }
};

TEST_F(PstnSlotTest, AnSs7OrPrimaryRateLinkIsJoinedOnlyToATrunkTimeSlot)
{
    ASSERT_EQ(create(20, ss7Params(2, 1, 2, 3, false)), ok());
    ASSERT_EQ(create(21, pstnIsdnParams(Type::bri, 2, false)), ok());
    ASSERT_EQ(create(8, bri(5, 0)), ok());
    ASSERT_EQ(create(9, ext(100, 101)), ok());
    struct Case {
        char const* what;
        unsigned from, to;
        bool accepted;
        char const* logged;
    } const cases[] = {
        {"a BRI line's trunk is above 3", 8, 20, false, "pstn-slot: invalid trunk number: 5\n"},
        {"a slot that is no trunk", 9, 20, false, "pstn-slot: invalid trunk number: 4294967295\n"},
        {"a basic-rate link makes no such check", 9, 21, true, ""},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::CaptureStream e(std::cerr);
        EXPECT_EQ(connect(c.from, c.to), c.accepted ? ok() : fail(ZGCP::ErrorCause::connectFail));
        EXPECT_EQ(linesOf(e.text(), "pstn-slot: "), c.logged);
    }
    WideSlot wide;
    testsupport::CaptureStream e(std::cerr);
    EXPECT_FALSE(pstn(20).IHwConnectReceiver(wide));
    EXPECT_EQ(e.text(), "pstn-slot: invalid timeslot: 40\n");
    EXPECT_EQ(pstn(20).channel().params().tdm, -1);
}

// A channel that breaks, or cannot be opened again, takes the link down: the controller hears
// deactivated once, whatever the link reports itself, no timer of the link runs on, and the
// next activate starts over.
TEST_F(PstnSlotTest, AFailedChannelTakesTheLinkDownOnce)
{
    Mux::TestClock clock;
    struct Case {
        char const* what;
        ZGCP::CreateParams params;
        std::vector<std::uint8_t> establish;  // what the far side sends first, if anything
        std::vector<std::string> up;          // and what that reports
        std::vector<std::string> reports;
        char const* restart;                  // the start of the link's first frame when activated again
    } const cases[] = {
        {"SS7, aligning", ss7Params(2, 1, 2, 3, true), {}, {},
         {"ss7LinkInfo", "hdlcLinkInfo", "ss7LinkInfo", "deactivated"}, kSio},
        {"primary rate, established", pstnIsdnParams(Type::pri, 2, true), {0x02, 0x01, 0x73},
         {"isdnLinkInfo", "activated"}, {"isdnLinkInfo", "hdlcLinkInfo", "deactivated"}, "02017f"},
        {"basic rate, user side, asking for its TEI", pstnIsdnParams(Type::bri, 2, false),
         {0xfe, 0xff, 0x03, 0x0f, 0x00, 0x00, 0x06, 0xff}, {"isdnLinkInfo", "hdlcLinkInfo", "deactivated"},
         {"hdlcLinkInfo", "deactivated"}, "fcff030f"},
        {"basic rate, network side", pstnIsdnParams(Type::bri, 2, true), {}, {}, {"hdlcLinkInfo", "deactivated"},
         kCheckRequest},
    };
    std::vector<std::pair<char const*, std::function<void(PstnSlotTest&)>>> const failures = {
        {"the line ends", [](PstnSlotTest& t) { ASSERT_TRUE(t.env.mcc.hangUp(t.mccChannel())); }},
        {"the channel does not open again",
         [](PstnSlotTest& t) {
             testsupport::failMcc(t.env.sim, "open", EMFILE);
             EXPECT_EQ(t.activate(20), ok());
         }},
    };
    for (Case const& c : cases) {
        for (auto const& failure : failures) {
            SCOPED_TRACE(std::string(c.what) + ", " + failure.first);
            joined(c.params);
            if (!c.establish.empty()) {
                mccPush(c.establish);
                EXPECT_EQ(kinds(false), c.up);
            }
            failure.second(*this);
            settle();
            EXPECT_EQ(kinds(false), c.reports);
            EXPECT_EQ(mccChannel(), -1);
            // Beyond every timer of the links (a TEI request's five tries take 10 s): only
            // the slot's figures come, and nothing is tried on the closed channel.
            std::size_t const tries = log.count("tx full");
            testsupport::advance(clock, 11000);
            std::vector<std::string> later = kinds(false);
            later.erase(std::remove_if(later.begin(), later.end(),
                                       [](std::string const& k) { return k.find("LinkInfo") != std::string::npos; }),
                        later.end());
            EXPECT_EQ(later, std::vector<std::string>{});
            EXPECT_EQ(log.count("tx full"), tries);
            EXPECT_EQ(activate(20), ok());
            settle();
            std::vector<std::string> const sent = mccWritten();
            EXPECT_EQ((sent.empty() ? "" : sent.front()).rfind(c.restart, 0), 0u);
            ASSERT_EQ(destroy(20), ok());
        }
    }
}

// States of the slot's E1 trunk reach its SS7 link, each change once.
TEST_F(PstnSlotTest, TrunkAlarmsOfItsTrunkReachTheSs7LinkOnce)
{
    joined(ss7Params(2, 1, 2, 3, false));
    std::vector<std::string> const down = {"ss7LinkInfo", "hdlcLinkInfo", "ss7LinkInfo", "deactivated"};
    struct Step {
        char const* what;
        bool activateFirst;
        unsigned trunk;
        ACP::TrunkState::NamedNumber state;
        std::vector<std::string> sent;
        std::vector<std::string> reports;
        ACP::TrunkType::NamedNumber type = ACP::TrunkType::e1;
    } const steps[] = {
        {"unknown, the state the slot starts with", false, 1, ACP::TrunkState::unknown, {}, {}},
        {"another trunk's alarm", false, 0, ACP::TrunkState::lossBF, {}, {}},
        {"the alarm of the BRI line numbered alike", false, 1, ACP::TrunkState::lossCarrier, {}, {}, ACP::TrunkType::bri},
        {"its trunk's alarm: the link goes idle", false, 1, ACP::TrunkState::lossBF, {kSios}, down},
        {"the same alarm again is not passed on", true, 1, ACP::TrunkState::lossBF, {kSio}, {}},
        {"another alarm is", false, 1, ACP::TrunkState::ais, {kSios}, down},
        {"the trunk's return restarts nothing", false, 1, ACP::TrunkState::normal, {}, {}},
    };
    for (Step const& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.activateFirst) {
            EXPECT_EQ(activate(20), ok());
        }
        trunkStatus(s.trunk, s.state, s.type);
        EXPECT_EQ(mccWritten(), s.sent);
        EXPECT_EQ(kinds(false), s.reports);
    }
}

// Without an SS7 link the SS7 requests are unsupported; a cas slot, which has no link, takes
// user data and sends nothing, and takes it again; a LAPD link's congestion goes up at once.
TEST_F(PstnSlotTest, RequestsOfOtherKindsAndCongestion)
{
    for (ZGCP::CreateParams const& params : {pstnIsdnParams(Type::pri, 2, false), pstnCasParams(2)}) {
        joined(params);
        EXPECT_EQ(run(20, testsupport::ss7BsnCommand()), fail(ZGCP::ErrorCause::unsupported));
        EXPECT_EQ(run(20, testsupport::ss7LogCommand(std::vector<bool>(8, true))), fail(ZGCP::ErrorCause::unsupported));
        ASSERT_EQ(destroy(20), ok());
    }
    joined(pstnCasParams(2));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(run(20, testsupport::userDataCommand({8, 1})), ok());
    EXPECT_TRUE(mccWritten().empty());
    ASSERT_EQ(destroy(20), ok());

    ASSERT_EQ(create(20, pstnIsdnParams(Type::pri, 2, false)), ok());
    for (int i = 0; i < 89; ++i)
        EXPECT_EQ(run(20, testsupport::userDataCommand({8, 1, 2, 3})), ok());
    ASSERT_EQ(signals.signals.size(), 1u);
    EXPECT_EQ(signals.signals[0].asValueNotation(), "ioctl : isdnLinkStatus : congested");
}

// The network side of a bus holds seven frames outstanding and 128 messages waiting for a
// terminal: the next message is refused (insufficientResources) and what waits is kept; one
// for a call no terminal holds is unsupported. As the terminal acknowledges, every message
// taken reaches it once and in order, the one sent again after the refusal too.
TEST_F(PstnSlotTest, ABusTerminalsFullWaitQueueRefusesTheNewMessage)
{
    using namespace lapdtest;
    Mux::TestClock clock;
    joined(pstnIsdnParams(Type::bri, 2, true));
    mccPush(ours(teiFrame(0x1234, 1, 127)));
    mccPush(ours(iframe(0, 0, false, {0x08, 0x01, 0x81, 0x07}, 64)));  // TEI 64 answers call 1
    mccWritten();
    ASSERT_EQ(kinds(false), std::vector<std::string>{"userData"});
    auto message = [](unsigned k) { return Bytes{0x08, 0x01, 0x01, 0x4D, std::uint8_t(k >> 8), std::uint8_t(k)}; };
    auto data = [&](Bytes const& m) { return run(20, testsupport::userDataCommand(std::vector<char>(m.begin(), m.end()))); };
    std::vector<std::string> expected;
    auto take = [&](unsigned k) {
        EXPECT_EQ(data(message(k)), ok()) << k;
        expected.push_back(board::sim::frameText(iframe(k % 128, 1, true, message(k), 64)));
    };
    unsigned k = 0;
    for (; k < ISDN::LAPD_NT_user::kWindow + ISDN::LAPD_NT_user::kWaitLimit; ++k)
        take(k);
    EXPECT_EQ(data(message(k)), fail(ZGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(data({0x08, 0x01, 0x02, 0x4D}), fail(ZGCP::ErrorCause::unsupported));
    std::vector<std::string> sent = mccWritten();
    EXPECT_EQ(sent.size(), ISDN::LAPD_NT_user::kWindow);
    // The terminal acknowledges all that came; after the first time, the message goes again.
    auto acknowledge = [&] {
        mccPush(ours(supervisory(0, false, unsigned(sent.size()) % 128, false, 64)));
        std::vector<std::string> const more = mccWritten();
        sent.insert(sent.end(), more.begin(), more.end());
    };
    acknowledge();
    take(k);
    for (unsigned round = 0; round < 40 && sent.size() < expected.size(); ++round)
        acknowledge();
    EXPECT_EQ(sent, expected);
}

}  // namespace
