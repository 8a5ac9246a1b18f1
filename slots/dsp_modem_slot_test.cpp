#include "slots/dsp_modem_slot.h"

#include "tests/modem_test_support.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

namespace {

using namespace modemtest;
using slotstest::ok;

struct DspModemSlotTest : ModemTest {
    DspModemSlotTest()
    {
        EXPECT_EQ(create(7, slotstest::trunk(1, 5)), ok());
        signals.take();
    }

    std::vector<std::string> requests(std::uint64_t from) { return env.requests(from, mctl::kPath); }
};

TEST_F(DspModemSlotTest, SetUpFailuresAbortAndAreTriedAgainFromTheStart)
{
    struct Case {
        char const* what;
        int error;
        std::string line;
    } const cases[] = {
        {"open", EIO, "fail to open device: Input/output error"},
        {"allocate", EBUSY, "insufficient resources : Device or resource busy"},
        {"timeslot", EINVAL, "get timeslot fail : Invalid argument"},
        {"modes", EIO, "set DDM failed : Input/output error"},
    };
    unsigned number = 0;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        std::string const what = c.what;
        if (what == "open")
            env.sim.failOpen(mctl::kPath, c.error);
        else
            env.sim.failRequest(mctl::kPath, mctl.find(what)->number, c.error);
        ASSERT_EQ(create(++number, modemCreate(withModes({TERM::DigitalDataModeEnum::ddmV110}))), ok());
        testsupport::CaptureStream e(std::cerr);
        EXPECT_EQ(connect(number, 7), slotstest::fail(ZGCP::ErrorCause::connectFail));
        std::string const slot = "0" + std::to_string(number) + ":dsp-modem: ";
        EXPECT_EQ(e.text().substr(0, e.text().find('\n') + 1), slot + c.line + "\n");
        EXPECT_EQ(signals.take(), std::vector<std::string>{"abort : " + std::to_string(c.error)});
        // The modem taken on the failed attempt was let go.
        env.sim.service();
        int const channel = board::sim::MctlModel::channel(int(number) - 1);
        EXPECT_EQ(connect(number, 7), ok());
        EXPECT_EQ(signals.take(), (std::vector<std::string>{"transmitter active " + std::to_string(channel),
                                                           "receiver active " + std::to_string(channel)}));
    }
}

TEST_F(DspModemSlotTest, DataModesAndParametersGoToTheModemBeforeTheCall)
{
    using Mode = TERM::DigitalDataModeEnum;
    struct Case {
        std::optional<std::vector<Mode::NamedNumber>> ddm;
        std::vector<std::string> requests;
    } const cases[] = {
        {std::nullopt, {}},
        {std::vector<Mode::NamedNumber>{}, {"modes 0 0 -> 0"}},
        {{{Mode::ddmV120}}, {"modes 0 0 -> 0"}},
        {{{Mode::ddm8BIT}}, {"modes 0 2 -> 0"}},
        {{{Mode::ddmV110, Mode::ddm7BIT, Mode::ddmV120}}, {"modes 0 5 -> 0"}},
    };
    for (Case const& c : cases) {
        TERM::ModemParams p = c.ddm ? withModes(*c.ddm) : modemParams("");
        ASSERT_EQ(create(1, modemCreate(p)), ok());
        std::uint64_t const mark = env.sim.journal().next();
        ASSERT_EQ(connect(1, 7), ok());
        std::vector<std::string> expected{"allocate -> 0", "timeslot -> 1536"};
        expected.insert(expected.end(), c.requests.begin(), c.requests.end());
        expected.insert(expected.end(), {"reset 0 4294967295 -> 0", "answer 0 4294967295 -> 0"});
        EXPECT_EQ(requests(mark), expected);
        ASSERT_EQ(destroy(1), slotstest::Answer({slotstest::Answer::delayed, ZGCP::ErrorCause::invalidParams}));
        ASSERT_TRUE(waitFor([&] { return at(1) == nullptr; }));
    }

    // Parameters follow the reset; failures of either are logged and passed over.
    TERM::ModemParams p = modemParams("9");
    p.set_originate();
    for (auto [offset, value] : {std::pair{3, 5}, std::pair{7, -1}}) {
        TERM::DDModemParam param;
        param.set_offset(offset);
        param.set_value(value);
        p.set_dmp().push_back(param);
    }
    env.sim.failRequest(mctl::kPath, mctl::kResetParams, EIO);
    env.sim.failRequest(mctl::kPath, mctl::kSetParam, EIO);
    ASSERT_EQ(create(1, modemCreate(p)), ok());
    std::uint64_t const mark = env.sim.journal().next();
    ASSERT_EQ(connect(1, 7), ok());
    EXPECT_EQ(requests(mark), (std::vector<std::string>{"allocate -> 0", "timeslot -> 1536",
                                                        "reset 0 4294967295 -> EIO", "param 0 3 5 -> EIO",
                                                        "param 0 7 4294967295 -> 0", "originate 0 4294967295 -> 0"}));
    EXPECT_EQ(slotstest::linesOf(err.text(), "01:dsp-modem: reset")
                  + slotstest::linesOf(err.text(), "01:dsp-modem: set"),
              "01:dsp-modem: reset dmp parameters failed : Input/output error\n"
              "01:dsp-modem: set dmp parameter index=3 value=5 failed : Input/output error\n");
    EXPECT_EQ(pppd.args(started(1, pppd)),
              "file " + root.dir() + "/usr/local/etc/ppp/coptions /dev/mdm0 remotenumber 9");
}

TEST_F(DspModemSlotTest, FaxProgramsReportPagesOnlyWhenTheyRan)
{
    testsupport::StubChild sender(root.dir(), DspModemSlot::kFaxSender);
    TERM::ModemParams send = modemParams("");
    send.set_fax();
    send.set_execargs().push_back(ASN1::IA5String("a"));
    send.set_execargs().push_back(ASN1::IA5String("b"));
    ASSERT_EQ(create(1, modemCreate(send)), ok());
    ASSERT_EQ(connect(1, 7), ok());
    int const pid = started(1, sender);
    EXPECT_EQ(sender.args(pid), "-m 0 a b");
    signals.take();
    ::kill(pid, SIGKILL);
    ASSERT_TRUE(waitFor([&] { return signals.texts.size() == 2; }));
    EXPECT_EQ(signals.signals[0].get_modemProceeding().get_acct().get_octetsIn().get_low().getValue(), 0);
    EXPECT_EQ(signals.texts[1], "abort : 9");
    EXPECT_NE(log.text().find("01:dsp-modem: fax transfer failed\n01:dsp-modem: pages received: 0\n"),
              std::string::npos);
    signals.take();

    // A fax originate without a program holds the modem; a receiver that cannot run ends
    // with its abort alone.
    TERM::ModemParams call = modemParams("");
    call.set_fax();
    call.set_originate();
    ASSERT_EQ(create(2, modemCreate(call)), ok());
    ASSERT_EQ(connect(2, 7), ok());
    // The sender let its modem go.
    EXPECT_EQ(mctl.modem(0).call, "fax");
    EXPECT_FALSE(modem(2)->pppd_executing());
    TERM::ModemParams receive = modemParams("");
    receive.set_fax();
    ASSERT_EQ(create(3, modemCreate(receive)), ok());
    ASSERT_EQ(connect(3, 7), ok());
    signals.take();
    ASSERT_TRUE(waitFor([&] { return !signals.texts.empty(); }));
    EXPECT_EQ(signals.take(), std::vector<std::string>{"abort : 512"});
    EXPECT_NE(err.text().find("03:dsp-modem: fax program could not be executed\n"), std::string::npos);
}

TEST_F(DspModemSlotTest, AReceivedFaxNeverTakesTheNameOfAnEarlierOne)
{
    testsupport::FrozenWallClock wall(13 * 3600 + 5 * 60 + 9);
    std::tm local{};
    local.tm_hour = 13;
    local.tm_min = 5;
    local.tm_sec = 9;
    EXPECT_EQ(DspModemSlot::faxFileName(local), "/var/fax-13-05-09.g3");
    std::ofstream(root.dir() + "/var/fax-13-05-09.g3") << "earlier";

    testsupport::StubChild receiver(root.dir(), DspModemSlot::kFaxReceiver);
    TERM::ModemParams receive = modemParams("");
    receive.set_fax();
    for (unsigned number : {1u, 2u}) {
        ASSERT_EQ(create(number, modemCreate(receive)), ok());
        ASSERT_EQ(connect(number, 7), ok());
        EXPECT_EQ(receiver.args(started(number, receiver)),
                  "-m 0 receive " + root.dir() + "/var/fax-13-05-09-" +
                      std::to_string(number) + ".g3");
    }
}

}  // namespace
