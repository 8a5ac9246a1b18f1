#include "base/smart_pointer.h"

#include <gtest/gtest.h>

namespace {

struct Status {
    virtual ~Status() { ++destroyed; }
    int value = 0;
    unsigned int ref_count = 0;
    static int destroyed;
};
int Status::destroyed = 0;

struct Derived : Status {
    ~Derived() override { ++derivedDestroyed; }
    static int derivedDestroyed;
};
int Derived::derivedDestroyed = 0;

TEST(SmartPointer, CopiesCountAndTheLastHolderDeletes)
{
    Status::destroyed = 0;
    Status* s = new Status;
    Smart_pointer<Status> a(s);
    EXPECT_EQ(s->ref_count, 1u);
    {
        Smart_pointer<Status> b(a);
        EXPECT_EQ(s->ref_count, 2u);
        Smart_pointer<Status> c;
        c = b;
        EXPECT_EQ(s->ref_count, 3u);
        c = c;
        EXPECT_EQ(s->ref_count, 3u);
    }
    EXPECT_EQ(s->ref_count, 1u);
    EXPECT_EQ(Status::destroyed, 0);
    a.clean();
    EXPECT_TRUE(a.null());
    EXPECT_FALSE(a);
    EXPECT_EQ(Status::destroyed, 1);
}

TEST(SmartPointer, PolymorphicObjectsGoThroughTheirDestructor)
{
    Derived::derivedDestroyed = 0;
    {
        Smart_pointer<Status> p(new Derived);
        p->value = 3;
        EXPECT_EQ(p->value, 3);
    }
    EXPECT_EQ(Derived::derivedDestroyed, 1);
}

struct Node {
    unsigned int ref_count = 0;
    Smart_pointer<Node> next;
};

TEST(SmartPointer, AssigningFromTheReleasedObjectsOwnPointerIsSafe)
{
    // head holds the only reference to a node that holds the only other reference to
    // the next one; moving head on must not free the next node on the way.
    Smart_pointer<Node> head(new Node);
    head->next = new Node;
    Node* second = head.get()->next.get();
    head = head.get()->next;
    EXPECT_EQ(head.get(), second);
    EXPECT_EQ(second->ref_count, 1u);
}

TEST(SmartPointerDeathTest, NullDereferenceEndsTheProcess)
{
    Smart_pointer<Status> p;
    EXPECT_DEATH(p->value = 1, "SMART POINTER ASSERTION!");
    Smart_pointer<Status> const& cp = p;
    EXPECT_DEATH((void)cp->value, "SMART POINTER ASSERTION!");
}

}  // namespace
