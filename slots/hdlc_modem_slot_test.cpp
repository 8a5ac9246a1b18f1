#include "slots/hdlc_modem_slot.h"

#include "tests/modem_test_support.h"

#include <gtest/gtest.h>

namespace {

using namespace modemtest;
using slotstest::ok;

struct HdlcModemSlotTest : ModemTest {
    HdlcModemSlotTest()
    {
        hdlc0.setPointToPoint(true);
        factory->IQuery();
        EXPECT_EQ(create(7, slotstest::trunk(1, 5)), ok());
        signals.take();
    }
    static ZGCP::CreateParams digital() { return modemCreate(withModes({TERM::DigitalDataModeEnum::ddmV110})); }
    // The settings types of the SIOCWANDEV requests on hdlc0 since the mark.
    std::vector<std::uint32_t> wanDevTypes(std::uint64_t from)
    {
        std::vector<std::uint32_t> out;
        for (auto const& e : env.sim.journal().since(from))
            if (e.path == "hdlc0" && e.name == "wandev")
                out.push_back(e.word(IFNAMSIZ / 4));
        return out;
    }
};

TEST_F(HdlcModemSlotTest, WithoutTheInterfacesSettingsNothingIsChangedOrStarted)
{
    ASSERT_EQ(create(1, digital()), ok());
    std::uint64_t const mark = env.sim.journal().next();
    env.sim.failRequest("hdlc0", hdlc_iface::kWanDev, EIO);
    EXPECT_EQ(connect(1, 7), slotstest::fail(ZGCP::ErrorCause::connectFail));
    EXPECT_EQ(wanDevTypes(mark), std::vector<std::uint32_t>{hdlc_iface::kGetIface});
    EXPECT_EQ(at(1)->GetTransmitChannel(), -1);
    EXPECT_EQ(slotstest::linesOf(err.text(), "01:"), "01:digital-modem: SIOCWANDEV/IF_GET_IFACE fail!\n");
    EXPECT_TRUE(signals.take().empty());
    EXPECT_TRUE(pppd.pids().empty());
}

// A reset the driver refuses is owed: the interface is not free until the back-off makes it.
TEST_F(HdlcModemSlotTest, ResetFailuresOnDestructionAreLoggedAndOwed)
{
    struct Case {
        unsigned long request;
        std::string line;
        char const* state;
    } const cases[] = {
        {SIOCGIFFLAGS, "SIOCGIFFLAGS fail!!!", "p2p=on channel=7200 proto=ppp up=on"},
        {SIOCSIFFLAGS, "SIOCSIFFLAGS fail!!!", "p2p=on channel=7200 proto=ppp up=on"},
        {hdlc_iface::kWanDev, "SIOCWANDEV/IF_PROTO_HDLC fail!", "p2p=on channel=7200 proto=ppp up=off"},
    };
    pppd.configure("RUN=0");
    for (Case const& c : cases) {
        ifreq up = hdlc_iface::request("hdlc0");
        up.ifr_flags = IFF_UP;
        env.sim.ifaceIoctl(SIOCSIFFLAGS, &up);
        ASSERT_EQ(create(1, digital()), ok());
        ASSERT_EQ(connect(1, 7), ok());
        ASSERT_TRUE(waitFor([&] { return !modem(1)->pppd_executing(); }));
        testsupport::CaptureStream e(std::cerr);
        Mux::TestClock clock;
        env.sim.failRequest("hdlc0", c.request, EIO);
        ASSERT_EQ(destroy(1), ok());
        EXPECT_EQ(slotstest::linesOf(e.text(), "01:"), "01:digital-modem: " + c.line + "\n");
        EXPECT_EQ(hdlc0.dump(), c.state);
        EXPECT_TRUE(factory->freeInterfaces().empty());
        testsupport::advance(clock, OwedRequests::first_wait_ms);
        EXPECT_EQ(hdlc0.dump(), "p2p=on channel=7200 proto=hdlc up=off");
        EXPECT_EQ(factory->freeInterfaces().size(), 1u);
    }
}

}  // namespace
