#include "slots/echo_slot.h"

#include "tests/slots_test_support.h"

#include <gtest/gtest.h>

namespace {

using namespace slotstest;

struct EchoSlotTest : SlotsTest {
    ~EchoSlotTest() override
    {
        for (unsigned bus = 0; bus < EchoFactory::kBuses; ++bus)
            EchoFactory::instance().SetBus(bus, false);
    }
};

TEST_F(EchoSlotTest, NoBusIsFoundSoEveryEchoCreateIsDeclined)
{
    EXPECT_EQ(create(1, echo(0, 0)), fail(ZGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(create(1, echo(16, 0)), fail(ZGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(at(1), nullptr);

    ZGCP::Resources resources;
    EchoFactory::instance().Query(resources);
    EXPECT_EQ(resources.get_echoBus().size(), 0u);
}

TEST_F(EchoSlotTest, EnabledBusGivesThirtyTwoTimesBusPlusChannel)
{
    EchoFactory::instance().SetBus(2, true);
    EchoFactory::instance().SetBus(16, true);
    ASSERT_EQ(create(1, echo(2, 5)), ok());
    EXPECT_EQ(at(1)->GetTransmitChannel(), 69);
    EXPECT_EQ(at(1)->GetReceiveChannel(), 69);
    EXPECT_EQ(std::string(at(1)->GetName()), "echo");
    EXPECT_EQ(signals.take(), (std::vector<std::string>{"transmitter active 69", "receiver active 69"}));
    EXPECT_EQ(create(2, echo(16, 0)), fail(ZGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(create(2, echo(3, 0)), fail(ZGCP::ErrorCause::insufficientResources));

    EchoFactory::instance().SetBus(9, true);
    ZGCP::Resources resources;
    EchoFactory::instance().Query(resources);
    ASSERT_EQ(resources.get_echoBus().size(), 2u);
    EXPECT_EQ(resources.get_echoBus()[0].getValue(), 2);
    EXPECT_EQ(resources.get_echoBus()[1].getValue(), 9);
    EXPECT_EQ(destroy(1), ok());
}

}  // namespace
