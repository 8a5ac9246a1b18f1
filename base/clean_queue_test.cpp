#include "base/clean_queue.h"
#include "base/packet.h"
#include "base/smart_pointer.h"

#include <gtest/gtest.h>

namespace {

// A reference-counted block and its handle, standing in for a packet.
struct Block {
    explicit Block(char n) : name(n) { ++live; }
    ~Block() { --live; }
    unsigned int ref_count = 0;
    char name;
    static int live;
};
int Block::live = 0;

struct Frame {
    Frame() = default;
    explicit Frame(char n) : p(new Block(n)) {}
    char name() const { return p ? p->name : '-'; }
    unsigned int refs() const { return p ? p.get()->ref_count : 0; }
    Smart_pointer<Block> p;
};

class CleanQueueTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(Block::live, 0); }
};

TEST_F(CleanQueueTest, RefusesWhenFullAndKeepsWhatItHolds)
{
    CleanQueue<Frame, 7> q;
    EXPECT_EQ(q.size(), 7u);
    for (char c = 'a'; c < 'a' + 7; ++c)
        EXPECT_TRUE(q.put(Frame(c)));
    EXPECT_FALSE(q.put(Frame('x')));
    EXPECT_FALSE(q.append(Frame('y')));
    EXPECT_EQ(q.count(), 7u);
    Frame f;
    for (char c = 'a'; c < 'a' + 7; ++c) {
        ASSERT_TRUE(q.get(&f));
        EXPECT_EQ(f.name(), c);
    }
    EXPECT_TRUE(q.empty());
}

TEST_F(CleanQueueTest, EmptyQueueLeavesTargetsUntouched)
{
    CleanQueue<Frame, 7> q;
    Frame f('k');
    EXPECT_FALSE(q.get(f));
    EXPECT_FALSE(q.get_last(&f));
    EXPECT_FALSE(q.preview(&f));
    EXPECT_EQ(f.name(), 'k');
}

TEST_F(CleanQueueTest, GetLastAppendAndPreview)
{
    CleanQueue<Frame, 7> q;
    q.put(Frame('A'));
    q.put(Frame('B'));
    q.put(Frame('C'));
    Frame f;
    ASSERT_TRUE(q.get_last(&f));
    EXPECT_EQ(f.name(), 'C');
    ASSERT_TRUE(q.get(&f));
    EXPECT_EQ(f.name(), 'A');
    ASSERT_TRUE(q.append(Frame('D')));
    EXPECT_TRUE(q.preview(nullptr));
    ASSERT_TRUE(q.preview(&f));
    EXPECT_EQ(f.name(), 'D');
    EXPECT_EQ(q.count(), 2u);
    ASSERT_TRUE(q.get(&f));
    EXPECT_EQ(f.name(), 'D');
    ASSERT_TRUE(q.get(&f));
    EXPECT_EQ(f.name(), 'B');
}

TEST_F(CleanQueueTest, RetransmissionKeepsOrderAcrossTheRingEnds)
{
    // Unacknowledged frames go back in front of the send queue, oldest first.
    CleanQueue<Frame, 3> sent;
    CleanQueue<Frame, 5> send;
    for (char c : {'a', 'b', 'c'})
        sent.put(Frame(c));
    send.put(Frame('d'));
    Frame f;
    while (sent.get_last(&f))
        ASSERT_TRUE(send.append(f));
    std::string order;
    while (send.get(&f))
        order += f.name();
    EXPECT_EQ(order, "abcd");
}

TEST_F(CleanQueueTest, TakingFromTheQueueLeavesTheTakerTheOnlyHolder)
{
    CleanQueue<Frame, 4> q;
    {
        Frame f('a');
        q.put(f);
        EXPECT_EQ(f.refs(), 2u);
    }
    Frame taken;
    ASSERT_TRUE(q.get(&taken));
    EXPECT_EQ(taken.refs(), 1u);
    taken = Frame();
    EXPECT_EQ(Block::live, 0);
}

TEST_F(CleanQueueTest, ClearReleasesEverythingAtOnce)
{
    CleanQueue<Frame, 4> q;
    q.put(Frame('a'));
    q.put(Frame('b'));
    q.append(Frame('z'));  // wraps to the last slot
    EXPECT_EQ(Block::live, 3);
    q.clear();
    EXPECT_EQ(Block::live, 0);
    EXPECT_EQ(q.count(), 0u);
    EXPECT_TRUE(q.put(Frame('c')));
    Frame f;
    ASSERT_TRUE(q.get(f));
    EXPECT_EQ(f.name(), 'c');
}

TEST_F(CleanQueueTest, DestructionReleasesWhatIsHeld)
{
    {
        CleanQueue<Frame, 4> q;
        q.put(Frame('a'));
        q.put(Frame('b'));
        EXPECT_EQ(Block::live, 2);
    }
    EXPECT_EQ(Block::live, 0);
}

// The queue over real packets: what it holds stays out of the pool, nothing more.
TEST(CleanQueueOfPackets, HoldsOnlyWhatItContains)
{
    unsigned int const free = _Packet::Pool::available();
    CleanQueue<Packet, 7> q;
    {
        Packet a;
        a.reserve_head(4);
        a.put8(0xA1);
        ASSERT_TRUE(q.put(a));
        // A change through the sender's handle leaves the queued frame as it was.
        a.put8(0xA2);
        EXPECT_EQ(_Packet::Pool::available(), free - 2);
    }
    EXPECT_EQ(_Packet::Pool::available(), free - 1);
    Packet taken;
    ASSERT_TRUE(q.get(taken));
    EXPECT_EQ(taken.text(), "A1");
    // The slot was reset: the taker is the only holder and changes the block in place.
    taken.put8(0xA3);
    EXPECT_EQ(_Packet::Pool::available(), free - 1);
    taken.clear();
    EXPECT_EQ(_Packet::Pool::available(), free);
}

TEST(CleanQueueOfPackets, ClearReleasesTheBlocks)
{
    unsigned int const free = _Packet::Pool::available();
    CleanQueue<Packet, 135> q;
    for (int i = 0; i < 3; ++i) {
        Packet p;
        p.reserve_head(4);
        p.put8(static_cast<unsigned char>(i));
        q.put(p);
    }
    Packet first;
    ASSERT_TRUE(q.preview(&first));
    EXPECT_EQ(first.text(), "00");
    first.clear();
    EXPECT_EQ(_Packet::Pool::available(), free - 3);
    q.clear();
    EXPECT_EQ(_Packet::Pool::available(), free);
    EXPECT_TRUE(q.empty());
}

}  // namespace
