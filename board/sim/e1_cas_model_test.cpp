#include "board/sim/e1_cas_model.h"

#include "board/board.h"
#include "board/e1_cas.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(E1CasModel, TrunksTimeSlotsAndFlagsOutOfRangeAreRefused)
{
    board::sim::E1CasModel model;
    auto request = [&](unsigned long number, void* arg) { return model.request(nullptr, *model.find(number), arg); };
    e1cas::ChannelControl timeslot32{{3, 32, 0, 0, {0, 0}}, e1cas::kOpenChannel};
    e1cas::ChannelControl flag2{{3, 5, 0, 0, {0, 0}}, 2};
    cas_channel trunk4{4, 5, 0, 0, {0, 0}};
    EXPECT_EQ(request(e1cas::kOpenTrunk, board::byValue(4)), -EINVAL);
    EXPECT_EQ(request(e1cas::kChannelControl, &timeslot32), -EINVAL);
    EXPECT_EQ(request(e1cas::kChannelControl, &flag2), -EINVAL);
    EXPECT_EQ(request(e1cas::kGetChannel, &trunk4), -EINVAL);
    EXPECT_EQ(model.command({"rx", "3", "32", "1"}), "error usage: rx T TS BITS | channel T TS");
    EXPECT_EQ(model.dump(), "open=");
}

}  // namespace
