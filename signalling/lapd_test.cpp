#include "signalling/lapd.h"

#include "signalling/lapd_test_support.h"
#include "tests/capture.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace lapdtest;

TEST(Lapd, ExchangesDataAndReleases)
{
    Bench b;
    run(b, dataScenario());
}

TEST(Lapd, RecoversAndGivesUp)
{
    Bench b;
    run(b, recoveryScenario());
}

TEST(Lapd, HandlesPeerFramesByState)
{
    Bench b;
    run(b, peerFramesScenario());
}

// Congestion rises above 88 queued messages and falls at 64 or fewer; beyond 128 waiting
// messages the next ones are discarded.
TEST(Lapd, QueueThresholds)
{
    Bench b;
    for (unsigned n = 1; n <= 130; ++n) {
        b.down({0x10, 0x11});
        EXPECT_EQ(n == 89 ? std::vector<std::string>{"congested"} : std::vector<std::string>{}, b.take()) << n;
    }
    ACP::IsdnLinkInfo i = b.info();
    EXPECT_EQ(128, i.get_queueOut().getValue());
    EXPECT_EQ(2, i.get_outOverflows().getValue());
    EXPECT_EQ(130, i.get_msuTxCount().getValue());

    b.peer(sabme());
    b.take();
    std::vector<Bytes> sent = b.channel.take();
    while (b.info().get_queueOut().getValue() > 0) {
        unsigned const vs = unsigned(b.info().get_vs().getValue());
        b.peer(supervisory(0, false, vs, false));
        int const queued = b.info().get_queueOut().getValue();
        EXPECT_EQ(queued <= 64, b.link->GetFlowStatus() == ISDN::LAPD::FlowStatus::normal) << queued;
        std::vector<std::string> const events = b.take();
        EXPECT_TRUE(events.empty() || events == std::vector<std::string>{"normal"}) << queued;
    }
}

// A refused I-frame stays queued until the channel is ready; so does a refused pending RR.
TEST(Lapd, WaitsForTheChannel)
{
    Bench b;
    b.peer(sabme());
    b.channel.take();
    b.channel.refusing = true;
    testsupport::CaptureStream log(std::clog);
    b.down({0xA0});
    b.peer(iframe(0, 0, false));
    EXPECT_NE(std::string::npos, log.text().find("tx full")) << log.text();
    ACP::IsdnLinkInfo const i = b.info();
    EXPECT_EQ(1, i.get_queueOut().getValue());
    EXPECT_TRUE(bool(i.get_queuedUpRQ()));
    EXPECT_TRUE(bool(i.get_ackRQ()));

    b.channel.ready();
    EXPECT_EQ((std::vector<Bytes>{sent_iframe(0, 1, {0xA0})}), b.channel.take());
    EXPECT_FALSE(bool(b.info().get_ackRQ()));
}

// T200 and T203 share one timer entry: whichever runs is the one that expires, whatever
// order RR and RNR start and stop them in.
TEST(Lapd, TimersInterleavedWithRrAndRnr)
{
    Bench b;
    b.peer(sabme());
    Bytes const enquiry = {0x00, 0x01, 0x01, 0x01};
    struct Timers {
        char const* what;
        std::function<void(Bench&)> act;
        std::vector<Bytes> sent;
        bool t200, t203;
    };
    Timers const steps[] = {
        {"established: T203", [](Bench&) {}, {{0x02, 0x01, 0x73}}, false, true},
        {"RNR: the peer is busy, T200", peer(supervisory(1, false, 0, false)), {}, true, false},
        {"a message waits for the busy peer", [](Bench& x) { x.down({0xA0}); }, {}, true, false},
        {"T200 expires: enquiry", wait(ISDN::LAPD::kT200), {enquiry}, true, false},
        {"RR F=1: the message goes, T200", peer(supervisory(0, false, 0, true)), {sent_iframe(0, 0, {0xA0})}, true, false},
        {"RR poll acknowledging all: T203", peer(supervisory(0, true, 1, true)), {{0x02, 0x01, 0x01, 0x01}}, false, true},
        {"T203 expires: enquiry, T200", wait(ISDN::LAPD::kT203), {enquiry}, true, false},
        {"RNR F=1 ends recovery: T200", peer(supervisory(1, false, 1, true)), {}, true, false},
        {"RR: T203", peer(supervisory(0, false, 1, false)), {}, false, true},
        {"T203 expires: enquiry", wait(ISDN::LAPD::kT203), {enquiry}, true, false},
    };
    for (Timers const& s : steps) {
        s.act(b);
        EXPECT_EQ(s.sent, b.channel.take()) << s.what;
        ACP::IsdnLinkInfo const i = b.info();
        EXPECT_EQ(s.t200, bool(i.get_t200run())) << s.what;
        EXPECT_EQ(s.t203, bool(i.get_t203run())) << s.what;
    }
}

// On the network side the C/R bit is 1 in the link's commands and 0 in its responses.
TEST(Lapd, NetworkSideSetsTheCommandBit)
{
    Bench b(ISDN::Side::network);
    b.peer(ours(sabme()));
    EXPECT_EQ(6, b.state());
    b.activate();
    EXPECT_EQ((std::vector<Bytes>{{0x00, 0x01, 0x73}, {0x02, 0x01, 0x7F}}), b.channel.take());
}

// What each log level writes.
TEST(Lapd, LogLevels)
{
    struct Case {
        unsigned level;
        std::vector<char const*> present;
        std::vector<char const*> absent;
    };
    Case const cases[] = {
        {0, {"LAPD[7] (Multiple frame established): T203.\n"}, {"change state", "rx:", "DL-ESTABLISH"}},
        {2,
         {"LAPD[7] : change state \"TEI assigned\" -> \"Multiple frame established\"\n",
          "LAPD[7] (Timer recovery): DL-RELEASE\n"},
         {"rx:", "change state \"Multiple frame established\" -> \"Timer recovery\""}},
        {3,
         {"LAPD[7] (TEI assigned): rx: 02 01 7F\nframe network->user SFrame tei = 0 (7F )\n",
          "tx:  02 01 73\nframe user->network SFrame tei = 0 (73 )\n"},
         {"SABME command"}},
        {4, {"SABME command\n", "tx_enquiry, ownBusy=0\n", "\"Multiple frame established\" -> \"Timer recovery\""}, {}},
    };
    for (Case const& c : cases) {
        Bench b(ISDN::Side::user, false, c.level);
        b.link->set_linkno(7);
        testsupport::CaptureStream log(std::clog);
        b.peer(sabme());
        b.wait(ISDN::LAPD::kT203);
        b.deactivate();
        for (char const* text : c.present)
            EXPECT_NE(std::string::npos, log.text().find(text)) << c.level << ": " << text << "\n" << log.text();
        for (char const* text : c.absent)
            EXPECT_EQ(std::string::npos, log.text().find(text)) << c.level << ": " << text;
    }
}

}  // namespace
