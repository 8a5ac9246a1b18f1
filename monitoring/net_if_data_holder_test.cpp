#include "monitoring/net_if_data_holder.h"

#include <fcntl.h>
#include <net/if.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

TEST(NetIfDataHolder, TwoOfTheLastThreeSamplesDecide)
{
    struct Step { int running; bool changed; int status, oper; } const steps[] = {
        {1, true, 0, 2}, {1, true, 1, 1}, {1, false, 1, 1}, {0, false, 1, 1}, {0, true, 0, 2}, {1, false, 0, 2},
    };
    NetIfDataHolder netIf(3, "eth1");
    for (Step const& s : steps) {
        EXPECT_EQ(netIf.setNetIfStatus(s.running), s.changed);
        EXPECT_EQ(netIf.status, s.status);
        EXPECT_EQ(netIf.operStatus, s.oper);
        EXPECT_EQ(netIf.adminStatus, s.oper);
    }
    EXPECT_EQ(netIf.samples.size(), NetIfDataHolder::max_samples);
}

TEST(NetIfDataHolder, InterfacesAreFoundOnDescriptorZeroAndSampled)
{
    unsigned int const lo = ::if_nametoindex("lo");
    if (lo == 0 || lo >= unsigned(NetIfDataHolder::max_index))
        GTEST_SKIP() << "no loopback interface among the first indexes";
    if (NetIfDataHolder::List().empty())
        GTEST_SKIP() << "no packet socket here (needs the raw-socket capability)";
    // The interface socket gets descriptor 0, which is a valid one.
    int const saved = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
    ::close(0);
    std::vector<NetIfDataHolder> const found = NetIfDataHolder::List();
    ::dup2(saved, 0);
    ::close(saved);
    auto it = std::find_if(found.begin(), found.end(), [&](NetIfDataHolder const& n) { return n.name == "lo"; });
    ASSERT_NE(it, found.end());
    EXPECT_EQ(it->ifIndex, int(lo));

    // lo runs: the first sample reports down, the second up.
    NetIfDataHolder netIf = *it;
    EXPECT_TRUE(netIf.updateNetIf());
    EXPECT_TRUE(netIf.updateNetIf());
    EXPECT_EQ(netIf.status, 1);
    NetIfDataHolder missing(NetIfDataHolder::max_index - 1, "none");
    char name[IF_NAMESIZE];
    if (::if_indextoname(unsigned(missing.ifIndex), name) == nullptr) {
        EXPECT_FALSE(missing.updateNetIf());
        EXPECT_EQ(missing.status, -1);
    }
}

}  // namespace
