#include "radio/ed137_radio_control.h"

#include "radio/radio_test_support.h"
#include "tests/radio_commands.h"

#include <functional>
#include <memory>

namespace RTPSignalling {
namespace {

using Lines = std::vector<std::string>;
using namespace testsupport;

rtp_ext_init_params const kInit{0x0167, 0, {1, 123, 10, 1}};

struct Ed137ControlTest : radiotest::ControlTest {
    // A gateway control as its slot sets it up.
    std::unique_ptr<ED137RadioGWControl> make(ED137RadioParams const& params, bool timer)
    {
        auto control = std::make_unique<ED137RadioGWControl>(5, kAttach, kInit);
        control->SetParams(params);
        control->Bind(&reports);
        control->SetTimerInterval(params.KeepAliveTimeout() / 2);
        control->SetTimerEnable(timer);
        return control;
    }
};

TEST_F(Ed137ControlTest, ARadioThatTransmitsHearsTheLastPayloadOfEachSender)
{
    struct {
        char const* name;
        TERM::ED137RadioType::NamedNumber type;
        TERM::ED137RadioTxRxMode::NamedNumber mode;
        bool heard;
    } const cases[] = {
        {"txrx radio", TERM::ED137RadioType::radio_txrx, TERM::ED137RadioTxRxMode::txrx, true},
        {"coupling, tx", TERM::ED137RadioType::coupling, TERM::ED137RadioTxRxMode::tx, true},
        {"rx-only radio", TERM::ED137RadioType::radio_rxonly, TERM::ED137RadioTxRxMode::txrx, false},
        {"rx mode", TERM::ED137RadioType::radio_txrx, TERM::ED137RadioTxRxMode::rx, false},
    };
    for (auto const& c : cases) {
        ED137RadioParams params;
        params.type = c.type;
        params.txrxmode = c.mode;
        auto control = make(params, false);
        for (char const* ptt : {"20 00", "40 00", "60 00"})
            deliver("10.0.0.1", 1, ptt);
        deliver("10.0.0.2", 2, "20 00");
        reports.requests.clear();
        EXPECT_EQ(reported(), c.heard ? Lines({"10.0.0.1 tx", "10.0.0.2 tx"}) : Lines()) << c.name;
        if (c.heard) {
            TERM::RtpRadioRequest const& last = reports.requests.at(0);
            EXPECT_EQ(last.get_request().get_ed_137().get_params().get_tx().get_header().get_ptt().asInt(), 3);
        }
    }
}

TEST_F(Ed137ControlTest, TheControllersValuesBecomeHeadersAndMoveTheFilter)
{
    auto control = make({}, false);
    TERM::RadioStatus const withSqi = radioStatus(ed137Status(true, 25, TERM::ED137RadioBSSMethod::agc));
    // A repeated status, and one without an SQI, are in the end-to-end test.
    Sent const cases[] = {
        {"a status with an SQI", [&] { return control->SendASNToChan(withSqi); }, true, {"10 01 11 c9"}, "-"},
        {"PTT on", [&] { return control->SendASNToChan(ed137Command(false, ed137Header(1, false), "10.0.0.7")); }, true,
         {"20 00 00 00"}, "10.0.0.7"},
        {"PTT off", [&] { return control->SendASNToChan(ed137Command(true, ed137Header(0, false), "10.0.0.7")); }, true,
         {"00 00 00 00"}, "-"},
        {"a ZARN status", [&] { return control->SendASNToChan(radioStatus(zarnStatus())); }, false, {}, "-"},
    };
    for (auto const& c : cases)
        expect(c);
}

TEST_F(Ed137ControlTest, SilenceAbortsAtEveryTickAndTheRxHeaderKeepsGoingOut)
{
    // The millisecond count wraps half a second after the control starts.
    clock.setMilliseconds(0xFFFFFFFFu - 499);
    auto control = make({}, true);
    struct {
        char const* name;
        std::function<void()> action;
        Lines written;
        Lines reports;
    } const steps[] = {
        {"1 s", [&] { advance(1000); }, {"00 00 00 00"}, {}},
        {"2 s of silence", [&] { advance(1000); }, {"00 00 00 00"}, {"abort 151"}},
        {"a payload", [&] { deliver("10.0.0.1", 1, "20 00"); }, {}, {"10.0.0.1 tx"}},
        {"1 s after it", [&] { advance(1000); }, {"00 00 00 00"}, {}},
        {"2 s after it", [&] { advance(1000); }, {"00 00 00 00"}, {"abort 151"}},
        {"a tx command", [&] { control->SendASNToChan(ed137Command(true, ed137Header(1, true))); }, {"20 00 00 00"}, {}},
        // The rx header still goes out, with what the command set.
        {"the next tick", [&] { advance(1000); }, {"30 00 00 00"}, {"abort 151"}},
    };
    for (auto const& s : steps) {
        s.action();
        EXPECT_EQ(reported(), s.reports) << s.name;
        EXPECT_EQ(written(), s.written) << s.name;
    }
}

TEST_F(Ed137ControlTest, TheKeepAliveTimeOutStaysWithinTheControllersRanges)
{
    struct {
        std::uint32_t period, multiplier, timeout;
    } const cases[] = {
        {200, 10, 2000}, {20, 2, 40}, {1000, 50, 50000}, {4000000000u, 50, 50000}, {65536, 65536, 50000},
    };
    for (auto const& c : cases) {
        ED137RadioParams params;
        params.r2s_keepalive_period = c.period;
        params.r2s_keepalive_multiplier = c.multiplier;
        EXPECT_EQ(params.KeepAliveTimeout(), c.timeout) << c.period << " x " << c.multiplier;
    }
}

}  // namespace
}  // namespace RTPSignalling
