#include "radio/zarn_radio_control.h"

#include "radio/radio_test_support.h"
#include "tests/radio_commands.h"

#include <fcntl.h>

#include <functional>
#include <memory>

namespace RTPSignalling {
namespace {

using Lines = std::vector<std::string>;
using namespace testsupport;

rtp_ext_init_params const kInit{0x1337, 0, {0, 0, 0, 0}};

TERM::RadioModifier zarnCommand(std::function<void(TERM::ZarnRadioModifierParams&)> const& select)
{
    TERM::ZarnRadioModifier m;
    m.set_addr().set_session_addr("10.0.0.9");
    m.set_addr().set_session_ssrc(9);
    select(m.set_params());
    return TERM::RadioModifier(TERM::RadioModifier::zarn::id, m);
}

TERM::RadioModifier wmChan(int channel, char const* frequency)
{
    return zarnCommand([&](auto& p) {
        auto& c = p.select_wm_chan();
        c.set_freq().set_channel(channel);
        c.set_freq().set_frequency(frequency);
        c.set_squelshe(TERM::RadioSquelshe::off);
        c.set_rte(TERM::RadioRTE::n0n);
    });
}

struct ZarnControlTest : radiotest::ControlTest {
    // A gateway control as its slot sets it up, after the create-time status.
    std::unique_ptr<ZarnRadioGWControl> make(TERM::ZarnRadioStatus const& status, bool timer)
    {
        auto control = std::make_unique<ZarnRadioGWControl>(5, kAttach, kInit);
        control->Bind(&reports);
        control->SetTimerEnable(timer);
        EXPECT_TRUE(control->SendASNToChan(radioStatus(status)));
        return control;
    }
};

TEST_F(ZarnControlTest, ADrainReportsTheLastPacketOfEachRunFromASender)
{
    std::string const ptt = "03 34 00 00", chan = "02 f0 00 00 00 00 00 07 43 18 00 00", unknown = "ff 00 00 00";
    struct {
        char const* name;
        std::vector<std::pair<char const*, std::string>> payloads;
        Lines reports;
    } const cases[] = {
        {"runs",
         {{"10.0.0.1", ptt}, {"10.0.0.1", ptt}, {"10.0.0.1", chan}, {"10.0.0.2", ptt}},
         {"10.0.0.1 gw-set-ptt", "10.0.0.1 gw-set-freq", "10.0.0.2 gw-set-ptt"}},
        {"an undecodable end", {{"10.0.0.1", ptt}, {"10.0.0.1", unknown}}, {"10.0.0.1 gw-set-ptt"}},
        {"nothing decodes", {{"10.0.0.1", unknown}, {"10.0.0.2", "03"}}, {}},
    };
    auto control = make(zarnStatus(), false);
    for (auto const& c : cases) {
        for (auto const& [addr, payload] : c.payloads)
            deliver(addr, 1, payload);
        EXPECT_EQ(reported(), c.reports) << c.name;
    }
}

TEST_F(ZarnControlTest, ADeviceThatEndsIsNoLongerWatched)
{
    auto control = make(zarnStatus(), false);
    sim.add<board::sim::RtpExtModel>(&rtp);  // the control's open sees the end of the device
    EXPECT_EQ(reported(), Lines{"abort 0"});
    EXPECT_EQ(reported(), Lines{});
    EXPECT_EQ(errors.count("fail to read from rtp_ext: end of file\n"), 1u) << "said once, then no longer read";
}

TEST_F(ZarnControlTest, WhileTransmittingTheOwnerAndAHigherPriorityPttAreHeard)
{
    auto control = make(zarnStatus(), false);
    // The driver keeps no filter here, so that every packet reaches the access rule.
    sim.failRequest(rtp_ext::kPath, rtp_ext::kSetFilter, EIO, -1);
    ASSERT_TRUE(control->SendASNToChan(zarnTrans(true, "10.0.0.1", 11, 5)));
    struct {
        char const* addr;
        char const* payload;
        bool heard;
    } const cases[] = {
        {"10.0.0.2", "03 34 00 00", true},                                  // PTT, priority 3
        {"10.0.0.2", "03 54 00 00", false},                                 // PTT, priority 5
        {"10.0.0.2", "03 30 00 00", false},                                 // priority 3 without PTT
        {"10.0.0.1", "02 f0 00 00 00 00 00 07 43 18 00 00", true},          // the owner, priority 15
    };
    for (auto const& c : cases) {
        deliver(c.addr, 2, c.payload);
        EXPECT_EQ(reported().size(), c.heard ? 1u : 0u) << c.addr << " " << c.payload;
    }
}

TEST_F(ZarnControlTest, TheGatewayTakesEveryZarnValueAndNoOther)
{
    auto control = make(zarnStatus(), false);
    TERM::RadioModifier const setFlags = zarnCommand([](auto& p) { p.select_gw_set_flags().set_flags(radioFlags(5)); });
    Sent const cases[] = {
        {"a status", [&] { return control->SendASNToChan(radioStatus(zarnStatus())); }, true, {}, "-"},
        {"a command of the IP side", [&] { return control->SendASNToChan(setFlags); }, true, {}, "-"},
        {"an ED-137 status", [&] { return control->SendASNToChan(radioStatus(ed137Status(true))); }, false, {}, "-"},
        {"an ED-137 command", [&] { return control->SendASNToChan(ed137Command(true, ed137Header(1, true))); }, false, {},
         "-"},
    };
    for (auto const& c : cases)
        expect(c);
}

TEST_F(ZarnControlTest, OnlyTheGroupsWhoseValuesAreSetGoOut)
{
    std::string const flags = "81 50 00 00", chan = "84 50 00 00 00 00 00 05 43 17 80 00 02 02 00 00",
                      remote = "86 50 00 00 00 00 00 00", standby = "87 50 00 00 00 03 01 00";
    struct {
        char const* name;
        std::function<void(TERM::ZarnRadioStatus&)> edit;
        Lines sent;
    } const cases[] = {
        {"no channel", [](auto& s) { s.set_freq().set_channel(-1); }, {flags, remote, standby}},
        {"no frequency", [](auto& s) { s.set_freq().set_frequency("-1"); }, {flags, remote, standby}},
        {"no standby", [](auto& s) { s.set_standby_state_channel(TERM::RadioStandby::not_use); }, {flags, chan, remote}},
    };
    for (auto const& c : cases) {
        TERM::ZarnRadioStatus status = zarnStatus();
        c.edit(status);
        auto control = make(status, true);
        advance(1000);
        EXPECT_EQ(written(), c.sent) << c.name;
    }
}

TEST_F(ZarnControlTest, ACommandDelaysItsGroupAndAWrappingClockSilencesNone)
{
    // The millisecond count wraps half a second after the control starts.
    clock.setMilliseconds(0xFFFFFFFFu - 499);
    auto control = make(zarnStatus(), true);
    std::string const newChan = "84 50 00 00 00 00 00 07 43 18 00 00 01 01 00 00";
    struct {
        std::uint32_t advance;
        std::function<void()> then;
        Lines sent;
    } const steps[] = {
        {1000, [] {}, {"81 50 00 00", "84 50 00 00 00 00 00 05 43 17 80 00 02 02 00 00", "86 50 00 00 00 00 00 00",
                       "87 50 00 00 00 03 01 00"}},
        {500, [&] { EXPECT_TRUE(control->SendASNToChan(wmChan(7, "152"))); }, {newChan}},
        {500, [] {}, {"81 50 00 00", "86 50 00 00 00 00 00 00", "87 50 00 00 00 03 01 00"}},
        // The channel group falls due 10 ms before its own tick.
        {509, [] {}, {}},
        {1, [] {}, {newChan}},
    };
    for (auto const& s : steps) {
        advance(s.advance);
        s.then();
        EXPECT_EQ(written(), s.sent) << s.advance;
    }
}

TEST_F(ZarnControlTest, OnTheRtpDevicesOwnSessionNothingIsReadAndAFailedWriteIsLoggedOnce)
{
    Fd session(sim.open(rtp::kPath, O_RDONLY | O_CLOEXEC));
    rtp_connection_params params{};
    ASSERT_EQ(sim.ioctl(session.lowlevel_fd(), rtp::kBeginSession, &params), 0);
    ZarnRadioGWControl control(5, session, rtp_attach_session_params{17, 300});
    control.Bind(&reports);
    EXPECT_TRUE(control.SendASNToChan(radioStatus(zarnStatus())));
    EXPECT_TRUE(control.SendASNToChan(zarnTrans(true, "10.0.0.1", 11)));
    EXPECT_TRUE(control.SendASNToChan(zarnTrans(false, "10.0.0.1", 11)));
    std::string const lines = errors.text();
    EXPECT_EQ(errors.count(": write rtp_ext fail: "), 1u) << lines;
    EXPECT_NE(lines.find(": set filer rtp_ext session fail !!!"), std::string::npos) << lines;
}

TEST_F(ZarnControlTest, TheWorkstationSendsCommandsAndHearsEveryone)
{
    ZarnRadioWSControl control(5, kAttach, kInit);
    control.Bind(&reports);
    control.SetRadioControlMode(kWorkstationMode);
    EXPECT_TRUE(control.SendASNToChan(zarnCommand([](auto& p) {
        TERM::RadioFrequency& f = p.select_gw_set_freq().set_freq();
        f.set_channel(7);
        f.set_frequency("152");
    })));
    EXPECT_TRUE(control.SendASNToChan(zarnCommand([](auto& p) { p.select_wm_flags().set_flags(radioFlags(3, true)); })));
    EXPECT_EQ(written(), Lines({"02 f0 00 00 00 00 00 07 43 18 00 00"}));
    deliver("10.0.0.4", 4, "84 30 00 00 00 00 00 05 43 17 80 00 02 02 00 00");
    EXPECT_EQ(reported(), Lines({"10.0.0.4 wm-chan"}));
}

}  // namespace
}  // namespace RTPSignalling
