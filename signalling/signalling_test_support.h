#pragma once

// Shared by the in-process tests of the signalling slots: the slot table over the simulated
// board, a trunk time slot to join (slot 7, switch channel 37), and the frames on the far
// ends of the channels.

#include "board/sim/frame_line.h"
#include "slots/trunk_slot.h"
#include "tests/loop_pump.h"
#include "tests/mcc_test_support.h"
#include "tests/slots_test_support.h"

#include <csignal>
#include <string>
#include <vector>

namespace signallingtest {

using namespace slotstest;

struct SignallingSlotsTest : SlotsTest {
    board::sim::DspDataModel& dsp = env.dspData;

    SignallingSlotsTest()
    {
        // A write to a line the model hung up must not end the test process.
        std::signal(SIGPIPE, SIG_IGN);
        TrunkFactory::e1(1);
        EXPECT_EQ(create(7, trunk(1, 5)), ok());
        signals.take();
    }
    ~SignallingSlotsTest() override { env.sim.clearFailures(); }

    void settle() { testsupport::settle(); }
    // The frames written on the line since it was last asked, as hexadecimal text.
    static std::vector<std::string> written(board::sim::FrameLine* line)
    {
        SimEnv::get().sim.service();
        std::vector<std::string> out;
        if (line)
            for (auto const& f : line->take())
                out.push_back(board::sim::frameText(f));
        return out;
    }
    // The only channel of the MCC controller in use; -1 when there is not exactly one.
    int mccChannel()
    {
        env.sim.service();
        auto ts = env.mcc.timeslots();
        return ts.size() == 1 ? ts[0] : -1;
    }
    // The frames written on that channel since it was last asked.
    std::vector<std::string> mccWritten()
    {
        int const channel = mccChannel();
        return written(channel < 0 ? nullptr : env.mcc.line(channel));
    }
    // A frame from the far end of that channel, taken in by the loop.
    void mccPush(std::vector<std::uint8_t> const& frame)
    {
        ASSERT_TRUE(env.mcc.push(mccChannel(), frame));
        settle();
    }
    // The signals since the last take, each as its alternative's name ("isdnLinkInfo" for
    // the ioctl signal carrying it); stream signals only when asked for.
    std::vector<std::string> kinds(bool streams = true)
    {
        std::vector<std::string> out;
        for (ZGCP::Signal const& s : signals.signals) {
            std::string const text = s.asValueNotation();
            std::string const name = text.substr(0, text.find(' '));
            if (streams || (name != "receiver" && name != "transmitter"))
                out.push_back(name == "ioctl" ? text.substr(8, text.find(' ', 8) - 8) : name);
        }
        signals.take();
        return out;
    }
    // The journal lines from the mark on that name the path, without their numbers.
    std::vector<std::string> journal(std::uint64_t mark, std::string const& path)
    {
        std::vector<std::string> out;
        for (auto const& e : env.sim.journal().since(mark))
            if (e.path == path) {
                std::string const text = e.text();
                out.push_back(text.substr(text.find(' ') + 1));
            }
        return out;
    }
};

}  // namespace signallingtest
