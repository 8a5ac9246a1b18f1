#include "base/cyclic_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Receiver {
    virtual ~Receiver() = default;
    int id = 0;
    Containers::CyclicList node;
};

std::vector<int> ids(Containers::CyclicList& ring)
{
    std::vector<int> out;
    for (auto it = ring.begin(); it != ring.end(); ++it)
        out.push_back(Containers::offset(&*it, &Receiver::node)->id);
    return out;
}

TEST(CyclicList, MembersComeBackAsTheirOwnersInInsertionOrder)
{
    Containers::CyclicList ring;
    EXPECT_TRUE(ring.empty());
    Receiver a, b, c;
    a.id = 1, b.id = 2, c.id = 3;
    ring.AddToTail(&a.node);
    ring.AddToTail(&b.node);
    ring.AddToTail(&c.node);
    EXPECT_EQ(ids(ring), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(Containers::offset(&b.node, &Receiver::node), &b);
}

TEST(CyclicList, AddToTailMovesBetweenRingsAndDestructionUnlinks)
{
    Containers::CyclicList one, two;
    Receiver a, b, c;
    a.id = 1, b.id = 2, c.id = 3;
    one.AddToTail(&a.node);
    one.AddToTail(&b.node);
    one.AddToTail(&c.node);
    two.AddToTail(&b.node);
    EXPECT_EQ(ids(one), (std::vector<int>{1, 3}));
    EXPECT_EQ(ids(two), (std::vector<int>{2}));
    {
        Receiver d;
        d.id = 4;
        one.AddToTail(&d.node);
        EXPECT_EQ(ids(one), (std::vector<int>{1, 3, 4}));
    }
    EXPECT_EQ(ids(one), (std::vector<int>{1, 3}));
}

}  // namespace
