#include "slots/voice_factory.h"

#include "board/mcc.h"
#include "slots/voice_slot.h"
#include "tests/slots_test_support.h"

#include <fcntl.h>

#include <gtest/gtest.h>

namespace {

using namespace slotstest;

struct VoiceFactoryTest : SlotsTest {
    VoiceFactory& factory = VoiceFactory::instance();
    ~VoiceFactoryTest() override { env.sim.clearFailures(); }

    // The channel opens and allocations journaled since the mark: "open 1" (the access
    // mode) and "allocate 2 1024 0 0 5".
    std::vector<std::string> channelRequests(std::uint64_t mark)
    {
        std::vector<std::string> out;
        for (auto const& e : env.sim.journal().since(mark)) {
            if (e.path != mcc::kPath)
                continue;
            if (e.kind == board::sim::JournalEntry::Kind::open)
                out.push_back("open " + std::to_string(e.value & O_ACCMODE) + ((e.value & O_NONBLOCK) ? " nonblock" : ""));
            else if (e.name == "allocate")
                out.push_back("allocate " + std::to_string(e.word(0)) + " " + std::to_string(e.word(1)) + " "
                              + std::to_string(e.word(2)) + " " + std::to_string(e.word(3)) + " "
                              + std::to_string(e.word(4)));
        }
        return out;
    }
};

TEST_F(VoiceFactoryTest, PlayersAndRecordersEachHoldAChannelUntilDestroyed)
{
    auto const mark = env.mark();
    ASSERT_EQ(create(3, testsupport::filePlayerParams({"a"}, 1)), ok());
    ASSERT_EQ(create(4, testsupport::recorderParams("127.0.0.1", 9)), ok());
    EXPECT_EQ(channelRequests(mark), (std::vector<std::string>{"open 1 nonblock", "allocate 2 1024 0 0 5",
                                                               "open 0 nonblock", "allocate 2 1024 0 5 0"}));
    EXPECT_EQ(factory.players(), std::vector<PlaySlotGeneric*>{static_cast<PlaySlotGeneric*>(at(3))});
    EXPECT_EQ(factory.recorders(), std::vector<RecordSlot*>{static_cast<RecordSlot*>(at(4))});
    env.sim.service();
    EXPECT_EQ(env.mcc.timeslots(), (std::vector<int>{at(3)->GetTransmitChannel(), at(4)->GetReceiveChannel()}));

    ASSERT_EQ(destroy(3), ok());
    ASSERT_EQ(destroy(4), ok());
    env.sim.service();
    EXPECT_TRUE(env.mcc.timeslots().empty());
    EXPECT_TRUE(factory.players().empty());
    EXPECT_TRUE(factory.recorders().empty());

    // The resources answer gets nothing from this factory.
    ZGCP::Resources r;
    factory.Query(r);
    EXPECT_EQ(r.asValueNotation(), ZGCP::Resources().asValueNotation());
}

TEST_F(VoiceFactoryTest, DeclinesWhatItCannotPlayOrAllocate)
{
    auto const mark = env.mark();
    EXPECT_EQ(factory.INewSlot(trunk(1, 5)), nullptr);
    EXPECT_TRUE(channelRequests(mark).empty());

    struct Case {
        ZGCP::CreateParams params;
        std::string line;
    } const cases[] = {
        {testsupport::filePlayerParams({"a", ""}, 1), "voice/mcc[0]: phrase name refused: \"\"\n"},
        {testsupport::filePlayerParams({"a"}, -1), "voice/mcc[0]: repeat count refused: -1\n"},
        {testsupport::filePlayerParams({"a"}, 1),
         "voice/mcc[0]: fail to open /dev/mcc/ctl device for writing: Device or resource busy\n"},
        {testsupport::recorderParams("127.0.0.1", 9),
         "voice/mcc[0]: fail to open /dev/mcc/ctl device for reading: Device or resource busy\n"},
        {testsupport::recorderParams("127.0.0.1", 9), "voice/mcc[0]: MCC_ALLOCATE fail: No space left on device\n"},
        {testsupport::recorderParams("127.0.0.1", 9), "voice/mcc[0]: MCC_TIMESLOT request failed.\n"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.line);
        testsupport::CaptureStream e(std::cerr);
        if (c.line.find("open") != std::string::npos)
            env.sim.failOpen(mcc::kPath, EBUSY);
        else if (c.line.find("ALLOCATE") != std::string::npos)
            env.sim.failRequest(mcc::kPath, mcc::kAllocate, ENOSPC);
        else if (c.line.find("TIMESLOT") != std::string::npos)
            env.sim.failRequest(mcc::kPath, mcc::kTimeslot, EINVAL);
        EXPECT_EQ(factory.INewSlot(c.params), nullptr);
        EXPECT_EQ(e.text(), c.line);
    }
    env.sim.service();
    EXPECT_TRUE(env.mcc.timeslots().empty());
    EXPECT_EQ(env.sim.device(mcc::kPath)->opens().size(), 0u);
}

}  // namespace
