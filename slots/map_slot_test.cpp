#include "slots/map_slot.h"

#include "tests/slots_test_support.h"

#include <gtest/gtest.h>

namespace {

using namespace slotstest;
using State = board::sim::HalModel::Output::State;

struct MapSlotTest : SlotsTest {};

TEST_F(MapSlotTest, TransmitterOnlySlotIsASourceButNeverADestination)
{
    ASSERT_EQ(create(8, map(BusChannel{1, 2}, std::nullopt)), ok());
    EXPECT_EQ(at(8)->GetTransmitChannel(), 8322);
    EXPECT_EQ(at(8)->GetReceiveChannel(), -1);
    EXPECT_EQ(signals.take(), std::vector<std::string>{"transmitter active 8322"});

    ASSERT_EQ(create(7, trunk(1, 5)), ok());
    EXPECT_EQ(connect(8, 7), ok());
    EXPECT_EQ(output(37).state, State::connected);
    EXPECT_EQ(output(37).input, 8322);
    EXPECT_NE(log.text().find("mux: slot 08:map [8322] -> 07:trunk [37]\n"), std::string::npos) << log.text();

    EXPECT_EQ(connect(7, 8), fail(ZGCP::ErrorCause::connectFail));
    EXPECT_NE(err.text().find("slot 08:map don't have input stream from 07:trunk\n"), std::string::npos) << err.text();
}

TEST_F(MapSlotTest, DestroyDisablesTheReceiverChannelOnTheBus)
{
    ASSERT_EQ(create(3, map(std::nullopt, BusChannel{0, 0})), ok());
    EXPECT_EQ(at(3)->GetReceiveChannel(), 8192);
    EXPECT_EQ(signals.take(), std::vector<std::string>{"receiver active 8192"});
    ASSERT_EQ(create(4, trunk(0, 3)), ok());
    ASSERT_EQ(connect(4, 3), ok());
    EXPECT_EQ(output(8192).state, State::connected);

    unsigned const disables = env.hal.disableCount(8192);
    ASSERT_EQ(destroy(3), ok());
    EXPECT_NE(log.text().find("map: disable map channel 0\n"), std::string::npos) << log.text();
    EXPECT_EQ(output(8192).state, State::disabled);
    EXPECT_EQ(env.hal.disableCount(8192), disables + 1);
    EXPECT_EQ(MapFactory::instance().owner(0), nullptr);
}

TEST_F(MapSlotTest, OneOwnerPerBusChannelForTransmittersAndReceiversAlike)
{
    ASSERT_EQ(create(1, map(BusChannel{1, 2}, BusChannel{0, 5})), ok());
    // The new receiver is the old slot's transmitter channel (index 130).
    ASSERT_EQ(create(2, map(std::nullopt, BusChannel{1, 2})), ok());
    EXPECT_EQ(at(1), nullptr);
    EXPECT_NE(err.text().find("map-slot: two slots require the same ipc-slot, remove old.\n"
                              "new slot na:map <-> old slot 01:map\n"),
              std::string::npos)
        << err.text();
    // Every entry of the removed slot went with it.
    EXPECT_EQ(MapFactory::instance().owner(5), nullptr);
    EXPECT_EQ(MapFactory::instance().owner(130), at(2));
    EXPECT_EQ(err.text().find("internal error"), std::string::npos) << err.text();
}

TEST_F(MapSlotTest, OldSlotHoldingBothClaimedChannelsIsRemovedOnce)
{
    ASSERT_EQ(create(1, map(BusChannel{0, 1}, BusChannel{0, 2})), ok());
    ASSERT_EQ(create(2, map(BusChannel{0, 2}, BusChannel{0, 1})), ok());
    EXPECT_EQ(at(1), nullptr);
    EXPECT_EQ(err.count("map-slot: two slots"), 1u) << err.text();
    EXPECT_EQ(MapFactory::instance().owner(1), at(2));
    EXPECT_EQ(MapFactory::instance().owner(2), at(2));
}

TEST_F(MapSlotTest, SlotWithoutChannelsHasNoStreams)
{
    ASSERT_EQ(create(6, map(std::nullopt, std::nullopt)), ok());
    EXPECT_TRUE(signals.take().empty());
    ASSERT_EQ(create(7, trunk(0, 1)), ok());
    EXPECT_EQ(connect(6, 7), fail(ZGCP::ErrorCause::connectFail));
    EXPECT_EQ(connect(7, 6), fail(ZGCP::ErrorCause::connectFail));
    EXPECT_EQ(destroy(6), ok());
    EXPECT_EQ(log.text().find("map: disable"), std::string::npos);
}

TEST_F(MapSlotTest, SameChannelAsTransmitterAndReceiverKeepsItsNewSlot)
{
    ASSERT_EQ(create(5, map(BusChannel{3, 7}, BusChannel{3, 7})), ok());
    Slot* slot = at(5);
    ASSERT_NE(slot, nullptr);
    int const channel = 8192 + 3 * 128 + 7;
    EXPECT_EQ(slot->GetTransmitChannel(), channel);
    EXPECT_EQ(slot->GetReceiveChannel(), channel);
    EXPECT_EQ(MapFactory::instance().owner(3 * 128 + 7), slot);
    EXPECT_EQ(err.text().find("map-slot"), std::string::npos) << err.text();
    EXPECT_EQ(signals.take(), (std::vector<std::string>{"receiver active 8583", "transmitter active 8583"}));

    ASSERT_EQ(destroy(5), ok());
    EXPECT_EQ(MapFactory::instance().owner(3 * 128 + 7), nullptr);
    EXPECT_EQ(err.text().find("internal error"), std::string::npos) << err.text();
    EXPECT_EQ(output(channel).state, State::disabled);
}

}  // namespace
