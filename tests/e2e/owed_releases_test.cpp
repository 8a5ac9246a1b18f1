// What a slot lets go of and the driver refuses to take back (a mixer route, a QSIG B channel,
// a digital modem's interface) is owed, on the daemon running on the simulated board: it stays
// with the driver while refused and nothing new takes it; once the driver takes it, it is made
// on the back-off without any request, and the channel then serves as any.

#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::DaemonLauncher;
using testsupport::tdmChannel;

ZGCP::Command const destroyCmd = testsupport::plainCommand(ZGCP::Command::destroy::id);
// In the one line that says what is owed.
char const kOwed[] = "once the driver takes it";
std::string const kDeclined = "error=" + std::to_string(ZGCP::ErrorCause::insufficientResources);

struct OwedRow {
    char const* name;
    std::vector<std::string> setup;            // console commands
    std::optional<ZGCP::CreateParams> lender;  // slot 30, which lends the channel
    ZGCP::CreateParams params;                 // the slot on the channel
    char const* refuse;                        // PATH REQUEST of its release
    char const* held;                          // the console command showing what the driver holds
    // A digital modem: pppd brings its interface up; the free interfaces count as held, and
    // while its reset is owed the create takes a modem of "/dev/mctl".
    bool digital = false;
};

void PrintTo(OwedRow const& row, std::ostream* os) { *os << row.name; }

class OwedReleases : public testsupport::SimDaemonTest, public ::testing::WithParamInterface<OwedRow> {
protected:
    std::string held()
    {
        std::string const text = board->command(GetParam().held);
        if (!GetParam().digital)
            return text;
        return text + " digital-modems=" + std::to_string(resources().get_digital_modems().getValue());
    }
};

TEST_P(OwedReleases, AreMadeOnTheBackOffBeforeTheChannelIsTakenAgain)
{
    OwedRow const& row = GetParam();
    testsupport::StubChild pppd(daemon.root(), "/usr/local/sbin/pppd");
    for (std::string const& command : row.setup)
        ASSERT_EQ(board->command(command), "ok") << command;
    resources();
    if (row.lender) {
        ASSERT_EQ(on(30, create(*row.lender)), "success");
    }
    std::string const clean = held();
    ASSERT_EQ(on(20, create(row.params)), "success");
    if (row.digital) {
        ASSERT_NO_FATAL_FAILURE(trunkSlot7());
        EXPECT_EQ(done(20, connect(7)), "success");
        ASSERT_EQ(board->command("device hdlc0 up on"), "ok");
    }
    std::string const taken = held();
    EXPECT_NE(taken, clean);

    ASSERT_EQ(board->command(std::string("fail-request ") + row.refuse + " EIO always"), "ok");
    EXPECT_EQ(done(20, destroyCmd), "success");
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return daemon.said(kOwed) > 0; })) << daemon.err();
    EXPECT_EQ(held(), taken);
    EXPECT_EQ(on(21, create(row.params)), row.digital ? "success" : kDeclined);
    if (row.digital) {
        EXPECT_EQ(done(21, destroyCmd), "success");
    }
    EXPECT_EQ(held(), taken);

    // The longest wait of the back-off, within the controller's silence time-out.
    ASSERT_EQ(board->command("clear-failures"), "ok");
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return held() == clean; }, 100000)) << held();

    EXPECT_EQ(on(22, create(row.params)), "success");
    EXPECT_NE(held(), clean);
    EXPECT_EQ(done(22, destroyCmd), "success");
    EXPECT_EQ(held(), clean);
    EXPECT_EQ(daemon.said(kOwed), 1u) << daemon.err();
}

std::vector<OwedRow> owedRows()
{
    using namespace testsupport;
    std::vector<std::string> const unit{"device /dev/mixer add 3 32 16"};
    TERM::ModemParams digital = modemParams("");
    digital.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddmV110));
    return {
        {"mixerInputRoute", unit, {}, mixerInParams(3, tdmChannel(1), tdmChannel(0)), "/dev/mixer rx-remove",
         "device /dev/mixer routes 3"},
        {"mixerOutputSources", unit, {}, mixerOutParams(3, tdmChannel(0), {{tdmChannel(1), 20000}}),
         "/dev/mixer rx-clear", "device /dev/mixer routes 3"},
        {"qsigBChannel", {}, qsigParams(true), qsigBParams(30, 1), "/dev/dsp-data delete-b", "dump /dev/dsp-data"},
        {"digitalModemInterface", {"device hdlc0 p2p on"}, {}, modemCreate(digital), "hdlc0 set-flags", "dump hdlc0",
         true},
    };
}

INSTANTIATE_TEST_SUITE_P(EveryKind, OwedReleases, ::testing::ValuesIn(owedRows()),
                         [](::testing::TestParamInfo<OwedRow> const& info) { return std::string(info.param.name); });

}  // namespace
