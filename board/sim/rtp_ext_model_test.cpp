#include "board/sim/rtp_ext_model.h"

#include "board/sim/console.h"
#include "board/sim/sim_board.h"

#include <arpa/inet.h>
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
    std::string read()
    {
        char buf[64];
        ssize_t n = ::read(fd, buf, sizeof buf);
        return n < 0 ? "errno=" + std::to_string(errno) : std::string(buf, std::size_t(n));
    }
    std::string source()
    {
        rtp_ext_source s{};
        if (sim.ioctl(fd, rtp_ext::kSourceOfNext, &s) != 0)
            return "errno=" + std::to_string(errno);
        in_addr a{};
        a.s_addr = s.addr;
        return std::string(::inet_ntoa(a)) + "/" + std::to_string(s.ssrc);
    }
};

TEST_F(RtpExtModelTest, PayloadsCarryTheirSendersThroughTheFilter)
{
    std::string const o = std::to_string(open);
    EXPECT_EQ(device("send " + o + " 10.0.0.1 5 4142"), "ok sent=0");  // not initialised
    rtp_ext_attach_session_params attach{12, 4242};
    EXPECT_EQ(sim.ioctl(fd, rtp_ext::kAttach, &attach), -1);
    EXPECT_EQ(errno, EINVAL);

    rtp_ext_init_params init{0x1337, 0, {1, 2, 3, 4}};
    ASSERT_EQ(sim.ioctl(fd, rtp_ext::kInit, &init), 0);
    ASSERT_EQ(sim.ioctl(fd, rtp_ext::kAttach, &attach), 0);
    EXPECT_EQ(device("send " + o + " 10.0.0.1 5 4142"), "ok sent=1");
    EXPECT_EQ(device("send " + o + " 10.0.0.2 6 43"), "ok sent=1");
    rtp_ext_filter filter{::inet_addr("10.0.0.2"), 0};
    ASSERT_EQ(sim.ioctl(fd, rtp_ext::kSetFilter, &filter), 0);
    EXPECT_EQ(device("send " + o + " 10.0.0.1 7 44"), "ok sent=0");
    EXPECT_EQ(device("session " + o), "ok " + o + ": etype=0x1337 params=1/2/3/4 attach=12/4242 filter=10.0.0.2 "
                                                  "queued=2 written=0");

    EXPECT_EQ(source(), "10.0.0.1/5");
    EXPECT_EQ(read(), "AB");
    EXPECT_EQ(source(), "10.0.0.2/6");
    EXPECT_EQ(read(), "C");
    EXPECT_EQ(source(), "errno=" + std::to_string(ENODATA));
    EXPECT_EQ(read(), "errno=" + std::to_string(EAGAIN));

    ASSERT_EQ(sim.ioctl(fd, rtp_ext::kResetFilter, &filter), 0);
    ASSERT_EQ(::write(fd, "\x01\x02", 2), 2);
    ASSERT_EQ(::write(fd, "\xff", 1), 1);
    EXPECT_EQ(device("written " + o), "ok 0102 ff");
    EXPECT_EQ(device("written " + o), "ok");
    ASSERT_EQ(sim.ioctl(fd, rtp_ext::kDetach, &attach), 0);
    EXPECT_EQ(sim.ioctl(fd, rtp_ext::kDetach, &attach), -1);
    EXPECT_EQ(console.execute("dump /dev/rtp_ext"),
              "ok " + o + ": etype=0x1337 params=1/2/3/4 attach=- filter=- queued=0 written=0");

    EXPECT_EQ(device("send 99 10.0.0.1 5 41"), "error no open 99");
    EXPECT_EQ(device("send " + o + " 10.0.0 5 41").rfind("error usage", 0), 0u);
    EXPECT_EQ(device("send " + o + " 10.0.0.1 5 4").rfind("error usage", 0), 0u);
}

}  // namespace
