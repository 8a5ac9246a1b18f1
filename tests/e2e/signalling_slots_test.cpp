// The signalling slots on the daemon running on the simulated board: ISDN D channels and a
// QSIG channel whose far end is the board's scripted Q.921 peer, and a raw HDLC link, each
// joined to a time slot of an E1 trunk.

#include "tests/e2e/signalling_e2e.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace signallinge2e;

class SignallingSlots : public SignallingE2E {
protected:
    // The link state in the link figures of an isdnLinkInfo signal.
    static std::string linkState(std::string const& text)
    {
        auto at = text.find("lapdState ");
        return text.find(" ioctl isdnLinkInfo") == std::string::npos || at == std::string::npos
                   ? text
                   : text.substr(at + 10, text.find_first_of(",} ", at + 10) - at - 10);
    }
};

TEST_F(SignallingSlots, IsdnSlotRunsTheLinkWithThePeerAndCarriesLayerThreeBothWays)
{
    struct Case {
        ZGCP::IsdnType::NamedNumber type;
        char const* channels;  // the controller's channels in use by type
    } const cases[] = {
        {ZGCP::IsdnType::pri, "data=1/16 bri=0/8"},
        {ZGCP::IsdnType::bri, "data=0/16 bri=1/8"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.channels);
        ASSERT_EQ(on(20, create(testsupport::isdnParams(c.type, 2))), "success");
        EXPECT_EQ(board->command("dump /dev/mcc/ctl").rfind(std::string("ok ") + c.channels, 0), 0u);
        std::string const ts = channels(kMcc).at(0);
        EXPECT_EQ(board->command("device /dev/mcc/ctl peer " + ts + " on"), "ok");
        joinTrunk(20, ts, ts);
        EXPECT_EQ(output(37).rfind("ok <" + ts + " ", 0), 0u) << output(37);

        // The peer answers the SABME: the figures, then activated.
        EXPECT_EQ(on(20, activate()), "success");
        EXPECT_EQ(linkState(next()), "multiple-frame-established");
        EXPECT_EQ(next(), "slot=20 activated");
        EXPECT_EQ(on(20, testsupport::userDataCommand({8, 1, 2})), "success");
        EXPECT_EQ(written(kMcc, ts, 2), (std::vector<std::string>{"00017f", "00010000080102"}));
        EXPECT_EQ(board->command("device /dev/mcc/ctl peer " + ts + " send 080203"), "ok");
        EXPECT_EQ(next(), "slot=20 userData 080203");

        // Released with DISC, answered with UA.
        EXPECT_EQ(on(20, deactivate()), "success");
        EXPECT_EQ(linkState(next()), "tei-assigned");
        EXPECT_EQ(next(), "slot=20 deactivated");
        EXPECT_EQ(written(kMcc, ts, 2), (std::vector<std::string>{"02010102", "000153"}));
        EXPECT_EQ(on(20, destroy()), "success");
        EXPECT_TRUE(DaemonLauncher::waitFor([&] { return channels(kMcc).empty(); }));
    }
}

TEST_F(SignallingSlots, QsigSlotRunsOnTheDspDataDeviceAndLendsItsBChannels)
{
    ASSERT_EQ(on(30, create(testsupport::qsigParams(true))), "success");
    std::string const sig = channels(kDspData).at(0);
    int const first = std::stoi(sig);
    ASSERT_EQ(on(31, create(testsupport::qsigBParams(30, 1))), "success");
    ASSERT_EQ(on(32, create(testsupport::qsigBParams(30, 3))), "success");
    std::string const b0 = std::to_string(first + 1), b2 = std::to_string(first + 3);
    EXPECT_NE(board->command("dump /dev/dsp-data").find(":b=0/" + b0 + ",2/" + b2), std::string::npos);
    joinTrunk(31, b0, b0);
    EXPECT_EQ(output(std::stoi(b0)).rfind("ok <37 ", 0), 0u) << output(std::stoi(b0));

    // The network side's SABME over the signalling channel.
    EXPECT_EQ(board->command("device /dev/dsp-data peer " + sig + " on"), "ok");
    EXPECT_EQ(on(30, activate()), "success");
    EXPECT_EQ(linkState(next()), "multiple-frame-established");
    EXPECT_EQ(next(), "slot=30 activated");
    EXPECT_EQ(written(kDspData, sig, 1), std::vector<std::string>{"02017f"});

    // The B slots stay after their QSIG slot, which gave their channels back.
    EXPECT_EQ(on(30, destroy()), "success");
    EXPECT_EQ(board->command("dump /dev/dsp-data"), "ok ");
    EXPECT_EQ(on(32, destroy()), "success");
    EXPECT_TRUE(logged("ats-qsig-b: Can't find signalling slot\n"));
    EXPECT_EQ(output(std::stoi(b0)).rfind("ok <37 ", 0), 0u) << output(std::stoi(b0));
}

TEST_F(SignallingSlots, HdlcLinkFramesPackagesGathersWhatComesBackAndReportsCounters)
{
    ASSERT_EQ(on(40, create(testsupport::hdlcParams(2, 0x1234))), "success");
    // The link drives the trunk itself: its streams have no switch channel of their own.
    joinTrunk(40, "-1", "-1");
    std::string const ts = channels(kMcc).at(0);
    EXPECT_EQ(output(37).rfind("ok <" + ts + " ", 0), 0u) << output(37);

    EXPECT_EQ(on(40, testsupport::hdlcPackagesCommand({{0x0a, 0x0b}, {0x0c}})), "success");
    EXPECT_EQ(written(kMcc, ts, 2), (std::vector<std::string>{"1234000a0b", "1234200c"}));
    // Held while the second body octet has bit 7 set, also in a frame for another address,
    // which is not reported; the next frame without it flushes them at once.
    EXPECT_EQ(board->command("device /dev/mcc/ctl push " + ts + " 1234a00180 5678000980 1234400200"), "ok 3");
    EXPECT_EQ(next(), "slot=40 ioctl hdlcPackages : { { body '01 80'H }, { body '02 00'H } }");
    // The peer's sequence goes back in the next frame.
    EXPECT_EQ(on(40, testsupport::hdlcPackagesCommand({{0x0d}})), "success");
    EXPECT_EQ(written(kMcc, ts, 1), std::vector<std::string>{"1234420d"});

    awaitLinkInfo = true;
    EXPECT_EQ(next(), "slot=40 ioctl hdlcLinkInfo : { txSU 3, txDiscard 0, txError 0, txOverflow 0, rxSU 3 }");
}

}  // namespace
