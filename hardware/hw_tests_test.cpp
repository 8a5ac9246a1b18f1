#include "hardware/hw_tests.h"

#include "board/hal.h"
#include "hardware/hw_mux.h"
#include "tests/hardware_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using hwtest::HardwareTest;
using testsupport::testBpcCommand;
using V = std::vector<std::string>;

int const kRead = ZGCP::BpcTestMode::read::id;
int const kWrite = ZGCP::BpcTestMode::write::id;
int const kDisconnect = ZGCP::BpcTestMode::disconnect::id;

struct HwTestsTest : HardwareTest {
    HwMux mux;
    HwTests tests{&mux};

    HwTestsTest()
    {
        // No output is left for the switch to re-disable between the tests' requests.
        for (int i = 0; i < HwMux::kBusCount; ++i)
            mux.Write(HwMux::kBusFirst + i, 0);
        server.Bind(&tests);
        connect();
    }

    // The switch requests (and pauses) journaled from the sequence number on, in short.
    V busRequests(std::uint64_t from)
    {
        V out;
        for (auto const& e : sim.journal().since(from)) {
            if (e.kind == board::sim::JournalEntry::Kind::pause)
                out.push_back("pause " + std::to_string(e.value));
            else if (e.kind == board::sim::JournalEntry::Kind::request)
                out.push_back(e.name + " " + std::to_string(e.word(0)));
        }
        return out;
    }
};

TEST_F(HwTestsTest, ThePatternIsTheCLibrarysSequenceAndLeavesItsGeneratorAlone)
{
    ::srandom(99);
    std::vector<unsigned> pattern;
    for (int i = 0; i < 6; ++i)
        pattern.push_back(unsigned(::random()) & 0xFF);
    ::srandom(7);
    long const next = ::random();
    ::srandom(7);

    EXPECT_EQ(call(testBpcCommand(2, 99, kWrite, 126, 6)), V{"success"});
    // From the end of bus 2 on into bus 3.
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(hal.output(8192 + 2 * 128 + 126 + i).byte, pattern[std::size_t(i)]) << i;
    EXPECT_EQ(::random(), next);
}

TEST_F(HwTestsTest, RunsPastTheLastBusChannelAreRefusedBeforeAnyRequest)
{
    struct Case {
        unsigned bus, start, length;
        V answer;
    };
    Case const cases[] = {
        {15, 120, 8, {"success"}},
        {15, 120, 9, {"error=0"}},
        {15, 127, 127, {"error=0"}},
    };
    for (Case const& c : cases) {
        std::uint64_t const from = mark();
        EXPECT_EQ(call(testBpcCommand(c.bus, 1, kWrite, c.start, c.length)), c.answer) << c.length;
        // Writes, the pause and the reads back, or nothing.
        EXPECT_EQ(busRequests(from).size(), c.answer[0] == "success" ? 2 * c.length + 1 : 0u) << c.length;
    }
    EXPECT_NE(err.text().find("bus 15: time slots 120 to 128 reach past the last bus channel 10239\n"),
              std::string::npos)
        << err.text();
}

TEST_F(HwTestsTest, WriteReadsBackEveryChannelAndDisconnectDisablesThem)
{
    // A read the switch refuses counts as 255.
    sim.failRequest(hal::kPath, hal::kSwitchRead, EIO, 1, 8192 + 128 + 7);
    std::uint64_t const from = mark();
    EXPECT_EQ(call(testBpcCommand(1, 5, kWrite, 5, 4)), V{"error=10"});
    EXPECT_EQ(busRequests(from), (V{"write 8325", "write 8326", "write 8327", "write 8328", "pause 500", "read 8325",
                                    "read 8326", "read 8327"}));
    ::srandom(5);
    ::random();
    ::random();
    char written[3];
    std::snprintf(written, sizeof written, "%02X", unsigned(::random()) & 0xFF);
    EXPECT_NE(err.text().find(std::string("bus 1: write failed on channel 7 write ") + written + "  written FF \n"),
              std::string::npos)
        << err.text();

    std::uint64_t const next = mark();
    EXPECT_EQ(call(testBpcCommand(1, 5, kDisconnect, 5, 2)), V{"success"});
    // Then the switch goes on re-disabling them.
    V disconnected = busRequests(next);
    disconnected.resize(3);
    EXPECT_EQ(disconnected, (V{"disable 8325", "disable 8326", "pause 250"}));
    EXPECT_EQ(mux.shadow(128 + 5), HwMux::kDisabled);
}

TEST_F(HwTestsTest, WhenTheControllerGoesEveryChannelAWriteTestStillDrivesIsLetGo)
{
    struct Case {
        char const* name;
        std::vector<ZGCP::Command> tests;  // run while the controller is there, a write test first
        int connected;                     // an output another user connects after them (-1: none)
        std::vector<int> released;         // the outputs disabled once the controller has gone
    };
    Case const cases[] = {
        {"write", {testBpcCommand(1, 5, kWrite, 5, 4)}, -1, {8325, 8326, 8327, 8328}},
        {"into the next bus", {testBpcCommand(2, 9, kWrite, 126, 4)}, -1, {8574, 8575, 8576, 8577}},
        {"partly disconnected", {testBpcCommand(4, 7, kWrite, 0, 4), testBpcCommand(4, 7, kDisconnect, 0, 2)}, -1,
         {8704, 8705, 8706, 8707}},
        {"connected since", {testBpcCommand(5, 3, kWrite, 0, 2)}, 8832, {8833}},
    };
    for (Case const& c : cases) {
        for (ZGCP::Command const& test : c.tests)
            EXPECT_EQ(call(test).back(), "success") << c.name;
        if (c.connected >= 0) {
            EXPECT_TRUE(mux.Connect(37, c.connected));
        }
        disconnect();
        for (int output : c.released)
            EXPECT_EQ(hal.output(output).state, board::sim::HalModel::Output::State::disabled) << c.name << " " << output;
        if (c.connected >= 0) {
            EXPECT_EQ(hal.output(c.connected).input, 37) << c.name;
        }

        // The next controller's write test over the same channels, let go in turn.
        connect();
        EXPECT_EQ(call(c.tests.front()), V{"success"}) << c.name;
        disconnect();
        connect();
        ZGCP::BpcTestParams const& first = c.tests.front().get_testBpc();
        int const from = HwMux::kBusFirst + int(first.get_bus().getValue()) * 128 + int(first.get_timeslot_start().getValue());
        for (int output = from; output < from + int(first.get_timeslot_length().getValue()); ++output)
            EXPECT_EQ(hal.output(output).state, board::sim::HalModel::Output::State::disabled) << c.name << " " << output;
    }
}

}  // namespace
