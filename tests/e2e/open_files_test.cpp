// The daemon's descriptors against the process's limit: server-sim started under the soft
// limit most services get, its slots created and destroyed through the controller.

#include "board/sim/rtp_model.h"
#include "tests/radio_commands.h"
#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"
#include "tests/tcp_client.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace {

constexpr rlim_t kSoft = 1024;
constexpr rlim_t kHard = 4096;

// The descriptors the process holds.
int descriptors(pid_t pid)
{
    DIR* dir = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (dir == nullptr)
        return -1;
    int n = 0;
    while (dirent const* e = ::readdir(dir))
        n += e->d_name[0] != '.';
    ::closedir(dir);
    return n;
}

// How often the text occurs.
int occurrences(std::string const& text, std::string const& what)
{
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

bool mayGive(rlim_t hard)
{
    rlimit own{};
    return ::getrlimit(RLIMIT_NOFILE, &own) == 0 && (own.rlim_max == RLIM_INFINITY || own.rlim_max >= hard);
}

class OpenFilesE2E : public testsupport::SimDaemonTest {
protected:
    void SetUp() override
    {
        if (!mayGive(kHard))
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
    int held() const { return descriptors(daemon.pid()); }
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
    // The descriptors held once the board has seen the daemon's closes (its journal looks).
    int settled()
    {
        journalNext();
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
    int const before = settled();
    int const channels = board::sim::RtpModel::kChannels;
    int made = 0;
    for (int i = 0; i < channels; ++i)
        made += on(unsigned(i), create) == "success";
    EXPECT_EQ(made, channels);
    EXPECT_GT(held(), int(kSoft));
    for (int i = 0; i < channels; ++i)
        EXPECT_EQ(on(unsigned(i), destroy), "success") << i;
    EXPECT_EQ(settled(), before);
}

// The daemon's children run under the limits the daemon started with, not its raised one.
TEST_F(OpenFilesE2E, AChildProgramGetsTheLimitTheDaemonStartedWith)
{
    testsupport::StubChild relay(daemon.root(), "/usr/local/sbin/t38");
    ASSERT_EQ(on(50, testsupport::createCommand(testsupport::t38Params("10.0.0.1", 4000, 5000))), "success");
    ASSERT_TRUE(daemon.waitFor([&] { return !relay.pids().empty(); }));
    std::ifstream limits("/proc/" + std::to_string(relay.pids().front()) + "/limits");
    std::string line;
    while (std::getline(limits, line) && line.rfind("Max open files", 0) != 0) {
    }
    std::istringstream words(line.substr(std::string("Max open files").size()));
    rlim_t soft = 0, hard = 0;
    words >> soft >> hard;
    EXPECT_EQ(soft, kSoft) << line;
    EXPECT_EQ(hard, kHard) << line;
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
        // Made and destroyed once: the services it opens for good are open.
        ASSERT_EQ(on(100, create), "success");
        ASSERT_EQ(on(100, destroy), "success");
        int const before = settled();
        int const causes = occurrences(logs(), k.cause);
        ASSERT_EQ(board->command(std::string("fail-open ") + k.device + " EMFILE"), "ok");
        EXPECT_EQ(on(100, create), "error=1");
        ASSERT_EQ(board->command("clear-failures"), "ok");
        EXPECT_EQ(settled(), before);
        EXPECT_EQ(occurrences(logs(), k.cause), causes + 1) << logs();
    }
}

}  // namespace
