// The signalling slots on the daemon running on the simulated board, each joined to a time
// slot of an E1 trunk (or a BRI line): ISDN D channels and a QSIG channel whose far end is the
// board's scripted Q.921 peer, a raw HDLC link, an SS7 link aligned with a far end played
// through the board socket, and the network side of a basic-rate bus serving two of the
// board's scripted terminals. Trunk slot 7 (E1 trunk 1, time slot 5) is made first; the
// periodic link counters are left out unless awaited.

#include "tests/sim_daemon_test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::DaemonLauncher;

ZGCP::Command activate() { return testsupport::plainCommand(ZGCP::Command::activate::id); }
ZGCP::Command deactivate() { return testsupport::plainCommand(ZGCP::Command::deactivate::id); }
ZGCP::Command destroy() { return testsupport::plainCommand(ZGCP::Command::destroy::id); }

std::vector<std::string> words(std::string const& text)
{
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

char const kMcc[] = "/dev/mcc/ctl";
char const kDspData[] = "/dev/dsp-data";

class SignallingSlots : public testsupport::SimDaemonTest {
protected:
    void SetUp() override
    {
        SimDaemonTest::SetUp();
        trunkSlot7();
    }

    // The next message on one line; the periodic counters of a link only while they are
    // awaited.
    using SimDaemonTest::next;
    std::string next() override
    {
        for (;;) {
            std::string const text = SimDaemonTest::next();
            bool const counters =
                text.find(" ioctl hdlcLinkInfo") != std::string::npos || text.find(" ioctl ss7LinkInfo") != std::string::npos;
            if (awaitLinkInfo || !counters)
                return oneLine(text);
        }
    }
    static std::string oneLine(std::string const& text)
    {
        std::string out;
        for (std::string const& w : words(text))
            out += (out.empty() ? "" : " ") + w;
        return out;
    }

    // The switch channels of the device's channels in use, as its dump lists them.
    std::vector<std::string> channels(std::string const& path)
    {
        std::vector<std::string> out;
        for (std::string const& w : words(board->command("dump " + path)))
            if (w[0] >= '0' && w[0] <= '9' && w.find(":ino=") != std::string::npos)
                out.push_back(w.substr(0, w.find(':')));
        return out;
    }
    // The frames the daemon wrote on the channel since last asked, once there are n.
    std::vector<std::string> written(std::string const& path, std::string const& ch, std::size_t n)
    {
        std::vector<std::string> all;
        DaemonLauncher::waitFor([&] {
            std::vector<std::string> w = words(board->command("device " + path + " written " + ch));
            all.insert(all.end(), w.begin() + 1, w.end());
            return all.size() >= n;
        });
        return all;
    }
    // Connects the slot with the trunk slot both ways (its streams open on the way).
    void joinTrunk(unsigned number, std::string const& receive, std::string const& transmit, unsigned trunk = 7)
    {
        std::string const slot = "slot=" + std::to_string(number);
        EXPECT_EQ(on(trunk, connect(number)), slot + " receiver active " + receive);
        EXPECT_EQ(answer(next(), trunk), "success");
        EXPECT_EQ(on(number, connect(trunk)), slot + " transmitter active " + transmit);
        EXPECT_EQ(answer(next(), number), "success");
    }

    // The link state in the link figures of an isdnLinkInfo signal.
    static std::string linkState(std::string const& text)
    {
        auto at = text.find("lapdState ");
        return text.find(" ioctl isdnLinkInfo") == std::string::npos || at == std::string::npos
                   ? text
                   : text.substr(at + 10, text.find_first_of(",} ", at + 10) - at - 10);
    }
    // The only channel of the MCC controller in use, once there is exactly one.
    std::string onlyChannel()
    {
        std::vector<std::string> ch;
        DaemonLauncher::waitFor([&] { return (ch = channels(kMcc)).size() == 1; });
        return ch.empty() ? "" : ch[0];
    }
    std::string push(std::string const& ch, std::string const& frames)
    {
        return board->command("device /dev/mcc/ctl push " + ch + " " + frames);
    }

    bool awaitLinkInfo = false;
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
        std::string const ts = onlyChannel();
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
}

TEST_F(SignallingSlots, HdlcLinkFramesPackagesGathersWhatComesBackAndReportsCounters)
{
    ASSERT_EQ(on(40, create(testsupport::hdlcParams(2, 0x1234))), "success");
    // The link drives the trunk itself: its streams have no switch channel of their own.
    joinTrunk(40, "-1", "-1");
    std::string const ts = onlyChannel();
    EXPECT_EQ(output(37).rfind("ok <" + ts + " ", 0), 0u) << output(37);

    // The ninth frame carries sequence 0 again.
    std::vector<std::vector<char>> bodies(9, {0x0c});
    bodies[0] = {0x0a, 0x0b};
    EXPECT_EQ(on(40, testsupport::hdlcPackagesCommand(bodies)), "success");
    EXPECT_EQ(written(kMcc, ts, 9), (std::vector<std::string>{"1234000a0b", "1234200c", "1234400c", "1234600c", "1234800c",
                                                              "1234a00c", "1234c00c", "1234e00c", "1234000c"}));
    // Held while the second body octet has bit 7 set, also in a frame for another address,
    // which is not reported; the next frame without it flushes them at once.
    EXPECT_EQ(push(ts, "1234a00180 5678000980 1234400200"), "ok 3");
    EXPECT_EQ(next(), "slot=40 ioctl hdlcPackages : { { body '01 80'H }, { body '02 00'H } }");
    // The peer's sequence goes back in the next frame.
    EXPECT_EQ(on(40, testsupport::hdlcPackagesCommand({{0x0d}})), "success");
    EXPECT_EQ(written(kMcc, ts, 1), std::vector<std::string>{"1234220d"});

    awaitLinkInfo = true;
    EXPECT_EQ(next(), "slot=40 ioctl hdlcLinkInfo : { txSU 10, txDiscard 0, txError 0, txOverflow 0, rxSU 3 }");
}

// SS7 on trunk slot 8 (E1 trunk 2), created with trunk 3: emergency alignment with the far
// end, MSUs both ways, the counters every 3000 ms, the BSN and the traces on request, and a
// trunk alarm taking the link out of service.
TEST_F(SignallingSlots, Ss7LinkAlignsCarriesMsusReportsAndFallsWithItsTrunk)
{
    ASSERT_EQ(on(8, create(testsupport::trunkParams(2, 16))), "success");
    next(2);
    ASSERT_EQ(on(20, create(testsupport::ss7Params(3, 5, 100, 200, true))), "success");
    joinTrunk(20, "-1", "-1", 8);
    ASSERT_EQ(on(20, activate()), "success");
    std::string const ts = onlyChannel();
    EXPECT_EQ(board->command("dump /dev/mcc/ctl").rfind("ok data=0/16 bri=0/8 transparent=0/32 ss7=1/8", 0), 0u);

    // SIO from the far end: aligned, SIE; its SIE: proving for 500 ms, then a FISU; its FISU:
    // in service.
    EXPECT_EQ(push(ts, "ffff0100"), "ok 1");
    EXPECT_EQ(written(kMcc, ts, 1), std::vector<std::string>{"ffff0102"});
    EXPECT_EQ(push(ts, "ffff0102"), "ok 1");
    EXPECT_EQ(written(kMcc, ts, 2), (std::vector<std::string>{"ffff0102", "ffff00"}));
    EXPECT_EQ(push(ts, "ffff00"), "ok 1");
    EXPECT_EQ(next(), "slot=20 activated");
    EXPECT_EQ(written(kMcc, ts, 2), (std::vector<std::string>{"ffff00", "ffff00"}));

    // An MSU each way; the far end's is acknowledged with a FISU.
    EXPECT_EQ(on(20, testsupport::userDataCommand({char(0x83), 1, 2, 3})), "success");
    EXPECT_EQ(written(kMcc, ts, 1), std::vector<std::string>{"ff800483010203"});
    EXPECT_EQ(push(ts, "808003830506"), "ok 1");
    EXPECT_EQ(next(), "slot=20 userData 830506");
    EXPECT_EQ(written(kMcc, ts, 1), std::vector<std::string>{"808000"});

    EXPECT_EQ(call(testsupport::ss7BsnCommand(), 20), "slot=20 ioctl ss7BSN : 0");
    EXPECT_EQ(answer(next(), 20), "success");
    EXPECT_EQ(on(20, testsupport::ss7LogCommand({true, false, false, false, false, false, false, false})), "success");

    // Two rounds of the counters: the channel's, then the link's.
    awaitLinkInfo = true;
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(next(), "slot=20 ioctl hdlcLinkInfo : { txSU 7, txDiscard 0, txError 0, txOverflow 0, rxSU 4 }");
        EXPECT_EQ(next(), "slot=20 ioctl ss7LinkInfo : { msuTxCount 5, msuRxCount 4, octetsTx 19, octetsRx 17, "
                          "speedRx 0, speedTx 0, overflowCntr 0, rtbSize 0, repeatCntr 0, badSeqCntr 0, "
                          "ss7state worked }");
    }

    // Its trunk's alarm: out of service, SIOS, deactivated.
    awaitLinkInfo = false;
    EXPECT_EQ(board->command("device /dev/maintenance trunk 2 state lossCarrier"), "ok");
    EXPECT_EQ(next(), "slot=20 deactivated");
    EXPECT_EQ(written(kMcc, ts, 1), std::vector<std::string>{"ffff0103"});
    EXPECT_TRUE(logged("SS7/L2 [dpc=100, slc=5, trunk=3]: change state from \"worked\" to \"idle\"\n"));

    // Gone with its slot; the disconnection on the way reports the idle link down again.
    EXPECT_EQ(on(20, destroy()), "slot=20 deactivated");
    EXPECT_EQ(answer(next(), 20), "success");
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return channels(kMcc).empty(); }));
}

// The network side of a basic-rate bus on line 1: two terminals get TEIs 64 and 65, a SETUP
// reaches both, and each call's messages go to the terminal that answered it.
TEST_F(SignallingSlots, BasicRateNetworkSideServesTwoTerminals)
{
    ASSERT_EQ(on(9, create(testsupport::briParams(1, 1))), "success");
    next(2);
    ASSERT_EQ(on(30, create(testsupport::pstnIsdnParams(ZGCP::IsdnType::bri, 2, true))), "success");
    EXPECT_EQ(on(9, connect(30)), "slot=30 receiver active -1");
    EXPECT_EQ(answer(next(), 9), "success");
    // The second direction opens the channel; the bus is active at once.
    EXPECT_EQ(on(30, connect(9)), "slot=30 transmitter active -1");
    EXPECT_EQ(next(), "slot=30 activated");
    EXPECT_EQ(answer(next(), 30), "success");
    std::string const ts = onlyChannel();
    EXPECT_EQ(written(kMcc, ts, 1), std::vector<std::string>{"feff030f000004ff"});

    EXPECT_EQ(board->command("device /dev/mcc/ctl terminals " + ts + " 2"), "ok");
    EXPECT_EQ(written(kMcc, ts, 4),
              (std::vector<std::string>{"feff030f01000281", "02817f", "feff030f02000283", "02837f"}));

    EXPECT_EQ(on(30, testsupport::userDataCommand({8, 1, 5, 5})), "success");
    EXPECT_EQ(written(kMcc, ts, 1), std::vector<std::string>{"02ff0308010505"});

    struct Call {
        char const* terminal;
        char const* answer;      // the terminal's I-frame, claiming the call
        char const* up;          // what the controller receives
        std::vector<char> down;  // the controller's next message of the call
        char const* frame;       // the I-frame it becomes
    } const calls[] = {
        {"2", "08018507", "slot=30 userData 08018507", {8, 1, 5, 0x0F}, "028300030801050f"},
        {"1", "08010605", "slot=30 userData 08010605", {8, 1, char(0x86), 2}, "0281000308018602"},
    };
    for (Call const& c : calls) {
        SCOPED_TRACE(c.terminal);
        EXPECT_EQ(board->command("device /dev/mcc/ctl terminal " + ts + " " + c.terminal + " send " + c.answer), "ok");
        EXPECT_EQ(next(), c.up);
        EXPECT_EQ(on(30, testsupport::userDataCommand(c.down)), "success");
        EXPECT_EQ(written(kMcc, ts, 1), std::vector<std::string>{c.frame});
    }
}

// Ten QSIG links without a far end, given more data than the packet pool holds: the link
// queues take what they may, then the data is refused (insufficientResources, one line for
// the run), and every command of the burst, the pings among them, gets exactly one answer.
// Destroyed, the links give every packet back: a second round takes as many as the first.
TEST_F(SignallingSlots, QsigLinksWithoutAFarEndCannotStarveTheController)
{
    std::vector<std::size_t> taken;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        for (unsigned n = 0; n < 10; ++n)
            ASSERT_EQ(on(30 + n, create(testsupport::qsigParams(false))), "success");
        testsupport::Bytes burst;
        int const first = seq + 1;
        std::set<int> pings;
        for (unsigned i = 0; i < 1200; ++i) {
            append(burst, testsupport::userDataCommand({8, 1, 2}), 30 + i % 10);
            if (i % 50 == 49) {
                append(burst, testsupport::plainCommand(ZGCP::Command::ping::id));
                pings.insert(seq);
            }
        }
        ASSERT_TRUE(client->sendRaw(burst));

        // By command and result: "ping success", "userData error=1".
        std::map<std::string, std::size_t> results;
        for (auto const& [number, text] : answers(first))
            ++results[(pings.count(number) ? "ping" : "userData") + text.substr(text.rfind(' '))];
        EXPECT_EQ(results["ping success"], 24u);
        EXPECT_GT(results["userData error=1"], 0u);
        EXPECT_EQ(results["userData success"] + results["userData error=1"], 1200u);
        taken.push_back(results["userData success"]);
        for (unsigned n = 0; n < 10; ++n)
            ASSERT_EQ(on(30 + n, destroy()), "success");
    }
    EXPECT_EQ(taken[0], taken[1]);
    EXPECT_EQ(daemon.said(": the link queues hold every packet they may, data refused until they send\n"), 2u);
}

}  // namespace
