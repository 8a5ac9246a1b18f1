#include "slots/ext_slot.h"

#include "tests/slots_test_support.h"

#include <gtest/gtest.h>

namespace {

using namespace slotstest;
using State = board::sim::HalModel::Output::State;

struct ExtSlotTest : SlotsTest {};

TEST_F(ExtSlotTest, TransmitterIsReportedAtOnceTheReceiverOnlyOnActivate)
{
    ASSERT_EQ(create(3, ext(10, 20)), ok());
    EXPECT_EQ(std::string(at(3)->GetName()), "bri");
    EXPECT_EQ(signals.take(), std::vector<std::string>{"transmitter active 8202"});
}

TEST_F(ExtSlotTest, ReceiverTakesASourceOnlyWhileActivated)
{
    ASSERT_EQ(create(3, ext(10, 20)), ok());
    ASSERT_EQ(create(7, trunk(1, 5)), ok());
    signals.take();

    EXPECT_EQ(connect(7, 3), fail(ZGCP::ErrorCause::connectFail));
    EXPECT_NE(err.text().find("slot 03:bri don't have input stream from 07:trunk\n"), std::string::npos) << err.text();

    auto const mark = env.mark();
    ASSERT_EQ(activate(3), ok());
    EXPECT_EQ(signals.take(), std::vector<std::string>{"receiver active 8212"});
    EXPECT_EQ(output(8212).state, State::written);
    EXPECT_EQ(output(8212).byte, 0xD5);

    // A second activate reports nothing new but writes the idle byte again.
    ASSERT_EQ(activate(3), ok());
    EXPECT_TRUE(signals.take().empty());
    auto const writes = env.requests(mark);
    EXPECT_EQ(std::count_if(writes.begin(), writes.end(),
                            [](std::string const& r) { return r.rfind("write 8212 ", 0) == 0; }),
              2)
        << ::testing::PrintToString(writes);

    EXPECT_EQ(connect(7, 3), ok());
    EXPECT_EQ(output(8212).state, State::connected);
    EXPECT_EQ(output(8212).input, 37);

    ASSERT_EQ(deactivate(3), ok());
    EXPECT_EQ(signals.take(), std::vector<std::string>{"receiver inactive"});
    EXPECT_EQ(at(3)->GetSource(), nullptr);
    EXPECT_TRUE(at(7)->GetListeners().empty());
    EXPECT_EQ(output(8212).state, State::disabled);
}

TEST_F(ExtSlotTest, DestroyDisablesTheReceiverChannel)
{
    ASSERT_EQ(create(3, ext(1, 2)), ok());
    ASSERT_EQ(activate(3), ok());
    ASSERT_EQ(destroy(3), ok());
    EXPECT_EQ(output(8194).state, State::disabled);
}

TEST_F(ExtSlotTest, TwoSlotsMayNameTheSameChannels)
{
    EXPECT_EQ(create(1, ext(4, 4)), ok());
    EXPECT_EQ(create(2, ext(4, 4)), ok());
    EXPECT_NE(at(1), nullptr);
    EXPECT_NE(at(2), nullptr);
}

TEST_F(ExtSlotTest, IndexesOutsideTheSharedBusAreDeclined)
{
    EXPECT_EQ(create(1, ext(0, 2047)), ok());
    EXPECT_EQ(create(2, ext(2047, 0)), ok());
    EXPECT_EQ(create(3, ext(0, 2048)), fail(ZGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(create(3, ext(2048, 0)), fail(ZGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(create(3, ext(-1, 0)), fail(ZGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(create(3, ext(0, -8192)), fail(ZGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(at(3), nullptr);
}

}  // namespace
