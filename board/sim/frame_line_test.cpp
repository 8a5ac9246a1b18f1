#include "board/sim/frame_line.h"

#include "board/sim/console.h"
#include "board/sim/mcc_model.h"
#include "board/sim/sim_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using board::sim::frameText;
using board::sim::FrameLine;

// The scripted Q.921 peer on a channel of the MCC controller, told what to do through the
// console; the test writes and reads the daemon's end.
struct LapdPeerTest : ::testing::Test {
    board::sim::SimBoard sim;
    board::sim::MccModel& mcc = sim.add<board::sim::MccModel>();
    board::sim::Console console{sim};
    int fd = -1;

    LapdPeerTest()
    {
        fd = sim.open(mcc::kPath, O_RDWR | O_NONBLOCK);
        mcc::Allocate a{mcc::kData, 512, 0, 1, 1};
        EXPECT_EQ(sim.ioctl(fd, mcc::kAllocate, &a), 0);
    }
    ~LapdPeerTest() override { ::close(fd); }

    // What the peer sends back for a frame the daemon writes ("" for nothing).
    std::string answer(FrameLine::Frame const& frame)
    {
        EXPECT_EQ(::write(fd, frame.data(), frame.size()), ssize_t(frame.size()));
        sim.service();
        return reply();
    }
    std::string reply()
    {
        unsigned char buf[64];
        ssize_t const n = ::read(fd, buf, sizeof buf);
        return n > 0 ? frameText(FrameLine::Frame(buf, buf + n)) : "";
    }
};

TEST_F(LapdPeerTest, AnswersAsTheFarSideOfTheLinkWouldAndSendsOnRequest)
{
    EXPECT_EQ(answer({0x00, 0x01, 0x7F}), "");
    EXPECT_EQ(console.execute("device /dev/mcc/ctl peer 512 on"), "ok");
    struct Step {
        char const* what;
        FrameLine::Frame frame;  // the daemon's, or none
        char const* send;        // the peer is told to send, or null
        std::string answer;
    } const steps[] = {
        {"an I-frame before establishment", {0x00, 0x01, 0x00, 0x00, 0x08}, nullptr, ""},
        {"DISC before establishment: DM", {0x00, 0x01, 0x53}, nullptr, "00011f"},
        {"sending before establishment", {}, "0a", "error link not established"},
        {"SABME from the user side: UA", {0x00, 0x01, 0x7F}, nullptr, "000173"},
        {"an I-frame in sequence: RR acknowledging it", {0x00, 0x01, 0x00, 0x00, 0x08}, nullptr, "00010102"},
        {"out of sequence: RR, nothing taken", {0x00, 0x01, 0x04, 0x00, 0x08}, nullptr, "00010102"},
        {"polled: RR F=1", {0x00, 0x01, 0x02, 0x01, 0x08}, nullptr, "00010105"},
        {"an RR command polling: RR F=1", {0x00, 0x01, 0x01, 0x01}, nullptr, "00010105"},
        {"an RR response: nothing", {0x02, 0x01, 0x01, 0x03}, nullptr, ""},
        {"the peer sends an I-frame as a network-side command", {}, "0a0b", "020100040a0b"},
        {"and the next in sequence", {}, "0c", "020102040c"},
        {"SABME from the network side restarts the link", {0x02, 0x01, 0x6F}, nullptr, "020163"},
        {"the peer's I-frame is now a user-side command", {}, "0d", "000100000d"},
        {"DISC: UA", {0x02, 0x01, 0x53}, nullptr, "020173"},
        {"a frame too short or wrongly addressed", {0x03, 0x01, 0x7F}, nullptr, ""},
    };
    for (Step const& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.send) {
            std::string const r = console.execute(std::string("device /dev/mcc/ctl peer 512 send ") + s.send);
            EXPECT_EQ(r == "ok" ? reply() : r, s.answer);
        } else {
            EXPECT_EQ(answer(s.frame), s.answer);
        }
    }
    // Whatever the peer answered, the daemon's frames are all kept.
    EXPECT_EQ(console.execute("device /dev/mcc/ctl written 512").substr(0, 20), "ok 00017f 0001000008");
    EXPECT_EQ(console.execute("device /dev/mcc/ctl peer 512 off"), "ok");
    EXPECT_EQ(answer({0x00, 0x01, 0x7F}), "");
}

}  // namespace
