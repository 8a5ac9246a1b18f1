#include "slots/trunk_slot.h"

#include "tests/slots_test_support.h"
#include "slots/trunk_bri_slot.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace slotstest;
using State = board::sim::HalModel::Output::State;

std::string name(Slot const& slot)
{
    std::ostringstream os;
    os << slot;
    return os.str();
}

struct TrunkSlotTest : SlotsTest {};

TEST_F(TrunkSlotTest, TimeSlotOfATrunkIsItsSwitchChannelAndReportsBothStreams)
{
    ASSERT_EQ(create(7, trunk(1, 5)), ok());
    Slot* slot = at(7);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->GetTransmitChannel(), 37);
    EXPECT_EQ(slot->GetReceiveChannel(), 37);
    EXPECT_EQ(slot->GetTrunk(), 1u);
    EXPECT_EQ(slot->GetTrunkTimeSlot(), 5u);
    EXPECT_EQ(name(*slot), "07:trunk");
    EXPECT_EQ(signals.take(), (std::vector<std::string>{"transmitter active 37", "receiver active 37"}));
    EXPECT_EQ(slot->GetSlotFactory(), &trunk1);
}

TEST_F(TrunkSlotTest, OnlyTheFourE1TrunksAndTheirThirtyTwoTimeSlotsAreTaken)
{
    EXPECT_EQ(create(1, trunk(4, 1)), fail(ZGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(create(1, trunk(255, 1)), fail(ZGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(at(1), nullptr);
    // Time slots 0 and 16 are time slots like the others.
    EXPECT_EQ(create(2, trunk(0, 0)), ok());
    EXPECT_EQ(create(3, trunk(3, 16)), ok());
    EXPECT_EQ(at(2)->GetTransmitChannel(), 0);
    EXPECT_EQ(at(3)->GetTransmitChannel(), 112);
    EXPECT_EQ(trunk3.slotAt(16), at(3));
}

TEST_F(TrunkSlotTest, SecondSlotForTheSameTimeSlotRemovesTheOlderOne)
{
    ASSERT_EQ(create(7, trunk(1, 5)), ok());
    ASSERT_EQ(create(8, map(BusChannel{1, 2}, BusChannel{0, 0})), ok());
    ASSERT_EQ(connect(8, 7), ok());
    ASSERT_EQ(connect(7, 8), ok());
    signals.take();

    EXPECT_EQ(create(9, trunk(1, 5)), ok());
    EXPECT_NE(err.text().find("trunk-slot: two slots require the same timeslot, remove old.\n old slot 07:trunk\n"),
              std::string::npos)
        << err.text();
    EXPECT_EQ(at(7), nullptr);
    EXPECT_EQ(trunk1.slotAt(5), at(9));
    // The old slot's links went with it: the map slot has neither source nor listeners.
    EXPECT_EQ(at(8)->GetSource(), nullptr);
    EXPECT_TRUE(at(8)->GetListeners().empty());
    EXPECT_EQ(output(37).state, State::written);
    EXPECT_EQ(output(37).byte, 0xD5);
}

TEST_F(TrunkSlotTest, RecreatingTheSameNumberRemovesTheOldSlotThroughTheTableWithoutConflict)
{
    ASSERT_EQ(create(7, trunk(1, 5)), ok());
    Slot* first = at(7);
    EXPECT_EQ(create(7, trunk(1, 5)), ok());
    EXPECT_NE(at(7), nullptr);
    EXPECT_EQ(trunk1.slotAt(5), at(7));
    EXPECT_EQ(err.text().find("trunk-slot:"), std::string::npos) << err.text();
    EXPECT_EQ(table.live().size(), 1u);
    (void)first;
}

TEST_F(TrunkSlotTest, BriChannelIsTrunkTimesFourPlusChannel)
{
    ASSERT_EQ(create(4, bri(2, 3)), ok());
    Slot* slot = at(4);
    EXPECT_EQ(slot->GetTransmitChannel(), 11);
    EXPECT_EQ(slot->GetTrunk(), 2u);
    EXPECT_EQ(slot->GetTrunkTimeSlot(), 3u);
    EXPECT_EQ(name(*slot), "04:trunkBRI");
    EXPECT_EQ(slot->GetSlotFactory(), &trunk_bri2);
    EXPECT_EQ(signals.take(), (std::vector<std::string>{"transmitter active 11", "receiver active 11"}));

    EXPECT_EQ(create(5, bri(2, 4)), fail(ZGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(create(5, bri(8, 0)), fail(ZGCP::ErrorCause::insufficientResources));
}

TEST_F(TrunkSlotTest, BriAndE1FactoriesNeverTakeEachOthersCreatesDespiteSharingSwitchChannels)
{
    // BRI line 0 channel 1 and E1 trunk 0 time slot 1 both use switch channel 1.
    ASSERT_EQ(create(1, bri(0, 1)), ok());
    ASSERT_EQ(create(2, trunk(0, 1)), ok());
    EXPECT_NE(at(1), nullptr);
    EXPECT_EQ(std::string(at(1)->GetName()), "trunkBRI");
    EXPECT_EQ(std::string(at(2)->GetName()), "trunk");
    EXPECT_EQ(trunk_bri0.slotAt(1), at(1));
    EXPECT_EQ(trunk0.slotAt(1), at(2));
    EXPECT_EQ(err.text().find("trunk-slot:"), std::string::npos);

    ASSERT_EQ(create(3, bri(0, 1)), ok());
    EXPECT_EQ(at(1), nullptr);
    EXPECT_NE(at(2), nullptr);
}

TEST_F(TrunkSlotTest, DestroyFreesTheTimeSlot)
{
    ASSERT_EQ(create(7, trunk(2, 9)), ok());
    ASSERT_EQ(destroy(7), ok());
    EXPECT_EQ(trunk2.slotAt(9), nullptr);
    EXPECT_EQ(create(8, trunk(2, 9)), ok());
    EXPECT_EQ(err.text().find("trunk-slot:"), std::string::npos);
}

}  // namespace
