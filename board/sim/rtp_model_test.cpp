#include "board/sim/rtp_model.h"

#include "board/sim/console.h"
#include "board/sim/sim_board.h"
#include "board/sim/voice_model.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

struct RtpModelTest : ::testing::Test {
    board::sim::SimBoard sim;
    board::sim::RtpModel& rtp = sim.add<board::sim::RtpModel>();
    board::sim::VoiceModel& voice = sim.add<board::sim::VoiceModel>();
    board::sim::Console console{sim};

    // A session begun on a new open and its channel added (tdm -1: the driver's choice):
    // the open, or -1 when the channel was refused (errno set).
    int session(int tdm = -1)
    {
        int fd = sim.open(rtp::kPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        rtp_connection_params p{};
        p.ssrc = 9;
        p.tos = -1;
        rtp_channel_info info{tdm, -1, -1, 0};
        if (sim.ioctl(fd, rtp::kBeginSession, &p) != 0 || sim.ioctl(fd, rtp::kAddChannel, &info) != 0) {
            int const e = errno;
            ::close(fd);
            errno = e;
            return -1;
        }
        return fd;
    }
};

// Sessions, their channel 1024, their events and the voice driver's counts are proven by the
// RTP slot's tests through these models; here, the channels given back and taken again, and
// the console commands the daemon's tests do not use.
TEST_F(RtpModelTest, ChannelsGoLowestFirstAndReturnWithTheirOpen)
{
    int const first = session();
    int const second = session();
    ::close(first);
    sim.service();
    EXPECT_EQ(rtp.session(1024), nullptr);
    int const third = session();
    EXPECT_NE(rtp.session(1024), nullptr);
    // Re-added by number: the session that held the channel loses it.
    int const again = session(1025);
    EXPECT_EQ(console.execute("dump /dev/rtp").rfind("ok -: open=2 ", 0), 0u) << console.execute("dump /dev/rtp");
    EXPECT_EQ(session(1023), -1);
    EXPECT_EQ(errno, EINVAL);
    for (int fd : {second, third, again})
        ::close(fd);
}

TEST_F(RtpModelTest, ConsoleCommands)
{
    struct Case {
        char const* command;
        char const* reply;
    };
    Case const cases[] = {
        {"device /dev/rtp event 600 1 3 250", "error no session on channel 600"},
        {"device /dev/rtp event 1024 1 3", "error usage: event CH TYPE VALUE TIMEOUT | session CH"},
        {"device /dev/rtp session 600", "error no session on channel 600"},
        {"device /dev/voice count g711 5", "ok 5"},
        {"device /dev/voice count 65", "ok 8"},
        {"device /dev/voice count g999", "error usage: count KIND [N] | version [W0 W1 W2 W3 W4]"},
        {"device /dev/voice version 3 4 5 6 7", "ok 3.4.5.6.7"},
        {"dump /dev/voice", "ok g729=16 g723=16 g711=5 g711mcc=32 universal=8 version=3.4.5.6.7"},
    };
    for (Case const& c : cases)
        EXPECT_EQ(console.execute(c.command), c.reply) << c.command;
}

}  // namespace
