// Every slot kind that goes through the time-slot switch, churned on the daemon running on the
// simulated board: created, joined with a trunk time slot both ways, parted, destroyed (parted
// first, or still joined), and at last destroyed by the loss of the controller. Afterwards the
// switch holds no connection.

#include "tests/loopback.h"
#include "tests/radio_commands.h"
#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::DaemonLauncher;
using testsupport::plainCommand;

ZGCP::Command const disconnectCmd = plainCommand(ZGCP::Command::disconnect::id);
ZGCP::Command const destroyCmd = plainCommand(ZGCP::Command::destroy::id);
ZGCP::Command const activateCmd = plainCommand(ZGCP::Command::activate::id);

struct Kind {
    char const* name;
    ZGCP::CreateParams params;
    // Whether it has an output to the trunk and an input from it.
    bool output = true;
    bool input = true;
    // Its input opens on activate (an external channel).
    bool activate = false;
};

class SwitchLeftovers : public testsupport::SimDaemonTest {
protected:
    // Kind i is slot 10 + i, joined both ways with trunk slot 100 + i (trunk 2, time slot 1 + i).
    static unsigned slot(unsigned i) { return 10 + i; }
    static unsigned trunk(unsigned i) { return 100 + i; }
    void join(unsigned i, Kind const& kind)
    {
        EXPECT_EQ(done(trunk(i), create(testsupport::trunkParams(2, 1 + i))), "success");
        EXPECT_EQ(done(slot(i), create(kind.params)), "success");
        if (kind.activate) {
            EXPECT_EQ(done(slot(i), activateCmd), "success");
        }
        EXPECT_EQ(done(slot(i), testsupport::connectCommand(trunk(i))), kind.output ? "success" : "error=9");
        EXPECT_EQ(done(trunk(i), testsupport::connectCommand(slot(i))), kind.input ? "success" : "error=9");
    }
    void destroy(unsigned i)
    {
        EXPECT_EQ(done(slot(i), destroyCmd), "success");
        EXPECT_EQ(done(trunk(i), destroyCmd), "success");
    }

    // Every kind but the echo slot, which this board declines. The QSIG slot is the 17th; its
    // B slot follows it.
    static constexpr unsigned kQsig = 17;
    std::vector<Kind> kinds()
    {
        using namespace testsupport;
        TERM::ModemParams digital = modemParams("");
        digital.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddmV110));
        return {
            {"bri", briParams(1, 1)},
            {"map", mapParams(BusChannel{1, 2}, BusChannel{0, 0})},
            {"ext", extParams(5, 6), true, true, true},
            {"mcc", mccParams(ZGCP::MccType::data, ZGCP::MccMode::standard)},
            {"network player", networkPlayerParams("127.0.0.1", peer.port(), 1), true, false},
            {"file player", filePlayerParams({"a"}, 1), true, false},
            {"recorder", recorderParams("127.0.0.1", peer.port()), false},
            {"t38", t38Params("10.0.0.1", 4000, 5000)},
            {"rtp", rtpParams(rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1", 9000))},
            {"zarn radio", rtpParams(radioCreate(radioStatus(zarnStatus()), "127.0.0.1", 9002))},
            {"ed137 radio", rtpParams(radioCreate(radioStatus(ed137Status(false)), "127.0.0.1", 9004))},
            {"dsp modem", modemCreate(modemParams("123"))},
            {"digital modem", modemCreate(digital)},
            {"mixer input", mixerInParams(3, tdmChannel(1), tdmChannel(0)), false},
            {"mixer output", mixerOutParams(3, tdmChannel(0), {{tdmChannel(1), 32767}}), true, false},
            {"isdn pri", isdnParams(ZGCP::IsdnType::pri, 2)},
            {"isdn bri", isdnParams(ZGCP::IsdnType::bri, 2)},
            {"qsig", qsigParams(true)},
            {"qsig b", qsigBParams(slot(kQsig), 1)},
            {"ss7", ss7Params(3, 5, 100, 200, true)},
            {"pstn isdn", pstnIsdnParams(ZGCP::IsdnType::pri, 3, false)},
            {"pstn cas", pstnCasParams(3)},
            {"hdlc link", hdlcParams(2, 0x1234)},
        };
    }

    testsupport::LoopbackListener peer{64};
};

TEST_F(SwitchLeftovers, EverySlotKindLeavesNoConnectionWhenDestroyedOrWhenTheControllerGoes)
{
    testsupport::StubChild relay(daemon.root(), "/usr/local/sbin/t38");
    testsupport::StubChild pppd(daemon.root(), "/usr/local/sbin/pppd");
    daemon.writeFile("/usr/local/voice/a", "AAA");
    ASSERT_EQ(board->command("device hdlc0 p2p on"), "ok");
    ASSERT_EQ(board->command("device /dev/mixer add 3 32 16"), "ok");
    resources();  // the daemon learns of the mixer unit
    std::vector<Kind> const all = kinds();
    ASSERT_EQ(all[kQsig + 1].name, std::string("qsig b"));

    // Parted, then destroyed; then destroyed while joined. The channels given back are taken
    // again by the kinds that follow.
    for (int round = 0; round < 2; ++round) {
        for (unsigned i = 0; i < all.size(); ++i) {
            SCOPED_TRACE(std::string(all[i].name) + " round " + std::to_string(round));
            join(i, all[i]);
            if (round == 0) {
                EXPECT_EQ(done(slot(i), disconnectCmd), "success");
                EXPECT_EQ(done(trunk(i), disconnectCmd), "success");
            }
            // The QSIG slot goes after its B slot.
            if (i != kQsig)
                destroy(i);
            if (i == kQsig + 1)
                destroy(kQsig);
        }
        EXPECT_EQ(board->switchLeftovers(), "") << "round " << round;
    }

    for (unsigned i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(all[i].name);
        join(i, all[i]);
    }
    EXPECT_NE(board->switchLeftovers(), "");
    client->close();
    DaemonLauncher::waitFor([&] { return board->switchLeftovers().empty(); });
    EXPECT_EQ(board->switchLeftovers(), "");
    ASSERT_TRUE(attach());
}

}  // namespace
