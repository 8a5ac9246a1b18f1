#include "base/packet.h"

#include "tests/pool_drain.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace {

unsigned int freeBlocks() { return _Packet::Pool::available(); }

std::string rooms(Packet const& p)
{
    std::ostringstream os;
    p.dump(os);
    return os.str();
}

Packet bytes(std::vector<unsigned char> const& b, unsigned int head = 16)
{
    Packet p;
    p.reserve_head(head);
    for (unsigned char c : b)
        p.put8(c);
    return p;
}

using testsupport::PoolDrain;

class PacketTest : public ::testing::Test {
protected:
    void SetUp() override { before_ = freeBlocks(); }
    // Every test gives back what it took.
    void TearDown() override { EXPECT_EQ(freeBlocks(), before_); }

private:
    unsigned int before_ = 0;
};

TEST_F(PacketTest, ReservingTakesABlockOnceAndThenMovesTheEmptyWindow)
{
    Packet p;
    EXPECT_TRUE(p.null());
    EXPECT_EQ(p.length(), 0u);
    p.reserve_head(4);
    EXPECT_FALSE(p.null());
    EXPECT_EQ(rooms(p), "head=4, data=0, tail=65532");
    // The layers of a stack reserve in turn: later calls add to the head room.
    p.reserve_head(3);
    p.reserve_head(0);
    p.reserve_tail(0);
    EXPECT_EQ(rooms(p), "head=7, data=0, tail=65529");
    p.reserve_tail(2);
    EXPECT_EQ(rooms(p), "head=5, data=0, tail=65531");

    Packet q;
    q.reserve_tail(0);
    EXPECT_EQ(rooms(q), "head=65536, data=0, tail=0");
    EXPECT_EQ(q.tailroom(), 0u);
    Packet r;
    r.reserve_tail(10);
    EXPECT_EQ(rooms(r), "head=65526, data=0, tail=10");
}

TEST_F(PacketTest, WordsGoInTheirByteOrder)
{
    Packet p = bytes({});
    p.put16(0x1234);
    EXPECT_EQ(p.text(), "34 12");
    EXPECT_EQ(p.pull16(), 0x1234);
    EXPECT_EQ(p.pull16_l(), 0);  // nothing left

    p.put16_b(0x1234);
    EXPECT_EQ(p.text(), "12 34");
    EXPECT_EQ(p.pull16_b(), 0x1234);

    p.put8(0xEE);
    p.push16_b(0x1234);
    p.push8(0x99);
    EXPECT_EQ(p.text(), "99 12 34 EE");
    EXPECT_EQ(p.pull8(), 0x99);
    EXPECT_EQ(p.pull16_b(), 0x1234);
    EXPECT_EQ(p.pull8(), 0xEE);
    EXPECT_EQ(rooms(p), "head=21, data=0, tail=65515");
}

TEST_F(PacketTest, PullsThatTheWindowCannotSatisfyRemoveNothing)
{
    Packet p = bytes({});
    EXPECT_EQ(p.pull8(), 0);
    EXPECT_EQ(rooms(p), "head=16, data=0, tail=65520");
    // A one-byte window does not make up a second byte.
    p.put8(0xAB);
    EXPECT_EQ(p.pull16(), 0);
    EXPECT_EQ(p.pull16_b(), 0);
    EXPECT_EQ(p.text(), "AB");
    EXPECT_EQ(p.pull8(), 0xAB);
    EXPECT_TRUE(p.empty());
}

TEST_F(PacketTest, WindowOperationsReturnTheirPositions)
{
    Packet p = bytes({1, 2, 3, 4, 5});
    unsigned char* start = p.data();
    EXPECT_EQ(p.tail(), start + 5);
    unsigned char* at = p.put(2);
    EXPECT_EQ(at, start + 5);
    std::memcpy(at, "\x06\x07", 2);
    EXPECT_EQ(p.push(1), start - 1);
    p[0] = 0;
    EXPECT_EQ(p.pull(2), start - 1);
    EXPECT_EQ(p.trim(1), start + 6);
    EXPECT_EQ(p.text(), "02 03 04 05 06");
    Packet const& c = p;
    EXPECT_EQ(c[4], 6);
    EXPECT_EQ(*c.data(), 2);
    EXPECT_TRUE(p < 6);
    EXPECT_FALSE(p < 5);
    EXPECT_EQ(p.tailroom(), 65536u - 16 - 6);
}

TEST_F(PacketTest, AChangeToASharedPacketCopiesItFirst)
{
    Packet a = bytes({0x01, 0x02}, 30);
    unsigned int const afterOne = freeBlocks();
    Packet b = a;
    Packet const& cb = b;
    // Sharing and reading take no block.
    EXPECT_EQ(cb.length(), 2u);
    EXPECT_EQ(cb[1], 0x02);
    EXPECT_EQ(b.text(), "01 02");
    EXPECT_EQ(freeBlocks(), afterOne);

    b.put8(0x03);
    EXPECT_EQ(freeBlocks(), afterOne - 1);
    EXPECT_EQ(a.text(), "01 02");
    EXPECT_EQ(b.text(), "01 02 03");
    // The copy keeps the window where it was.
    EXPECT_EQ(rooms(b), "head=30, data=3, tail=65503");
    b.clear();
    EXPECT_TRUE(b.null());
    EXPECT_EQ(freeBlocks(), afterOne);

    // The last holder changes in place.
    Packet c = a;
    c.clear();
    a.put8(0x04);
    EXPECT_EQ(freeBlocks(), afterOne);
    a = a;
    EXPECT_EQ(a.text(), "01 02 04");
}

TEST_F(PacketTest, TextForms)
{
    EXPECT_EQ(Packet().text(), "(null)");
    EXPECT_EQ(bytes({}).text(), "");
    Packet p = bytes({0x01, 0xAB});
    std::ostringstream os;
    os << p << "|" << Packet();
    EXPECT_EQ(os.str(), "01 AB|(null)");

    std::ostringstream d;
    EXPECT_FALSE(Packet().dump(d));
    EXPECT_FALSE(Packet().dump_context(d));
    EXPECT_TRUE(bytes({}).dump_context(d));
    EXPECT_EQ(d.str(), "");
    EXPECT_TRUE(bytes({0x01, 0xAB, 0x10}).dump_context(d));
    // The stream is left in decimal.
    d << " " << 255;
    EXPECT_EQ(d.str(), "dump: 1 ab 10 255");
}

TEST_F(PacketTest, ReportOfAPacket)
{
    std::ostringstream os;
    os << PacketInfo(Packet()) << PacketInfo(bytes({}, 4)) << PacketInfo(bytes({0x01, 0xAB, 0x0F}, 2));
    EXPECT_EQ(os.str(),
              "(null)\n"
              "head=4, data=0, tail=65532\n"
              "head=2, data=3, tail=65531\ndump:\n 1 ab f\n");

    // Positions that contradict each other are reported, not followed.
    _Packet* b = new _Packet;
    b->data = b->buf + 10;
    b->tail = b->buf + 5;
    std::ostringstream bad;
    bad << PacketInfo(b);
    EXPECT_EQ(bad.str(), "head=10, data=-5, tail=65531\ncan't dump packet: wrong pointers\n");
    delete b;
}

TEST_F(PacketTest, StringsCarryALengthByte)
{
    Packet p = bytes({});
    EXPECT_TRUE(p.put(std::string("abc")));
    EXPECT_TRUE(p.put(std::string()));
    EXPECT_EQ(p.text(), "03 61 62 63 00");
    EXPECT_TRUE(p.put(std::string(255, 'x')));
    EXPECT_FALSE(p.put(std::string(256, 'y')));
    EXPECT_EQ(p.length(), 5u + 256u);
    EXPECT_EQ(p.pull_string(), "abc");
    EXPECT_EQ(p.pull_string(), "");
    EXPECT_EQ(p.pull_string(), std::string(255, 'x'));
    EXPECT_TRUE(p.empty());

    // A length byte that promises more than the window holds takes nothing.
    Packet t = bytes({3, 'a', 'b'});
    EXPECT_EQ(t.pull_string(), "");
    EXPECT_EQ(t.length(), 3u);
}

TEST_F(PacketTest, SubAndAppendCopyBytes)
{
    Packet p = bytes({1, 2, 3, 4, 5}, 8);
    Packet s = p.sub(2, 1);
    EXPECT_EQ(s.text(), "02 03");
    EXPECT_EQ(rooms(s), "head=9, data=2, tail=65525");
    s.put8(9);
    EXPECT_EQ(p.text(), "01 02 03 04 05");
    EXPECT_EQ(p.sub(0, 5).length(), 0u);

    Packet q = bytes({7});
    q.put(p);
    q.put(Packet());
    EXPECT_EQ(q.text(), "07 01 02 03 04 05");
    q.put(q);
    EXPECT_EQ(q.text(), "07 01 02 03 04 05 07 01 02 03 04 05");
}

TEST_F(PacketTest, PoolHandsOutTheBlockReleasedLongestAgo)
{
    PoolDrain drain(2);
    _Packet* a = new _Packet;
    _Packet* b = new _Packet;
    EXPECT_EQ(freeBlocks(), 0u);
    EXPECT_THROW(new _Packet, std::bad_alloc);
    EXPECT_EQ(new (std::nothrow) _Packet, nullptr);
    delete a;
    delete b;
    _Packet* first = new _Packet;
    _Packet* second = new _Packet;
    EXPECT_EQ(first, a);
    EXPECT_EQ(second, b);
    delete first;
    delete second;
}

TEST_F(PacketTest, AReceivePathSurvivesAnEmptyPool)
{
    Packet frame;
    {
        PoolDrain drain;
        EXPECT_FALSE(frame.try_reserve_head(4));
        EXPECT_TRUE(frame.null());
    }
    ASSERT_TRUE(frame.try_reserve_head(4));
    EXPECT_TRUE(frame.try_reserve_head(2));
    EXPECT_EQ(rooms(frame), "head=6, data=0, tail=65530");
}

// Each use takes blocks only while more than its floor are free: queued messages leave the
// blocks kept for frames and for the message links, frames leave those of the message
// links, and the message links take the last block. A refusal is remembered until a take of
// the use succeeds again.
TEST_F(PacketTest, EachUseLeavesTheBlocksKeptForTheOthers)
{
    struct Case {
        PacketUse use;
        unsigned int left;
    } const cases[] = {
        {PacketUse::queued, packet_control_reserve + packet_frame_reserve},
        {PacketUse::frame, packet_control_reserve},
        {PacketUse::control, 0},
    };
    std::vector<Packet> taken;
    for (Case const& c : cases) {
        SCOPED_TRACE(int(c.use));
        for (Packet p; p.try_reserve_head(0, c.use); p.clear())
            taken.push_back(p);
        EXPECT_EQ(freeBlocks(), c.left);
        EXPECT_TRUE(Packet::refusing(c.use));
        taken.pop_back();
        Packet again;
        EXPECT_TRUE(again.try_reserve_head(0, c.use));
        EXPECT_FALSE(Packet::refusing(c.use));
    }
}

TEST(PacketDeathTest, AssertionsReportThePacket)
{
    Packet tight;
    tight.reserve_tail(0);
    EXPECT_DEATH(tight.put8(1), "^PACKET ASSERTION FAILED!\nlen<=_tailroom\\(\\)\nhead=65536, data=0, tail=0\n\n");
    Packet p = bytes({0x01, 0xAB, 0x0F}, 2);
    EXPECT_DEATH(p.pull(4), "PACKET ASSERTION FAILED!\nlen<=_length\\(\\)\nhead=2, data=3, tail=65531\ndump:\n 1 ab f\n\n");
    Packet null;
    EXPECT_DEATH(null.pull8(), "PACKET ASSERTION FAILED!\nnull packet\n\\(null\\)\n\n");
}

TEST(PacketDeathTest, EveryMisuseEndsTheProcess)
{
    Packet null;
    Packet const& cnull = null;
    EXPECT_DEATH(null.put8(1), "null packet");
    EXPECT_DEATH(null.push8(1), "null packet");
    EXPECT_DEATH(null.trim(0), "null packet");
    EXPECT_DEATH(null.data(), "null packet");
    EXPECT_DEATH(null.tail(), "null packet");
    EXPECT_DEATH((void)cnull.tailroom(), "null packet");
    EXPECT_DEATH((void)cnull[0], "null packet");
    EXPECT_DEATH((void)null.sub(0, 0), "null packet");

    Packet p = bytes({1, 2}, 1);
    EXPECT_DEATH(p.push(2), "len<=_headroom\\(\\)");
    EXPECT_DEATH(p.trim(3), "len<=_length\\(\\)");
    EXPECT_DEATH(p[2] = 0, "index out of range");
    EXPECT_DEATH(p[-1] = 0, "index out of range");
    EXPECT_DEATH((void)p.sub(0, 3), "start<=_length\\(\\)");
    EXPECT_DEATH((void)p.sub(2, 1), "start\\+len<=_length\\(\\)");

    Packet q;
    EXPECT_DEATH(q.reserve_head(65537), "length>packet_max_size");
    EXPECT_DEATH(q.reserve_tail(65537), "len>packet_max_size");
    Packet r;
    r.reserve_head(65530);
    EXPECT_DEATH(r.reserve_head(7), "new_len>packet_max_size");
    Packet s;
    s.reserve_tail(65530);
    EXPECT_DEATH(s.reserve_tail(7), "_tailroom\\(\\)\\+len <= packet_max_size");
}

TEST(PacketDeathTest, AnEmptyPoolIsFatalOutsideTheReceivePaths)
{
    Packet shared = bytes({1});
    Packet other = shared;
    PoolDrain drain;
    EXPECT_DEATH(Packet().reserve_head(0), "PACKET ASSERTION FAILED!\nallocation fail\n\\(null\\)");
    EXPECT_DEATH(Packet().reserve_tail(0), "allocation fail");
    EXPECT_DEATH(other.put8(2), "PACKET ASSERTION FAILED!\nallocation fail\nhead=16, data=1, tail=65519\ndump:\n 1\n");
}

TEST(PacketDeathTest, WindowCheckFailure)
{
    EXPECT_DEATH(Packet::check_fail("after \"%s\" fdata invalid", "put"),
                 "^packet check fail\nafter \"put\" fdata invalid\nterminate.\n");
}

}  // namespace
