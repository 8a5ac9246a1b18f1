#include "runtime/net.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(Net, ModeChoosesByNameAndAddressRange)
{
    // A board with lo (127.0.0.1) and eth0 (192.168.1.5).
    std::uint32_t const lo = 0x7F000001, eth0 = 0xC0A80105;
    EXPECT_TRUE(Net::is_chosen("lo", lo, 0));
    EXPECT_TRUE(Net::is_chosen("eth0", eth0, 0));
    EXPECT_FALSE(Net::is_chosen("lo", lo, Net::private_net));
    EXPECT_TRUE(Net::is_chosen("eth0", eth0, Net::private_net));

    EXPECT_FALSE(Net::is_chosen("LO", lo, Net::named));
    EXPECT_TRUE(Net::is_chosen("eth1", lo, Net::named));
    EXPECT_TRUE(Net::is_chosen("x", 0xA9FE0101, Net::link_local));
    EXPECT_FALSE(Net::is_chosen("x", 0xA9FF0101, Net::link_local));
    EXPECT_TRUE(Net::is_chosen("x", 0x0A000001, Net::private_net));
    EXPECT_TRUE(Net::is_chosen("x", 0xAC1F0001, Net::private_net));   // 172.31.0.1
    EXPECT_FALSE(Net::is_chosen("x", 0xAC200001, Net::private_net));  // 172.32.0.1
    EXPECT_FALSE(Net::is_chosen("x", 0xC0A90001, Net::private_net));  // 192.169.0.1
}

TEST(Net, ListsTheLoopbackInterface)
{
    std::list<INet4::Addr> all;
    int n = Net::ifconfig(all, 0);
    ASSERT_GE(n, 1);
    EXPECT_EQ(std::size_t(n), all.size());
    INet4::Addr loopback("127.0.0.1");
    EXPECT_NE(std::find(all.begin(), all.end(), loopback), all.end());

    std::list<INet4::Addr> named;
    int m = Net::ifconfig(named, Net::named);
    EXPECT_EQ(std::find(named.begin(), named.end(), loopback), named.end());
    EXPECT_LT(m, n);

    std::list<std::string> up;
    EXPECT_GE(Net::ifconfig(up, 0, IFF_UP | IFF_LOOPBACK), 1);
    EXPECT_NE(std::find(up.begin(), up.end(), "lo"), up.end());
}

TEST(Net, HostName)
{
    EXPECT_FALSE(Net::hostname().empty());
}

}  // namespace
