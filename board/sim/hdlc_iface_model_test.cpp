#include "board/sim/hdlc_iface_model.h"

#include "board/sim/sim_board.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

// The flags, the channel the settings report and the protocol are proven by the HDLC modem's
// tests through this model; here, settings buffers of either size and the interfaces the
// board lacks.
TEST(HdlcIfaceModelTest, SettingsFillAWholeBufferAndRefuseAShortOne)
{
    board::sim::SimBoard sim;
    sim.addStandardDevices();
    ifreq ifr = hdlc_iface::request("hdlc1");
    std::uint32_t words[hdlc_iface::kIfaceSize / 4];
    std::memset(words, 0xFF, sizeof words);
    hdlc_iface::putSettings(ifr, {hdlc_iface::kGetIface, 8, words});
    EXPECT_EQ(sim.ifaceIoctl(hdlc_iface::kWanDev, &ifr), -1);
    EXPECT_EQ(errno, ENOBUFS);
    hdlc_iface::putSettings(ifr, {hdlc_iface::kGetIface, sizeof words, words});
    ASSERT_EQ(sim.ifaceIoctl(hdlc_iface::kWanDev, &ifr), 0);
    EXPECT_EQ(words[hdlc_iface::kChannelWord], board::sim::HdlcIfaceModel::kFirstChannel + 1u);
    EXPECT_EQ(words[hdlc_iface::kIfaceSize / 4 - 1], 0u);

    ifr = hdlc_iface::request("hdlc4");
    EXPECT_EQ(sim.ifaceIoctl(SIOCGIFINDEX, &ifr), -1);
    EXPECT_EQ(errno, ENODEV);
}

}  // namespace
