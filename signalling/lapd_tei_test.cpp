#include "signalling/lapd.h"

#include "signalling/lapd_test_support.h"
#include "tests/capture.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

namespace {

using namespace lapdtest;

TEST(LapdTei, AssignsChecksAndRemoves)
{
    std::vector<unsigned> const ri = seedRi(25, 8);
    Bench b(ISDN::Side::user, true);
    run(b, teiScenario(ri));
}

// A TEI given from above in state 2 establishes: T200 takes the shared timer entry from T202,
// whose flag goes with it, so no flag stays set without an expiry.
TEST(LapdTei, AssignmentFromAboveLeavesOneTimer)
{
    Bench b(ISDN::Side::user, true);
    b.peer(teiFrame(0, 6, 127));
    b.activate();
    b.channel.take();
    b.take();
    b.link->mdl_assign(70);
    std::ostringstream dump;
    b.link->status()->out(dump);
    EXPECT_NE(std::string::npos, dump.str().find("timers: T200 running, T202 stopped, T203 stopped")) << dump.str();
    EXPECT_EQ(status({"trying to stop T203 while T202 running", "trying to start T200 while T202 running"}), b.take());
    b.wait(ISDN::LAPD::kT200);
    EXPECT_EQ((std::vector<Bytes>{{0x00, 0x8D, 0x7F}, {0x00, 0x8D, 0x7F}}), b.channel.take());
    EXPECT_EQ(std::vector<std::string>{}, b.take());
}

// An identity assigned that gives the group TEI is no assignment: the link keeps asking, and
// the next assignment of a TEI of its own is taken.
TEST(LapdTei, TheGroupTeiIsNotTakenAsTheLinksOwn)
{
    std::vector<unsigned> const ri = seedRi(25, 3);
    Bench b(ISDN::Side::user, true);
    b.peer(teiFrame(0, 6, 127));
    b.activate();
    EXPECT_EQ(std::vector<Bytes>{ours(teiFrame(ri[0], 1, 127))}, b.channel.take());
    b.peer(teiFrame(ri[0], 2, 127));
    EXPECT_EQ(std::vector<Bytes>{}, b.channel.take());
    EXPECT_EQ(int(ISDN::LAPDFullState::establishAwaitingTei), b.state());
    b.wait(ISDN::LAPD::kT202);
    EXPECT_EQ(std::vector<Bytes>{ours(teiFrame(ri[1], 1, 127))}, b.channel.take());
    b.peer(teiFrame(ri[1], 2, 66));
    EXPECT_EQ((std::vector<Bytes>{{0x00, 0x85, 0x7F}}), b.channel.take());
    EXPECT_EQ(int(ISDN::LAPDFullState::awaitingEstablishment), b.state());
}

// Figures change only when something carried changes; the dumps show each counter and flag
// in its place.
TEST(LapdTei, Reports)
{
    Bench b(ISDN::Side::user, true);
    ACP::IsdnLinkInfo info;
    EXPECT_TRUE(b.link->GetInfo(info));
    EXPECT_FALSE(b.link->GetInfo(info));
    EXPECT_EQ(ACP::LAPDState::tei_assigned, info.get_lapdState());
    EXPECT_TRUE(bool(info.get_establishable()));

    std::ostringstream state;
    b.link->status()->out(state);
    EXPECT_EQ("current status"
              "\n   - state: TEI assigned"
              "\n   - self: TEI=0, SAPI=0, busy=0"
              "\n   - peer: TEI=0, SAPI=0, busy=0"
              "\n   - counters: VS=0, VA=0, VR=0, RC=0"
              "\n   - internal signals: AckRQ=0, RetrRQ=0, QueuedUp=0"
              "\n   - flags: L3Initiated=0, Establishable=1, RejectException=0"
              "\n   - timers: T200 stopped, T202 stopped, T203 stopped",
              state.str());

    b.peer(sabme());
    EXPECT_TRUE(b.link->GetInfo(info));
    EXPECT_EQ(ACP::LAPDState::multiple_frame_established, info.get_lapdState());
    EXPECT_FALSE(b.link->GetInfo(info));

    b.wait(ISDN::LAPD::kT203);  // T203, then three T200 and the SABMEs' three and a last one
    b.wait(8 * ISDN::LAPD::kT200);
    b.peer(teiFrame(0, 6, 127));
    b.wait(5 * ISDN::LAPD::kT202);
    EXPECT_TRUE(b.link->GetInfo(info));
    EXPECT_EQ(1, info.get_mT203().getValue());
    EXPECT_EQ(8, info.get_mT200().getValue());

    testsupport::CaptureStream out(std::cout);
    b.link->show_stat();
    EXPECT_NE(std::string::npos, out.text().find(" - current state: \n   - state: TEI unassigned")) << out.text();
    EXPECT_NE(std::string::npos, out.text().find(" - statistics: \n   - timers expire count: T200: 8, T202: 5, T203: 1"
                                                 "\n   - errors: 0, retrains: 0\n   - queue overflows: out: 0, ack: 0\n"))
        << out.text();
}

}  // namespace
