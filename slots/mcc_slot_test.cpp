#include "slots/mcc_slot.h"

#include "board/mcc.h"
#include "tests/mcc_test_support.h"
#include "tests/slots_test_support.h"

#include <gtest/gtest.h>

namespace {

using namespace slotstest;
using Type = ZGCP::MccType;
using Mode = ZGCP::MccMode;

struct MccSlotTest : SlotsTest {
    MccSlotTest() { MccFactory::instance(); }
    ~MccSlotTest() override { env.sim.clearFailures(); }

    ZGCP::Resources resources()
    {
        ZGCP::Resources r;
        MccFactory::instance().Query(r);
        return r;
    }
};

TEST_F(MccSlotTest, ChannelTypeComesFromTypeAndModeAndTheChannelGoesWithTheSlot)
{
    struct Case {
        Type::NamedNumber type;
        Mode::NamedNumber mode;
        std::uint32_t channelType;
    } const cases[] = {
        {Type::data, Mode::standard, mcc::kData},
        {Type::bri, Mode::standard, mcc::kBri},
        {Type::transparent, Mode::standard, mcc::kTransparent},
        {Type::data, Mode::ss7, mcc::kSs7},
        {Type::bri, Mode::ss7, mcc::kSs7},
        {Type::transparent, Mode::ss7, mcc::kSs7},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.channelType);
        auto const mark = env.mark();
        ASSERT_EQ(create(5, testsupport::mccParams(c.type, c.mode)), ok());
        EXPECT_EQ(testsupport::mccAllocations(env.sim, mark),
                  (std::vector<std::vector<std::uint32_t>>{{c.channelType, 512, 0, 1, 1}}));
        EXPECT_EQ(env.mcc.timeslots(), std::vector<int>{at(5)->GetTransmitChannel()});
        ASSERT_EQ(destroy(5), ok());
        env.sim.service();
        EXPECT_TRUE(env.mcc.timeslots().empty());
    }
    EXPECT_NE(log.text().find("mcc: MCC_ALLOCATE type=3\n"), std::string::npos);
    // The slot reports no stream state of its own.
    EXPECT_TRUE(signals.take().empty());
}

TEST_F(MccSlotTest, FailuresAreLoggedCreatesDeclinedCountsZero)
{
    testsupport::failMcc(env.sim, "open", EACCES);
    EXPECT_EQ(create(5, testsupport::mccParams(Type::data, Mode::standard)), fail(ZGCP::ErrorCause::insufficientResources));
    env.mcc.setCapacity(mcc::kBri, 0);
    EXPECT_EQ(create(5, testsupport::mccParams(Type::bri, Mode::standard)), fail(ZGCP::ErrorCause::insufficientResources));
    env.mcc.setCapacity(mcc::kBri, board::sim::MccModel::kDefaultCapacity[mcc::kBri]);
    EXPECT_EQ(linesOf(err.text(), "mcc: "), "mcc: fail to open MCC device: Permission denied\n"
                          "mcc: MCC_ALLOCATE fail: No space left on device\n");

    ZGCP::Resources r = resources();
    EXPECT_EQ(std::vector<int>({r.get_mcc_data().getValue(), r.get_mcc_bri().getValue(), r.get_mcc_trans().getValue()}),
              std::vector<int>({16, 8, 32}));
    testsupport::failMcc(env.sim, "counts", EIO);
    r = resources();
    EXPECT_EQ(r.get_mcc_data().getValue() + r.get_mcc_bri().getValue() + r.get_mcc_trans().getValue(), 0);
}

}  // namespace
