#include "board/sim/hdlc_iface_model.h"

#include "board/sim/console.h"
#include "board/sim/sim_board.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

using board::sim::HdlcIfaceModel;

TEST(HdlcIfaceModelTest, AnInterfaceReportsItsChannelAndTakesProtocolAndFlags)
{
    board::sim::SimBoard sim;
    sim.addStandardDevices();
    board::sim::Console console(sim);
    EXPECT_EQ(console.execute("device hdlc1 p2p on"), "ok");
    EXPECT_EQ(console.execute("device hdlc1 channel 7300"), "ok");

    ifreq ifr = hdlc_iface::request("hdlc1");
    ASSERT_EQ(sim.ifaceIoctl(SIOCGIFFLAGS, &ifr), 0);
    EXPECT_EQ(ifr.ifr_flags & (IFF_POINTOPOINT | IFF_UP), IFF_POINTOPOINT);
    ifr.ifr_flags |= IFF_UP;
    EXPECT_EQ(sim.ifaceIoctl(SIOCSIFFLAGS, &ifr), 0);

    std::uint32_t words[hdlc_iface::kIfaceSize / 4];
    std::memset(words, 0xFF, sizeof words);
    hdlc_iface::putSettings(ifr, {hdlc_iface::kGetIface, 8, words});
    EXPECT_EQ(sim.ifaceIoctl(hdlc_iface::kWanDev, &ifr), -1);
    EXPECT_EQ(errno, ENOBUFS);
    hdlc_iface::putSettings(ifr, {hdlc_iface::kGetIface, sizeof words, words});
    ASSERT_EQ(sim.ifaceIoctl(hdlc_iface::kWanDev, &ifr), 0);
    EXPECT_EQ(words[hdlc_iface::kChannelWord], 7300u);
    EXPECT_EQ(words[hdlc_iface::kIfaceSize / 4 - 1], 0u);

    std::uint32_t none = 0;
    hdlc_iface::putSettings(ifr, {hdlc_iface::kProtoPpp, 4, &none});
    EXPECT_EQ(sim.ifaceIoctl(hdlc_iface::kWanDev, &ifr), 0);
    EXPECT_EQ(console.execute("dump hdlc1"), "ok p2p=on channel=7300 proto=ppp up=on");
    EXPECT_EQ(console.execute("dump hdlc0"), "ok p2p=off channel=7200 proto=hdlc up=off");
    ifr = hdlc_iface::request("hdlc4");
    EXPECT_EQ(sim.ifaceIoctl(SIOCGIFINDEX, &ifr), -1);
    EXPECT_EQ(errno, ENODEV);
}

}  // namespace
