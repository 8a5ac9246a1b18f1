#include "slots/mcc_slot.h"

#include "board/mcc.h"
#include "slots/t38_slot.h"
#include "slots/voice_factory.h"
#include "tests/mcc_test_support.h"
#include "tests/slots_test_support.h"
#include "tests/stub_child.h"
#include "tests/temp_root.h"

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

// Every slot kind on a channel of the controller: a create it cannot have is declined with its
// line and leaves no channel, no descriptor and no child behind.
TEST_F(MccSlotTest, RefusedCreatesAreLoggedAndLeaveNothingBehind)
{
    using testsupport::failMcc;
    using testsupport::recorderParams;
    using testsupport::t38Params;
    testsupport::TempRoot root;
    testsupport::StubChild relay{root.dir(), T38SoftFactory::kProgram};
    SlotFactory& mccs = MccFactory::instance();
    SlotFactory& voice = VoiceFactory::instance();
    SlotFactory& t38 = T38SoftFactory::instance();
    ZGCP::CreateParams negative = t38Params("10.0.0.1", 4000, 5000);
    negative.ref_t38soft().set_rx_threshold(-1);
    struct Case {
        SlotFactory& factory;
        ZGCP::CreateParams params;
        char const* inject;  // "" for none
        int error;
        std::string line;
    } const cases[] = {
        {mccs, testsupport::mccParams(Type::data, Mode::standard), "open", EACCES,
         "mcc: fail to open MCC device: Permission denied\n"},
        {mccs, testsupport::mccParams(Type::bri, Mode::standard), "allocate", ENOSPC,
         "mcc: MCC_ALLOCATE fail: No space left on device\n"},
        {mccs, testsupport::mccParams(Type::data, Mode::standard), "timeslot", EINVAL,
         "mcc: MCC_TIMESLOT fail: Invalid argument\n"},
        {voice, testsupport::filePlayerParams({"a", ""}, 1), "", 0, "voice/mcc[0]: phrase name refused: \"\"\n"},
        {voice, testsupport::filePlayerParams({"a"}, -1), "", 0, "voice/mcc[0]: repeat count refused: -1\n"},
        {voice, testsupport::filePlayerParams({"a"}, 1), "open", EBUSY,
         "voice/mcc[0]: fail to open /dev/mcc/ctl device for writing: Device or resource busy\n"},
        {voice, recorderParams("127.0.0.1", 9), "open", EBUSY,
         "voice/mcc[0]: fail to open /dev/mcc/ctl device for reading: Device or resource busy\n"},
        {voice, recorderParams("127.0.0.1", 9), "allocate", ENOSPC,
         "voice/mcc[0]: MCC_ALLOCATE fail: No space left on device\n"},
        {voice, recorderParams("127.0.0.1", 9), "timeslot", EINVAL, "voice/mcc[0]: MCC_TIMESLOT request failed.\n"},
        {t38, t38Params("10.0.0.1", 4000, 5000), "open", EIO,
         "t38soft: T38SoftFactory::INewSlot - FAIL to open </dev/mcc/ctl> [5]\n"},
        {t38, t38Params("10.0.0.1", 4000, 5000), "allocate", ENOSPC,
         "t38soft: T38SoftFactory::INewSlot - FAIL to ioctl MCC_ALLOCATE [28]\n"},
        {t38, t38Params("10.0.0.1", 4000, 5000), "timeslot", EINVAL,
         "t38soft: T38SoftFactory::INewSlot - FAIL to ioctl MCC_TIMESLOT [22]\n"},
        {t38, negative, "", 0, "t38soft: T38SoftFactory::INewSlot - FAIL: negative channel parameter\n"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.line);
        testsupport::CaptureStream e(std::cerr);
        if (c.error)
            failMcc(env.sim, c.inject, c.error);
        EXPECT_EQ(c.factory.INewSlot(c.params), nullptr);
        EXPECT_EQ(e.text(), c.line);
    }
    env.sim.service();
    EXPECT_TRUE(env.mcc.timeslots().empty());
    EXPECT_EQ(env.sim.device(mcc::kPath)->opens().size(), 0u);
    EXPECT_TRUE(relay.pids().empty());
}

TEST_F(MccSlotTest, CountsComeFromTheControllerAndAreZeroWhenItFails)
{
    ZGCP::Resources r = resources();
    EXPECT_EQ(std::vector<int>({r.get_mcc_data().getValue(), r.get_mcc_bri().getValue(), r.get_mcc_trans().getValue()}),
              std::vector<int>({16, 8, 32}));
    testsupport::failMcc(env.sim, "counts", EIO);
    r = resources();
    EXPECT_EQ(r.get_mcc_data().getValue() + r.get_mcc_bri().getValue() + r.get_mcc_trans().getValue(), 0);
}

}  // namespace
