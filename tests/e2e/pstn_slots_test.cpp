// The PSTN signalling link slots on the daemon running on the simulated board: an SS7 link
// aligned with a far end played through the board socket, and the network side of a
// basic-rate bus serving two of the board's scripted terminals.

#include "tests/e2e/signalling_e2e.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace signallinge2e;

class PstnSlots : public SignallingE2E {
protected:
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
    // The messages up to the first that contains the text, that one included.
    std::vector<std::string> upTo(std::string const& text)
    {
        std::vector<std::string> out;
        do
            out.push_back(next());
        while (out.back().find(text) == std::string::npos && out.back() != "no message");
        return out;
    }
};

// SS7 on trunk slot 8 (E1 trunk 2), created with trunk 3: emergency alignment with the far
// end, MSUs both ways, the counters every 3000 ms, the BSN and the traces on request, and a
// trunk alarm taking the link out of service.
TEST_F(PstnSlots, Ss7LinkAlignsCarriesMsusReportsAndFallsWithItsTrunk)
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

    // Its trunk's alarm: out of service, SIOS, the counters around the channel's, deactivated.
    EXPECT_EQ(board->command("device /dev/maintenance trunk 2 state lossCarrier"), "ok");
    std::vector<std::string> const down = upTo("deactivated");
    ASSERT_GE(down.size(), 4u);
    std::vector<std::string> const last(down.end() - 4, down.end());
    EXPECT_NE(last[0].find("ioctl ss7LinkInfo"), std::string::npos) << last[0];
    EXPECT_NE(last[0].find("ss7state idle"), std::string::npos) << last[0];
    EXPECT_NE(last[1].find("ioctl hdlcLinkInfo"), std::string::npos) << last[1];
    EXPECT_EQ(last[2], last[0]);
    EXPECT_EQ(last[3], "slot=20 deactivated");
    EXPECT_EQ(written(kMcc, ts, 1), std::vector<std::string>{"ffff0103"});
    EXPECT_TRUE(logged("SS7/L2 [dpc=100, slc=5, trunk=3]: change state from \"worked\" to \"idle\"\n"));

    // Gone with its slot; the disconnection on the way reports the idle link down again.
    awaitLinkInfo = false;
    EXPECT_EQ(on(20, destroy()), "slot=20 deactivated");
    EXPECT_EQ(answer(next(), 20), "success");
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return channels(kMcc).empty(); }));
}

// The network side of a basic-rate bus on line 1: two terminals get TEIs 64 and 65, a SETUP
// reaches both, and each call's messages go to the terminal that answered it.
TEST_F(PstnSlots, BasicRateNetworkSideServesTwoTerminals)
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

}  // namespace
