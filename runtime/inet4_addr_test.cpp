#include "runtime/inet4_addr.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(INet4Addr, DefaultIsAnyAddressPortZero)
{
    INet4::Addr a;
    EXPECT_EQ(a.GetString(), "0.0.0.0:0");
    EXPECT_EQ(a.size(), 16u);
    EXPECT_EQ(a.raw().sin_family, AF_INET);
}

TEST(INet4Addr, AddressWithPortSetsBothAndReportsThePort)
{
    INet4::Addr a;
    int port = 0;
    ASSERT_TRUE(a.Assign("10.1.2.3:2000", &port));
    EXPECT_EQ(port, 2000);
    EXPECT_EQ(a.port(), 2000);
    EXPECT_EQ(a.raw().sin_port, htons(2000));
    EXPECT_STREQ(a.GetStrAddr(), "10.1.2.3");

    ASSERT_TRUE(a.Assign("10.1.2.4", &port));
    EXPECT_EQ(port, -1);
    EXPECT_EQ(a.port(), 2000);  // kept
    EXPECT_EQ(a.GetString(), "10.1.2.4:2000");
}

TEST(INet4Addr, BadTextIsRefusedAndChangesNothing)
{
    INet4::Addr a("10.1.2.3:2000");
    INet4::Addr const before = a;
    int port = 77;
    for (char const* bad : {"x:5", "10.1.2.3:65536", "10.1.2.3:-1", "10.1.2.3:", "10.1.2.3:80x",
                            "10.1.2.3 junk", "300.1.2.3", "", "10.1.2.3:99999999999999999999"}) {
        EXPECT_FALSE(a.Assign(bad, &port)) << bad;
        EXPECT_EQ(a, before) << bad;
        EXPECT_EQ(a.port(), 2000) << bad;
        EXPECT_EQ(port, 77) << bad;
    }
    a = std::string("nonsense:9");
    EXPECT_EQ(a.GetString(), "10.1.2.3:2000");
    EXPECT_TRUE(a.Assign("10.9.9.9:65535", nullptr));
    EXPECT_EQ(a.port(), 65535);
    EXPECT_TRUE(a.Assign("10.9.9.9:0", nullptr));
    EXPECT_EQ(a.port(), 0);
}

TEST(INet4Addr, PrintsDottedAddressColonPortInDecimal)
{
    INet4::Addr a;
    a.Assign(htonl(0x0A000001));
    a.port(20001);
    std::ostringstream os;
    os << std::hex << a << ' ' << 255;
    EXPECT_EQ(os.str(), "10.0.0.1:20001 255");
    EXPECT_EQ(a.GetVector(), (std::vector<char>{10, 0, 0, 1}));
}

TEST(INet4Addr, EqualityLooksAtAddressAndPort)
{
    INet4::Addr a("192.168.1.5:80");
    INet4::Addr b("192.168.1.5:80");
    EXPECT_TRUE(a == b);
    b.port(81);
    EXPECT_FALSE(a == b);
    EXPECT_FALSE(a.IsEqual(b));
    sockaddr_in raw = a.raw();
    EXPECT_TRUE(INet4::Addr(raw) == a);
}

}  // namespace
