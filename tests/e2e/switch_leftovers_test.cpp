// Every slot kind that goes through the time-slot switch, churned on the daemon running on the
// simulated board: created, joined with a trunk time slot both ways, parted, destroyed (parted
// first, or still joined), and at last destroyed by the loss of the controller. Afterwards the
// switch holds no connection; and none is left driven when the board refuses the requests
// that the loss of the controller makes. (Each request of a churn refused: the switch-failure
// table.)

#include "tests/switch_kinds_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::DaemonLauncher;

class SwitchLeftovers : public testsupport::SwitchKindsTest {};

TEST_F(SwitchLeftovers, EverySlotKindLeavesNoConnectionWhenDestroyedOrWhenTheControllerGoes)
{
    prepare();
    std::vector<Kind> const all = kinds(peer.port());

    // Parted, then destroyed; then destroyed while joined. The channels given back are taken
    // again by the kinds that follow.
    for (int round = 0; round < 2; ++round) {
        for (unsigned i = 0; i < all.size(); ++i) {
            SCOPED_TRACE(std::string(all[i].name) + " round " + std::to_string(round));
            join(i, all[i]);
            if (round == 0) {
                EXPECT_EQ(done(slot(i), disconnectCmd), "success");
                EXPECT_EQ(done(trunk(i), disconnectCmd), "success");
            }
            // The QSIG slot goes after its B slot.
            if (i != kQsig)
                destroy(i);
            if (i == kQsig + 1)
                destroy(kQsig);
        }
        EXPECT_EQ(board->switchLeftovers(), "") << "round " << round;
    }

    for (unsigned i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(all[i].name);
        join(i, all[i]);
    }
    EXPECT_NE(board->switchLeftovers(), "");
    client->close();
    DaemonLauncher::waitFor([&] { return board->switchLeftovers().empty(); });
    EXPECT_EQ(board->switchLeftovers(), "");
    ASSERT_TRUE(attach());
}

// One row a switch request that the loss of the controller makes: write or disable. Every
// slot kind is joined, then destroyed by the loss of the controller, every such request
// refused.
class SwitchFailuresAtControllerLoss : public testsupport::SwitchKindsTest,
                                      public ::testing::WithParamInterface<std::string> {};

TEST_P(SwitchFailuresAtControllerLoss, NothingIsLeftDriven)
{
    std::string const request = GetParam();
    prepare();
    std::vector<Kind> const all = kinds(peer.port());
    for (unsigned i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(all[i].name);
        join(i, all[i]);
    }
    ASSERT_EQ(board->command("fail-request /dev/hal " + request + " EIO always"), "ok");
    client->close();
    if (request == "disable") {
        // What the board refuses to disable goes once it no longer refuses.
        EXPECT_TRUE(DaemonLauncher::waitFor([&] { return board->command("dump /dev/mcc/ctl").find(':') == std::string::npos; }));
        EXPECT_NE(board->switchLeftovers(), "");
        EXPECT_EQ(board->command("clear-failures"), "ok");
    }
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return board->switchLeftovers().empty(); })) << board->switchLeftovers();
    EXPECT_EQ(board->command("clear-failures"), "ok");
    ASSERT_TRUE(attach());
}

INSTANTIATE_TEST_SUITE_P(EveryRequest, SwitchFailuresAtControllerLoss, ::testing::Values("write", "disable"),
                         [](::testing::TestParamInfo<std::string> const& info) { return info.param; });

}  // namespace
