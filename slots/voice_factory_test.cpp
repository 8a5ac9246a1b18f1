#include "slots/voice_factory.h"

#include "board/mcc.h"
#include "slots/voice_slot.h"
#include "tests/mcc_test_support.h"
#include "tests/slots_test_support.h"

#include <fcntl.h>

#include <gtest/gtest.h>

namespace {

using namespace slotstest;

struct VoiceFactoryTest : SlotsTest {
    VoiceFactory& factory = VoiceFactory::instance();

    // The access modes of the channel opens journaled since the mark (O_WRONLY 1, O_RDONLY
    // 0), all non-blocking.
    std::vector<int> opens(std::uint64_t mark)
    {
        std::vector<int> out;
        for (auto const& e : env.sim.journal().since(mark))
            if (e.path == mcc::kPath && e.kind == board::sim::JournalEntry::Kind::open && (e.value & O_NONBLOCK))
                out.push_back(int(e.value & O_ACCMODE));
        return out;
    }
};

TEST_F(VoiceFactoryTest, PlayersAndRecordersEachHoldAChannelUntilDestroyed)
{
    // A create for another kind of slot does not touch the controller.
    auto const mark = env.mark();
    EXPECT_EQ(factory.INewSlot(trunk(1, 5)), nullptr);
    EXPECT_TRUE(env.sim.journal().since(mark).empty());
    ASSERT_EQ(create(3, testsupport::filePlayerParams({"a"}, 1)), ok());
    ASSERT_EQ(create(4, testsupport::recorderParams("127.0.0.1", 9)), ok());
    EXPECT_EQ(opens(mark), (std::vector<int>{O_WRONLY, O_RDONLY}));
    EXPECT_EQ(testsupport::mccAllocations(env.sim, mark),
              (std::vector<std::vector<std::uint32_t>>{{2, 1024, 0, 0, 5}, {2, 1024, 0, 5, 0}}));
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

}  // namespace
