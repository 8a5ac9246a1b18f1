// The daemon's descriptors against the process's limit: server-sim started under the soft
// limit most services get, its slots created and destroyed through the controller.

#include "board/sim/rtp_model.h"
#include "tests/process_figures.h"
#include "tests/radio_commands.h"
#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"
#include "tests/tcp_client.h"

#include <sys/resource.h>
#include <sys/socket.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

constexpr rlim_t kSoft = 1024;
constexpr rlim_t kHard = 4096;

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
    void TearDown() override
    {
        if (daemon.running())
            SimDaemonTest::TearDown();
    }
    // The descriptors held once the device is down to `idle` opens: a slot may go a turn
    // after its destroy is answered.
    long settled(std::string const& device, int idle)
    {
        EXPECT_TRUE(daemon.waitFor([&] { return board->opens(device) == idle; })) << device;
        return held();
    }
    // The descriptors the daemon holds, but pipes (no slot holds one).
    long held() const { return testsupport::openDescriptors(daemon.pid(), false); }
    // An RTP create to a far end whose next port, the RTCP port the slot binds, is free.
    ZGCP::CreateRtpParams rtp() const
    {
        return testsupport::rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1", testsupport::freePort(SOCK_DGRAM) - 1);
    }
};

// Started under 1,024 open files with 4,096 allowed, the daemon runs with 4,096 and so has
// an RTP slot for every RTP channel of the board; destroyed, they leave nothing open.
TEST_F(OpenFilesE2E, EveryRtpChannelOfTheBoardFitsUnderTheRaisedLimit)
{
    EXPECT_TRUE(daemon.waitForOut("open files limit: " + std::to_string(kHard) + "\n"));
    ZGCP::Command const create = testsupport::createCommand(testsupport::rtpParams(rtp()));
    ZGCP::Command const destroy = testsupport::plainCommand(ZGCP::Command::destroy::id);
    // The first slot opens the voice-processing service, which stays open.
    ASSERT_EQ(done(0, create), "success");
    ASSERT_EQ(done(0, destroy), "success");
    long const before = settled("/dev/rtp", 0);
    int made = 0;
    for (int i = 0; i < board::sim::RtpModel::kChannels; ++i)
        made += done(unsigned(i), create) == "success";
    EXPECT_EQ(made, board::sim::RtpModel::kChannels);
    EXPECT_GT(held(), long(kSoft));
    for (int i = 0; i < board::sim::RtpModel::kChannels; ++i)
        EXPECT_EQ(done(unsigned(i), destroy), "success") << i;
    EXPECT_EQ(settled("/dev/rtp", 0), before);
}

// The daemon's children run under the limits the daemon started with, not its raised one.
TEST_F(OpenFilesE2E, AChildProgramGetsTheLimitTheDaemonStartedWith)
{
    testsupport::StubChild relay(daemon.root(), "/usr/local/sbin/t38");
    ASSERT_EQ(done(50, testsupport::createCommand(testsupport::t38Params("10.0.0.1", 4000, 5000))), "success");
    ASSERT_TRUE(daemon.waitFor([&] { return !relay.pids().empty(); }));
    std::ifstream limits("/proc/" + std::to_string(relay.pids().front()) + "/limits");
    std::string const text((std::istreambuf_iterator<char>(limits)), std::istreambuf_iterator<char>());
    EXPECT_THAT(text, ::testing::ContainsRegex("\nMax open files +1024 +4096 +files"));
}

// Each create path that opens a device, its open finding no descriptor free: answered
// insufficientResources with one line naming the cause, nothing left open. The limit itself
// is not run out here: the sanitizers of the test build need descriptors for their checks.
TEST_F(OpenFilesE2E, ACreateShortOfADescriptorIsRefusedAndLeavesNothingOpen)
{
    using namespace testsupport;
    StubChild relay(daemon.root(), "/usr/local/sbin/t38");
    ASSERT_EQ(board->command("device /dev/mixer add 3 32 16"), "ok");
    resources();
    struct Path {
        ZGCP::CreateParams params;
        char const* device;
        char const* cause = "Too many open files";
    } const paths[] = {
        {mixerOutParams(3, tdmChannel(0), {}), "/dev/mixer"},
        {mccParams(ZGCP::MccType::data, ZGCP::MccMode::standard), "/dev/mcc/ctl"},
        {recorderParams("127.0.0.1", 9), "/dev/mcc/ctl"},
        {t38Params("10.0.0.1", 4000, 5000), "/dev/mcc/ctl", "[24]"},
        {isdnParams(ZGCP::IsdnType::pri, 1), "/dev/mcc/ctl"},
        {qsigParams(true), "/dev/dsp-data"},
        {rtpParams(rtp()), "/dev/rtp"},
        {rtpParams(radioCreate(radioStatus(zarnStatus()), "127.0.0.1", freePort(SOCK_DGRAM) - 1)), "/dev/rtp_ext"},
    };
    for (Path const& p : paths) {
        SCOPED_TRACE(p.params.asValueNotation());
        ZGCP::Command const create = createCommand(p.params);
        int const idle = board->opens(p.device);
        // Made and destroyed once: the services it opens for good are open.
        ASSERT_EQ(done(100, create), "success");
        ASSERT_EQ(done(100, plainCommand(ZGCP::Command::destroy::id)), "success");
        long const before = settled(p.device, idle);
        std::size_t const lines = daemon.said(p.cause);
        ASSERT_EQ(board->command(std::string("fail-open ") + p.device + " EMFILE"), "ok");
        EXPECT_EQ(done(100, create), "error=1");
        ASSERT_EQ(board->command("clear-failures"), "ok");
        EXPECT_EQ(settled(p.device, idle), before);
        EXPECT_EQ(daemon.said(p.cause), lines + 1) << daemon.err();
    }
}

}  // namespace
