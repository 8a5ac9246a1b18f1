// The daemon's descriptors against the process's limit: server-sim started under the soft
// limit most services get, its slots created and destroyed through the controller.

#include "board/sim/rtp_model.h"
#include "tests/radio_commands.h"
#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"
#include "tests/tcp_client.h"

#include <sys/resource.h>
#include <sys/socket.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>

namespace {

constexpr rlim_t kSoft = 1024;
constexpr rlim_t kHard = 4096;

// How often the text occurs.
int occurrences(std::string const& text, std::string const& what)
{
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class OpenFilesE2E : public testsupport::SimDaemonTest {
protected:
    void SetUp() override
    {
        rlimit own{};
        if (::getrlimit(RLIMIT_NOFILE, &own) != 0 || own.rlim_max < kHard)
            GTEST_SKIP() << "the test's own hard limit of open files is below " << kHard;
        daemon.limitOpenFiles(kSoft, kHard);
        SimDaemonTest::SetUp();
    }
    // RTP to the far end at a port whose successor (the RTCP port the slots bind) is free.
    ZGCP::CreateParams rtp(std::optional<TERM::RadioStatus> radio = std::nullopt) const
    {
        int const port = rtcpPort - 1;
        return testsupport::rtpParams(radio ? testsupport::radioCreate(*radio, "127.0.0.1", port)
                                            : testsupport::rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1", port));
    }
    void TearDown() override
    {
        if (daemon.running())
            SimDaemonTest::TearDown();
    }
    // The descriptors the daemon holds, but pipes: the sanitizers of the test build open and
    // close pipes of their own at any moment (and the daemon opens none for a slot).
    int held() const
    {
        int n = 0;
        for (auto const& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(daemon.pid()) + "/fd")) {
            std::error_code gone;
            n += std::filesystem::read_symlink(fd.path(), gone).string().rfind("pipe:", 0) != 0 && !gone;
        }
        return n;
    }
    // Signals are passed over: the next response.
    std::string next() override
    {
        for (;;) {
            ZGCP::Message m;
            if (!client->receive(m, testsupport::ControllerClient::kTimeout))
                return "no message";
            if (!m.get_pdu().signal_isSelected())
                return testsupport::describe(m);
        }
    }
    // The opens of the device the board counts; it sees the last close of one when it looks
    // (at its journal).
    int opens(std::string const& device)
    {
        journalNext();
        std::string const list = board->command("devices");
        std::string const key = " " + device + ":opens=";
        std::size_t const at = list.find(key);
        return at == std::string::npos ? -1 : std::atoi(list.c_str() + at + key.size());
    }
    // The descriptors held once the device is down to `idle` opens: a slot may go a turn
    // after its destroy is answered.
    int settled(std::string const& device, int idle)
    {
        EXPECT_TRUE(daemon.waitFor([&] { return opens(device) == idle; })) << device;
        return held();
    }
    // What the daemon has logged so far.
    std::string logs() const { return daemon.out() + daemon.err(); }

    int const rtcpPort = testsupport::freePort(SOCK_DGRAM);
};

// Started under 1,024 open files with 4,096 allowed, the daemon runs with 4,096 and so has
// an RTP slot for every RTP channel of the board; destroyed, they leave nothing open.
TEST_F(OpenFilesE2E, EveryRtpChannelOfTheBoardFitsUnderTheRaisedLimit)
{
    EXPECT_TRUE(daemon.waitForOut("open files limit: " + std::to_string(kHard) + "\n"));
    ZGCP::Command const create = testsupport::createCommand(rtp());
    ZGCP::Command const destroy = testsupport::plainCommand(ZGCP::Command::destroy::id);
    // The first slot opens the voice-processing service, which stays open.
    ASSERT_EQ(on(0, create), "success");
    ASSERT_EQ(on(0, destroy), "success");
    int const before = settled("/dev/rtp", 0);
    int const channels = board::sim::RtpModel::kChannels;
    int made = 0;
    for (int i = 0; i < channels; ++i)
        made += on(unsigned(i), create) == "success";
    EXPECT_EQ(made, channels);
    EXPECT_GT(held(), int(kSoft));
    for (int i = 0; i < channels; ++i)
        EXPECT_EQ(on(unsigned(i), destroy), "success") << i;
    EXPECT_EQ(settled("/dev/rtp", 0), before);
}

// The daemon's children run under the limits the daemon started with, not its raised one.
TEST_F(OpenFilesE2E, AChildProgramGetsTheLimitTheDaemonStartedWith)
{
    testsupport::StubChild relay(daemon.root(), "/usr/local/sbin/t38");
    ASSERT_EQ(on(50, testsupport::createCommand(testsupport::t38Params("10.0.0.1", 4000, 5000))), "success");
    ASSERT_TRUE(daemon.waitFor([&] { return !relay.pids().empty(); }));
    std::ifstream limits("/proc/" + std::to_string(relay.pids().front()) + "/limits");
    std::string const text((std::istreambuf_iterator<char>(limits)), std::istreambuf_iterator<char>());
    EXPECT_THAT(text, ::testing::ContainsRegex("\nMax open files +1024 +4096 +files"));
    EXPECT_EQ(on(50, testsupport::plainCommand(ZGCP::Command::destroy::id)), "success");
}

// A create whose device open finds no descriptor free, for every kind of slot that opens a
// device when made (the others open none then): answered insufficientResources with one line
// naming the cause, and nothing left open. The limit itself cannot be run out here: the
// sanitizers of the test build need descriptors of their own for their checks.
TEST_F(OpenFilesE2E, ACreateShortOfADescriptorIsRefusedAndLeavesNothingOpen)
{
    using namespace testsupport;
    StubChild relay(daemon.root(), "/usr/local/sbin/t38");
    ASSERT_EQ(board->command("device /dev/mixer add 3 32 16"), "ok");
    resources();
    ASSERT_EQ(on(90, createCommand(qsigParams(false))), "success");
    ZGCP::CreateRtpParams onRtp = radioCreate(radioStatus(zarnStatus()), "127.0.0.1", rtcpPort - 1);
    TERM::RtpE2M& e2m = onRtp.set_codecRTP().set_rtp_e2m();
    e2m.set_slot(0);
    e2m.set_channel(0);
    e2m.set_mode().select_only_rtp().set_fd(3);
    e2m.set_mode().select_only_rtp().set_pid(1);
    struct Kind {
        char const* name;
        ZGCP::CreateParams params;
        char const* device;
        // How its line names the cause.
        char const* cause = "Too many open files";
    } const kinds[] = {
        {"mixer output", mixerOutParams(3, tdmChannel(0), {{tdmChannel(1), 20000}}), "/dev/mixer"},
        {"mixer input", mixerInParams(3, tdmChannel(1), tdmChannel(0)), "/dev/mixer"},
        {"MCC channel", mccParams(ZGCP::MccType::data, ZGCP::MccMode::standard), "/dev/mcc/ctl"},
        {"recorder", recorderParams("127.0.0.1", 9), "/dev/mcc/ctl"},
        {"network player", networkPlayerParams("127.0.0.1", 9, 1), "/dev/mcc/ctl"},
        {"file player", filePlayerParams({"hello"}, 1), "/dev/mcc/ctl"},
        {"T.38 relay", t38Params("10.0.0.1", 4000, 5000), "/dev/mcc/ctl", "[24]"},
        {"ISDN D channel", isdnParams(ZGCP::IsdnType::pri, 1), "/dev/mcc/ctl"},
        {"QSIG", qsigParams(true), "/dev/dsp-data"},
        {"RTP", rtp(), "/dev/rtp"},
        {"ZARN radio", rtp(radioStatus(zarnStatus())), "/dev/rtp"},
        {"ZARN radio", rtp(radioStatus(zarnStatus())), "/dev/rtp_ext"},
        {"ZARN radio on an RTP session", rtpParams(onRtp), "/dev/rtp"},
        {"ED-137 radio", rtp(radioStatus(ed137Status(false))), "/dev/rtp"},
        {"ED-137 radio", rtp(radioStatus(ed137Status(false))), "/dev/rtp_ext"},
    };
    ZGCP::Command const destroy = plainCommand(ZGCP::Command::destroy::id);
    for (Kind const& k : kinds) {
        SCOPED_TRACE(std::string(k.name) + ", " + k.device);
        ZGCP::Command const create = createCommand(k.params);
        int const idle = opens(k.device);
        // Made and destroyed once: the services it opens for good are open.
        ASSERT_EQ(on(100, create), "success");
        ASSERT_EQ(on(100, destroy), "success");
        int const before = settled(k.device, idle);
        int const causes = occurrences(logs(), k.cause);
        ASSERT_EQ(board->command(std::string("fail-open ") + k.device + " EMFILE"), "ok");
        EXPECT_EQ(on(100, create), "error=1");
        ASSERT_EQ(board->command("clear-failures"), "ok");
        EXPECT_EQ(settled(k.device, idle), before);
        EXPECT_EQ(occurrences(logs(), k.cause), causes + 1) << logs();
    }
}

}  // namespace
