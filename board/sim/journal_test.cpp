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

TEST(Journal, KeepsTheLastEntriesNumberedWithoutGapsWhicheverWayTheyAreRead)
{
    Journal j(3);
    for (unsigned i = 1; i <= 5; ++i)
        j.add(pause(i));
    std::deque<JournalEntry> const& kept = j.entries();
    std::vector<JournalEntry> const all = j.since(0);
    ASSERT_EQ(kept.size(), 3u);
    ASSERT_EQ(all.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(kept[i].seq, i + 3);
        EXPECT_EQ(kept[i].text(), all[i].text());
    }
    EXPECT_EQ(j.next(), 6u);
    EXPECT_EQ(j.since(4).size(), 2u);
    EXPECT_EQ(j.since(1, 2).front().seq, 3u);  // dropped ones are gone
    EXPECT_EQ(j.since(1, 2).size(), 2u);
    EXPECT_TRUE(j.since(6).empty());
    j.clear();
    EXPECT_TRUE(j.entries().empty());
    EXPECT_EQ(j.next(), 6u);

    Journal none(0);
    none.add(pause(1));
    EXPECT_TRUE(none.since(0).empty());
    EXPECT_EQ(none.next(), 2u);
}

TEST(Journal, RecordsStayWholeWhenTheRoomGrowsAndResultsReachKeptEntriesOnly)
{
    Journal j(2);
    Journal::Site const site = j.site("/dev/x", "set", 0x40045801);
    EXPECT_EQ(j.site("/dev/x", "set", 0x40045801), site);
    EXPECT_NE(j.site("/dev/x", "get", 0x40045801), site);
    std::uint32_t const small = 7;
    std::uint32_t const big[11] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    j.reserveRecord(sizeof small);
    std::uint64_t const first = j.add(JournalEntry::Kind::request, site, &small, sizeof small, 0);
    j.reserveRecord(sizeof big);
    std::uint64_t const second = j.add(JournalEntry::Kind::request, site, big, sizeof big, 0);
    j.setResult(second, -1, EIO);
    EXPECT_EQ(j.since(first)[0].text(), "1 ioctl /dev/x set 7 -> 0");
    EXPECT_EQ(j.since(second)[0].text(), "2 ioctl /dev/x set 1 2 3 4 5 6 7 8 9 10 11 -> EIO");

    j.add(pause(3));
    j.setResult(first, 5, 0);  // dropped: changes nothing kept
    for (JournalEntry const& e : j.since(0))
        EXPECT_NE(e.result, 5) << e.text();
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
