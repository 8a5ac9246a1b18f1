#include "board/sim/rtp_ext_model.h"

#include "board/sim/console.h"
#include "board/sim/sim_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

struct RtpExtModelTest : ::testing::Test {
    board::sim::SimBoard sim;
    board::sim::RtpExtModel& model = sim.add<board::sim::RtpExtModel>();
    board::sim::Console console{sim};
    int fd = sim.open(rtp_ext::kPath, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    unsigned open = model.sessions().at(0)->open;

    ~RtpExtModelTest() override { ::close(fd); }

    std::string device(std::string const& words)
    {
        return console.execute("device /dev/rtp_ext " + words);
    }
};

// Initialised, attached and filtered sessions carrying payloads both ways with their senders
// are proven by the radio slots' tests through this model; here, a session before its
// initialisation, an empty queue, and the refusals.
TEST_F(RtpExtModelTest, AnUninitialisedSessionTakesNothingAndEmptyQueuesSaySo)
{
    std::string const o = std::to_string(open);
    EXPECT_EQ(device("send " + o + " 10.0.0.1 5 4142"), "ok sent=0");
    rtp_ext_attach_session_params attach{12, 4242};
    EXPECT_EQ(sim.ioctl(fd, rtp_ext::kAttach, &attach), -1);
    EXPECT_EQ(errno, EINVAL);

    rtp_ext_init_params init{0x1337, 0, {1, 2, 3, 4}};
    ASSERT_EQ(sim.ioctl(fd, rtp_ext::kInit, &init), 0);
    rtp_ext_source from{};
    EXPECT_EQ(sim.ioctl(fd, rtp_ext::kSourceOfNext, &from), -1);
    EXPECT_EQ(errno, ENODATA);
    char c;
    EXPECT_EQ(::read(fd, &c, 1), -1);
    EXPECT_EQ(errno, EAGAIN);
    ASSERT_EQ(sim.ioctl(fd, rtp_ext::kAttach, &attach), 0);
    ASSERT_EQ(sim.ioctl(fd, rtp_ext::kDetach, &attach), 0);
    EXPECT_EQ(sim.ioctl(fd, rtp_ext::kDetach, &attach), -1);
    EXPECT_EQ(device("written " + o), "ok");
    EXPECT_EQ(device("send 99 10.0.0.1 5 41"), "error no open 99");
    EXPECT_EQ(device("send " + o + " 10.0.0 5 41").rfind("error usage", 0), 0u);
    EXPECT_EQ(device("send " + o + " 10.0.0.1 5 4").rfind("error usage", 0), 0u);
}

}  // namespace
