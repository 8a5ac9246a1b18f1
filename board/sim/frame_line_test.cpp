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

// Two terminals of a basic-rate bus facing the daemon's network side.
TEST_F(LapdPeerTest, TerminalsTakeTheirTeisAnswerChecksAndRunTheirLinks)
{
    auto replies = [this] {
        std::string out;
        for (std::string r = reply(); !r.empty(); r = reply())
            out += (out.empty() ? "" : " ") + r;
        return out;
    };
    struct Step {
        char const* what;
        FrameLine::Frame frame;  // the daemon's, or none
        char const* command;     // a console command, or null
        std::string answer;      // what the terminals send, or the command's reply when not "ok"
    } const steps[] = {
        {"two join: identity requests with Ri 1 and 2", {}, "terminals 512 2", "fcff030f010001ff fcff030f020001ff"},
        {"no link yet", {}, "terminal 512 2 send 08", "error no link"},
        {"TEI 65 for Ri 2", {0xFE, 0xFF, 0x03, 0x0F, 0x02, 0x00, 0x02, 0x83}, nullptr, ""},
        {"SABME to 65: UA", {0x02, 0x83, 0x7F}, nullptr, "028373"},
        {"SABME to 66, which no terminal has", {0x02, 0x85, 0x7F}, nullptr, ""},
        {"an I-frame polling 65: RR F=1", {0x02, 0x83, 0x00, 0x01, 0x08}, nullptr, "02830103"},
        {"65 sends an I-frame, a user-side command", {}, "terminal 512 2 send 0801", "008300020801"},
        {"a check for all: 65 answers", {0xFE, 0xFF, 0x03, 0x0F, 0x00, 0x00, 0x04, 0xFF}, nullptr, "fcff030f02000583"},
        {"65 removed", {0xFE, 0xFF, 0x03, 0x0F, 0x00, 0x00, 0x06, 0x83}, nullptr, ""},
        {"and no longer answers a check", {0xFE, 0xFF, 0x03, 0x0F, 0x00, 0x00, 0x04, 0xFF}, nullptr, ""},
        {"a bad count", {}, "terminals 512 9", "error bad count 9"},
    };
    for (Step const& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.command) {
            std::string const r = console.execute(std::string("device /dev/mcc/ctl ") + s.command);
            EXPECT_EQ(r == "ok" ? replies() : r, s.answer);
        } else {
            EXPECT_EQ(::write(fd, s.frame.data(), s.frame.size()), ssize_t(s.frame.size()));
            sim.service();
            EXPECT_EQ(replies(), s.answer);
        }
    }
}

}  // namespace
