#include "board/sim/journal.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using board::sim::Journal;
using board::sim::JournalEntry;

JournalEntry pause(unsigned us)
{
    JournalEntry e;
    e.kind = JournalEntry::Kind::pause;
    e.value = us;
    return e;
}

TEST(Journal, KeepsTheLastEntriesNumberedWithoutGaps)
{
    Journal j(3);
    for (unsigned i = 1; i <= 5; ++i)
        j.add(pause(i));
    ASSERT_EQ(j.entries().size(), 3u);
    EXPECT_EQ(j.entries().front().seq, 3u);
    EXPECT_EQ(j.next(), 6u);
    auto s = j.since(4);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].value, 4u);
    EXPECT_EQ(j.since(1, 2).front().seq, 3u);  // dropped ones are gone
    EXPECT_EQ(j.since(1, 2).size(), 2u);
    EXPECT_TRUE(j.since(6).empty());
}

TEST(Journal, WordsOfAShortRecordAreZero)
{
    JournalEntry e;
    e.record = {1, 0, 0, 0, 2, 0};
    std::uint32_t one = 1;
    EXPECT_EQ(e.word(0), *reinterpret_cast<std::uint8_t*>(&one) == 1 ? 1u : 0x01000000u);
    EXPECT_EQ(e.word(1), 0u);
    e.kind = JournalEntry::Kind::request;
    e.path = "/dev/x";
    e.name = "spi";
    e.seq = 9;
    EXPECT_EQ(e.text(), "9 ioctl /dev/x spi 1 0 0 0 2 0 -> 0");  // not whole words: bytes
}

TEST(Journal, ErrorNamesBothWays)
{
    EXPECT_EQ(board::sim::errnoName(EIO), "EIO");
    EXPECT_EQ(board::sim::parseErrno("ENOENT"), ENOENT);
    EXPECT_EQ(board::sim::parseErrno("5"), 5);
    EXPECT_EQ(board::sim::parseErrno("EWHAT"), 0);
    EXPECT_EQ(board::sim::parseErrno("0"), 0);
    EXPECT_EQ(board::sim::parseErrno("5x"), 0);
}

}  // namespace
