#include "base/dual_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Item : F_dual_list_item<Item> {
    explicit Item(int k = 0) : key(k) {}
    int compare(Item const* o) const { return key - o->key; }
    int key;
};

std::vector<Item*> members(F_dual_list<Item> const& l)
{
    std::vector<Item*> out;
    for (auto it = l.begin(); it != l.end(); ++it)
        out.push_back(*it);
    return out;
}

TEST(DualList, EndsAndCountFollowInsertAndRemove)
{
    F_dual_list<Item> l;
    EXPECT_EQ(l.remove_from_head(), nullptr);
    EXPECT_EQ(l.remove_from_tail(), nullptr);
    EXPECT_EQ(l.count(), 0u);

    Item a, b, c;
    l.push_back(&b);
    l.insert_to_head(&a);
    l.insert_after(&b, &c);  // after the tail: becomes the tail
    EXPECT_EQ(members(l), (std::vector<Item*>{&a, &b, &c}));
    EXPECT_EQ(l.tail(), &c);
    EXPECT_EQ(b.get_prev(), &a);
    EXPECT_EQ(b.get_next(), &c);
    EXPECT_EQ(*l.last(), &c);

    l.remove(&b);
    EXPECT_EQ(members(l), (std::vector<Item*>{&a, &c}));
    EXPECT_EQ(a.get_next(), &c);
    EXPECT_EQ(c.get_prev(), &a);
    EXPECT_EQ(l.remove_from_tail(), &c);
    EXPECT_EQ(l.remove_from_head(), &a);
    EXPECT_EQ(l.head(), nullptr);
    EXPECT_EQ(l.tail(), nullptr);
    EXPECT_EQ(l.size(), 0u);
}

TEST(DualList, ArrayConstructorLinksInArrayOrder)
{
    Item pool[4];
    F_dual_list<Item> l(pool, 4);
    EXPECT_EQ(members(l), (std::vector<Item*>{&pool[0], &pool[1], &pool[2], &pool[3]}));
    EXPECT_EQ(l.remove_from_head(), &pool[0]);
    l.insert_to_tail(&pool[0]);
    EXPECT_EQ(l.tail(), &pool[0]);
    EXPECT_EQ(l.count(), 4u);
}

TEST(DualList, MergeExchangesContents)
{
    F_dual_list<Item> empty, full;
    Item a, b, c;
    full.push_back(&a);
    full.push_back(&b);
    full.push_back(&c);
    empty.merge(full);
    EXPECT_EQ(members(empty), (std::vector<Item*>{&a, &b, &c}));
    EXPECT_EQ(empty.count(), 3u);
    EXPECT_TRUE(full.empty());
    EXPECT_FALSE(full.begin().good());
    EXPECT_TRUE(!full.begin());
}

TEST(SortedList, EqualKeysKeepInsertionOrder)
{
    F_sorted_list<Item> l;
    Item a(10), b(20), c(20), d(15), e(5);
    for (Item* i : {&a, &b, &c, &d, &e})
        l.insert_to_tail_by_grown(i);
    EXPECT_EQ(members(l), (std::vector<Item*>{&e, &a, &d, &b, &c}));
    EXPECT_EQ(l.count(), 5u);
}

}  // namespace
