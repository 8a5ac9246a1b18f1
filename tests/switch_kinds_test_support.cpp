#include "tests/switch_kinds_test_support.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

namespace testsupport {

ZGCP::Command const SwitchKindsTest::disconnectCmd = plainCommand(ZGCP::Command::disconnect::id);
ZGCP::Command const SwitchKindsTest::destroyCmd = plainCommand(ZGCP::Command::destroy::id);
ZGCP::Command const SwitchKindsTest::activateCmd = plainCommand(ZGCP::Command::activate::id);

std::vector<SwitchKindsTest::Kind> SwitchKindsTest::kinds(std::uint16_t peerPort)
{
    TERM::ModemParams digital = modemParams("");
    digital.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddmV110));
    return {
        {"bri", briParams(1, 1)},
        {"map", mapParams(BusChannel{1, 2}, BusChannel{0, 0})},
        {"ext", extParams(5, 6), true, true, true},
        {"mcc", mccParams(ZGCP::MccType::data, ZGCP::MccMode::standard)},
        {"network player", networkPlayerParams("127.0.0.1", peerPort, 1), true, false},
        // Played without end: it does not end by itself during a churn.
        {"file player", filePlayerParams({"a"}, 0), true, false},
        {"recorder", recorderParams("127.0.0.1", peerPort), false},
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

void SwitchKindsTest::join(unsigned i, Kind const& kind)
{
    EXPECT_EQ(done(trunk(i), create(trunkParams(2, 1 + i))), "success");
    EXPECT_EQ(done(slot(i), create(kind.params)), "success");
    if (kind.activate) {
        EXPECT_EQ(done(slot(i), activateCmd), "success");
    }
    EXPECT_EQ(done(slot(i), connectCommand(trunk(i))), kind.output ? "success" : "error=9");
    EXPECT_EQ(done(trunk(i), connectCommand(slot(i))), kind.input ? "success" : "error=9");
}

void SwitchKindsTest::destroy(unsigned i)
{
    EXPECT_EQ(done(slot(i), destroyCmd), "success");
    EXPECT_EQ(done(trunk(i), destroyCmd), "success");
}

void SwitchKindsTest::prepare()
{
    std::string const phrase = daemon.path("/usr/local/voice/a");
    std::filesystem::create_directories(std::filesystem::path(phrase).parent_path());
    ASSERT_EQ(::mkfifo(phrase.c_str(), 0600), 0);
    phraseWriter = Fd(::open(phrase.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(phraseWriter.is_valid());
    ASSERT_EQ(board->command("device hdlc0 p2p on"), "ok");
    ASSERT_EQ(board->command("device /dev/mixer add 3 32 16"), "ok");
    resources();  // the daemon learns of the mixer unit
    ASSERT_EQ(kinds(0)[kQsig + 1].name, std::string("qsig b"));
}

}  // namespace testsupport
