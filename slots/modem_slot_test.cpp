#include "slots/modem_slot.h"

#include "tests/modem_test_support.h"

#include <signal.h>

#include <gtest/gtest.h>

namespace {

using namespace modemtest;
using testsupport::Bytes;

std::string joined(std::vector<std::string> const& args)
{
    std::string out;
    for (std::string const& a : args)
        out += (out.empty() ? "" : " ") + a;
    return out;
}

TEST(ModemSlotArguments, TheControllersArgumentsReplaceOptionsDeviceAndNumber)
{
    testsupport::TempRoot root;
    std::string const options = root.dir() + "/usr/local/etc/ppp/aoptions";
    TERM::ModemParams own = modemParams("");
    own.set_execfile("/opt/dial");
    std::string many = "/usr/local/sbin/pppd";
    for (int i = 0; i < 70; ++i) {
        own.set_execargs().push_back(ASN1::IA5String("a" + std::to_string(i)));
        if (i < 62)
            many += " a" + std::to_string(i);
    }
    TERM::ModemParams plenty = own;
    plenty.omit_execfile();
    own.set_execargs().clear();
    own.set_execargs().push_back(ASN1::IA5String("x"));

    struct Case {
        TERM::ModemParams params;
        std::string args;
    } const cases[] = {
        {modemParams(""), "/usr/local/sbin/pppd file " + options + " /dev/mdm3"},
        {own, "/opt/dial x"},
        {plenty, many},
    };
    for (Case const& c : cases)
        EXPECT_EQ(joined(ModemSlot::pppdArguments(c.params, "/dev/mdm3", "/usr/local/etc/ppp/aoptions")), c.args);
}

struct ModemSlotTest : ModemTest {
    void deliver(Bytes const& record) { modem(1)->OnAuth(reinterpret_cast<attr const*>(record.data())); }
    // Slot 1 with the parameters, connected with trunk slot 7.
    void call(TERM::ModemParams const& params)
    {
        ASSERT_EQ(create(1, modemCreate(params)), slotstest::ok());
        ASSERT_EQ(create(7, slotstest::trunk(1, 5)), slotstest::ok());
        ASSERT_EQ(connect(1, 7), slotstest::ok());
    }
};

TEST_F(ModemSlotTest, RecordsOfUnexpectedSizeOrTypeAreLoggedAndDropped)
{
    ASSERT_EQ(create(1, modemCreate(modemParams(""))), slotstest::ok());
    std::string const longName(70, 'n');
    struct Case {
        Bytes record;
        std::string result;
    } const cases[] = {
        {testsupport::record(139, 1, -1), "auth request, invalid size: 139"},
        {testsupport::record(141, 1, -1), "auth request, invalid size: 141"},
        {testsupport::record(63, 4, -1), "auth accounting, invalid size: 63"},
        {testsupport::record(16, 2, -1), "auth accept, ignored."},
        {testsupport::record(36, 3, -1), "auth ip, ignored."},
        {testsupport::record(12, 0x1f, -1), "unknown request from portslave: 0x1f"},
        // Each text stays within its field.
        {testsupport::authRequest(-1, longName, "pw"),
         "modemProceeding : auth : {\n  username \"" + longName.substr(0, 64) + "\",\n  password \"pw\"\n}"},
    };
    for (Case const& c : cases) {
        testsupport::CaptureStream e(std::cerr);
        deliver(c.record);
        std::vector<std::string> const made = signals.take();
        EXPECT_EQ(made.empty() ? e.text() : made.front(), made.empty() ? "01:dsp-modem: " + c.result + "\n" : c.result);
    }
    EXPECT_EQ(run(1, slotstest::activateCmd()), slotstest::fail(ZGCP::ErrorCause::unsupported));
    EXPECT_EQ(slotstest::linesOf(err.text(), "01:"), "01:dsp-modem: modem's activation requests parameter.\n");
}

TEST_F(ModemSlotTest, PppdEndingOnItsOwnIsAnAbortWithItsWaitStatus)
{
    pppd.configure("RUN=0; EXIT=1");
    ASSERT_NO_FATAL_FAILURE(call(modemParams("55")));
    int const pid = modem(1)->childId();
    signals.take();
    ASSERT_TRUE(waitFor([&] { return !signals.texts.empty(); }));
    EXPECT_EQ(signals.take(), std::vector<std::string>{"abort : 256"});
    EXPECT_NE(log.text().find("01:dsp-modem: pppd executed cid=\"55\" pid=" + std::to_string(pid) + "\n"),
              std::string::npos);
    EXPECT_NE(log.text().find("01:dsp-modem: pppd terminated with code 256\n"), std::string::npos);
    EXPECT_FALSE(modem(1)->pppd_executing());
}

TEST_F(ModemSlotTest, PppdIgnoringHangUpIsKilledAndTheDestroyAnsweredAfter5000Ms)
{
    Mux::TestClock clock;
    pppd.configure("IGNORE=HUP");
    ASSERT_NO_FATAL_FAILURE(call(modemParams("")));
    int const pid = started(1, pppd);
    EXPECT_EQ(destroy(1), slotstest::Answer({slotstest::Answer::delayed, ZGCP::ErrorCause::invalidParams}));
    ASSERT_TRUE(waitFor([&] { return pppd.recorded(pid, "signal HUP"); }));
    testsupport::advance(clock, ModemSlot::kTerminateMs - 1);
    ASSERT_NE(at(1), nullptr);
    testsupport::advance(clock, 1);
    EXPECT_EQ(at(1), nullptr);
    EXPECT_EQ(slotstest::linesOf(err.text(), "01:"),
              "01:dsp-modem: sent HUP to pppd.\n01:dsp-modem: pppd terminate timeout!\n"
              "01:dsp-modem: pppd isn't terminated, killing ...\n");
    EXPECT_TRUE(waitFor([&] { return ::kill(pid, 0) != 0; }));
    EXPECT_EQ(factory->dspSlots().size(), 0u);
}

TEST_F(ModemSlotTest, ASlotLeftMidHangUpByTheControllerLeavesNothingBehind)
{
    ASSERT_NO_FATAL_FAILURE(call(modemParams("")));
    int const pid = started(1, pppd);
    EXPECT_EQ(destroy(1), slotstest::Answer({slotstest::Answer::delayed, ZGCP::ErrorCause::invalidParams}));
    table.OnDisconnect();
    EXPECT_TRUE(factory->dspSlots().empty());
    EXPECT_TRUE(waitFor([&] { return ::kill(pid, 0) != 0; }));
}

}  // namespace
