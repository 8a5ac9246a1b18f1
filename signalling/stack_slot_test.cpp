#include "signalling/stack_slot.h"

#include "asn1/per_common.h"
#include "base/clock.h"
#include "signalling/hdlc_slot.h"
#include "signalling/isdn_slot.h"
#include "signalling/pstn_slot.h"
#include "signalling/signalling_test_support.h"
#include "tests/pool_drain.h"

#include <gtest/gtest.h>

#include <algorithm>

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

// A message of the far end's goes to the controller as userData while a signal carries it; one
// of the coder's fragment length or longer is dropped with a line.
TEST_F(LinkSlotsTest, AMessageLongerThanASignalCarriesIsDroppedWithALine)
{
    PstnFactory::instance();
    IsdnFactory::instance();
    struct Case {
        char const* what;
        ZGCP::CreateParams params;
        bool fromTrunk;  // up on the connect from the trunk and the far end's UA
    } const cases[] = {
        {"ISDN, primary rate", testsupport::isdnParams(Type::pri, 2), false},
        {"QSIG", testsupport::qsigParams(false), false},
        {"PSTN, primary rate", testsupport::pstnIsdnParams(Type::pri, 2, false), true},
    };
    std::string const dropped = " octets from the link is longer than a signal carries, dropped\n";
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        bool const qsig = c.params.ats_qsig_isSelected();
        ASSERT_EQ(create(20, c.params), ok());
        if (c.fromTrunk) {
            EXPECT_EQ(connect(7, 20), ok());
            settle();
        }
        // The PSTN slot's channel opens with the connect.
        int const channel = qsig ? dsp.channels().at(0) : mccChannel();
        board::sim::LineDevice& device = qsig ? static_cast<board::sim::LineDevice&>(dsp) : env.mcc;
        auto push = [&](std::vector<std::uint8_t> const& frame) {
            device.command({"push", std::to_string(channel), board::sim::frameText(frame)});
            settle();
        };
        if (c.fromTrunk) {
            push({0x00, 0x01, 0x73});
        } else {
            device.line(channel)->peer(true);
            EXPECT_EQ(activate(20), ok());
            settle();
        }
        kinds();
        std::uint8_t ns = 0;
        for (std::size_t n : {ASN1::per::FragmentLength - 1, ASN1::per::FragmentLength}) {
            std::vector<std::uint8_t> frame = {0x02, 0x01, std::uint8_t(ns++ << 1), 0x00};
            frame.resize(4 + n, 0x7B);
            std::size_t const lines = err.count(dropped);
            push(frame);
            bool const carried = n < ASN1::per::FragmentLength;
            EXPECT_EQ(kinds(false), carried ? std::vector<std::string>{"userData"} : std::vector<std::string>{});
            EXPECT_EQ(err.count(dropped), lines + (carried ? 0 : 1));
        }
        ASSERT_EQ(destroy(20), ok());
        kinds();
    }
}

// What a link drops is refused with an error, and counted and logged by the link as every
// message handed down; the link goes on. A message of a length the link sends none of (an SS7
// MSU of fewer than 3 or more than 273 octets, an empty LAPD message, a bus message without a
// call reference and a message type), an MSU to a link out of service and a bus message for a
// call no terminal holds are unsupported; while the link's own queue is full (no answer from
// its peer), the next message is insufficientResources until the peer takes what waits.
TEST_F(LinkSlotsTest, DataTheLinkWouldDropIsRefusedAndTheLinkGoesOn)
{
    Mux::TestClock clock;
    PstnFactory::instance();
    IsdnFactory::instance();
    using Bytes = std::vector<std::uint8_t>;
    enum Up { inService, aligning, activated, joinedBothWays };
    struct Case {
        char const* what;
        ZGCP::CreateParams params;
        Up up;
        std::vector<std::size_t> refused, taken;
        unsigned queue;  // messages the link queues without an answer (0: not tried)
        unsigned full;   // refused then
        Bytes answer;    // from the peer: takes what waits
        std::vector<std::pair<char const*, unsigned>> lines;  // the link's, for what it dropped
        std::vector<std::string> figures;                     // in its last report
    } const cases[] = {
        {"MTP level 2", testsupport::ss7Params(2, 1, 2, 3, true), inService, {1, 2, 274, 300}, {3, 273},
         SS7::SLC::kRtbLimit + SS7::SLC::kTbAccepts, 3, {0xFE, 0xFF, 0x00},
         {{"discard msu of ", 4}, {"no space in TB buffer, TB=200 RTB=127 ignoring msu: ", 3}},
         {"overflowCntr 3"}},
        {"MTP level 2 out of service, then in service", testsupport::ss7Params(2, 1, 2, 3, true), aligning, {3, 273},
         {3}, 0, 0, {}, {{" mtp tx", 3}}, {}},
        {"LAPD, primary rate", testsupport::pstnIsdnParams(Type::pri, 2, false), activated, {0}, {1}, 128, 2,
         {0x02, 0x01, 0x73}, {{"discard outgoing message: buffer overflow", 2}},
         {"msuTxCount 132", "outOverflows 2"}},
        {"LAPD, network side of a bus", testsupport::pstnIsdnParams(Type::bri, 2, true), joinedBothWays, {0, 3, 4}, {},
         0, 0, {}, {}, {}},
        {"ISDN", testsupport::isdnParams(Type::pri, 2), activated, {0, 0}, {1}, 0, 0, {}, {}, {"msuTxCount 3"}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        auto data = [&](std::size_t n) { return run(20, testsupport::userDataCommand(std::vector<char>(n, 0x7B))); };
        auto inServiceNow = [&] {
            mccPush({0xFF, 0xFF, 0x01, SS7::SLC::SIE});
            testsupport::advance(clock, 600);
            mccPush({0xFF, 0xFF, 0x00});
        };
        ASSERT_EQ(create(20, c.params), ok());
        if (c.up == activated) {
            EXPECT_EQ(activate(20), ok());
        } else {
            EXPECT_EQ(connect(7, 20), ok());
            EXPECT_EQ(c.up == joinedBothWays ? connect(20, 7) : ok(), ok());
        }
        settle();
        if (c.up == aligning) {
            EXPECT_EQ(run(20, testsupport::ss7LogCommand({false, false, false, true, false, false, false, false})), ok());
        }
        if (c.up == inService)
            inServiceNow();
        mccWritten();
        std::vector<std::size_t> lines;
        for (auto const& line : c.lines)
            lines.push_back(err.count(line.first) + log.count(line.first));
        for (std::size_t n : c.refused)
            EXPECT_EQ(data(n), fail(ZGCP::ErrorCause::unsupported)) << n << " octets";
        if (c.up == aligning)
            inServiceNow();
        for (std::size_t n : c.taken)
            EXPECT_EQ(data(n), ok()) << n << " octets";
        if (c.queue != 0) {
            for (std::size_t i = c.taken.size(); i < c.queue; ++i)
                ASSERT_EQ(data(4), ok()) << i;
            for (unsigned i = 0; i < c.full; ++i)
                EXPECT_EQ(data(4), fail(ZGCP::ErrorCause::insufficientResources));
            mccPush(c.answer);
            EXPECT_EQ(data(4), ok());
            EXPECT_FALSE(mccWritten().empty()) << "the link sends";
        }
        for (std::size_t i = 0; i < c.lines.size(); ++i)
            EXPECT_EQ(err.count(c.lines[i].first) + log.count(c.lines[i].first), lines[i] + c.lines[i].second)
                << c.lines[i].first;
        // The figures as the controller reads them: when the link goes down, and every 3000 ms.
        signals.take();
        EXPECT_EQ(deactivate(20), ok());
        testsupport::advance(clock, 3000);
        std::string report;
        for (ZGCP::Signal const& s : signals.signals)
            if (s.ioctl_isSelected() && (s.get_ioctl().isdnLinkInfo_isSelected() || s.get_ioctl().ss7LinkInfo_isSelected()))
                report = s.asValueNotation();
        for (std::string const& figure : c.figures)
            EXPECT_NE(report.find(figure + ","), std::string::npos) << figure << " in " << report;
        if (c.params.isdn_isSelected()) {
            std::size_t const empty = std::size_t(std::count(c.refused.begin(), c.refused.end(), 0u));
            EXPECT_EQ(dynamic_cast<IsdnSlot&>(*at(20)).link().statistics().txEmpty, empty);
        }
        ASSERT_EQ(destroy(20), ok());
        kinds();
    }
}

// Every kind of link with the packet pool empty under it: the controller's data is refused
// (insufficientResources, one line for the run of refusals), a frame from the peer is dropped
// and a frame the link would build is not sent, each with a line, and nothing ends the
// process. Once packets are free again the link goes on: its timers or the peer's next frame
// get its answer out, and the controller's data is taken where the link carries it (an SS7 link
// still aligning and a bus without a terminal carry none).
TEST_F(LinkSlotsTest, AnEmptyPoolRefusesDataDropsFramesAndTheLinkGoesOn)
{
    Mux::TestClock clock;
    PstnFactory::instance();
    IsdnFactory::instance();
    HdlcSlotFactory::instance();
    using Bytes = std::vector<std::uint8_t>;
    enum Up { activated, teiRemoved, joinedFromTrunk, joinedBothWays };
    struct Case {
        char const* what;
        ZGCP::CreateParams params;
        Up up;
        unsigned wait;  // the protocol's retry, run out with the pool empty and again after
        Bytes peer;     // pushed with the pool empty and again after
        std::string answer;
        bool carried;  // the controller's data, once packets are free
    } const cases[] = {
        {"LAPD, user side", testsupport::isdnParams(Type::pri, 2), activated, ISDN::LAPD::kT200, {0x00, 0x01, 0x73},
         "000100000801", true},
        {"LAPD, TEI management", testsupport::isdnParams(Type::bri, 3), teiRemoved, ISDN::LAPD::kT202, {},
         "fcff030f", true},
        {"LAPD, network side of a bus", testsupport::pstnIsdnParams(Type::bri, 2, true), joinedBothWays,
         ISDN::LAPD_NT::kCheckCycle, {}, "feff030f000004ff", false},
        {"MTP level 2", testsupport::ss7Params(2, 1, 2, 3, false), joinedFromTrunk, 0, {0xFF, 0xFF, 0x01, 0x00},
         "ffff0101", false},
        {"HDLC link", testsupport::hdlcParams(2, 0x1234), joinedFromTrunk, 0, {}, "12340001", true},
    };
    std::string const refused = ": the link queues hold every packet they may, data refused until they send\n";
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        bool const hdlc = c.params.hdlcParams_isSelected();
        auto data = [&] {
            return run(20, hdlc ? testsupport::hdlcPackagesCommand({{1}}) : testsupport::userDataCommand({8, 1, 1, 0x7B}));
        };
        auto dropped = [&] { return err.count("no packet for") + log.count("no packet for"); };
        ASSERT_EQ(create(20, c.params), ok());
        if (c.up == activated) {
            EXPECT_EQ(activate(20), ok());
        } else if (c.up == teiRemoved) {
            mccPush({0xFE, 0xFF, 0x03, 0x0F, 0x00, 0x00, 0x06, 0xFF});
        } else {
            EXPECT_EQ(connect(7, 20), ok());
            EXPECT_EQ(c.up == joinedBothWays ? connect(20, 7) : ok(), ok());
        }
        settle();
        mccWritten();
        std::size_t const lines = err.count(refused), drops = dropped();
        {
            testsupport::PoolDrain drain;
            EXPECT_EQ(data(), fail(ZGCP::ErrorCause::insufficientResources));
            EXPECT_EQ(data(), fail(ZGCP::ErrorCause::insufficientResources));
            mccPush(c.peer.empty() ? Bytes{0x12, 0x34, 0x00} : c.peer);
            testsupport::advance(clock, c.wait);
            EXPECT_EQ(mccWritten(), std::vector<std::string>{});
        }
        EXPECT_EQ(err.count(refused), lines + 1);
        EXPECT_GT(dropped(), drops);
        EXPECT_EQ(data(), c.carried ? ok() : fail(ZGCP::ErrorCause::unsupported));
        if (!c.peer.empty())
            mccPush(c.peer);
        testsupport::advance(clock, c.wait);
        std::vector<std::string> const sent = mccWritten();
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.front().rfind(c.answer, 0), 0u) << sent.front() << " of " << sent.size();
        ASSERT_EQ(destroy(20), ok());
        kinds();
    }
}

}  // namespace
