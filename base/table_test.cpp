#include "base/table.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(Table, CellsAreCentredInTheirColumns)
{
    ext::Table t(5, 3);
    std::ostringstream os;
    os << t << ext::delimeter;
    os << t << ext::beginrow << "ab" << ext::nextrow << "xyz" << ext::nextrow;
    os << t << ext::beginrow << 7 << ext::nextrow << 12u << ext::nextrow;
    os << t << ext::delimeter;
    EXPECT_EQ(os.str(),
              "+-----+---+\n"
              "| ab  |xyz|\n"
              "|  7  |12 |\n"
              "+-----+---+\n");
}

TEST(Table, LongCellsAreCutToTheColumn)
{
    ext::Table t(4);
    std::ostringstream os;
    os << t << ext::beginrow << "abcdefg" << ext::nextrow;
    EXPECT_EQ(os.str(), "|abcd|\n");
}

TEST(Table, AnUnfinishedRowIsCompletedWithBlankCells)
{
    ext::Table t(3, 2, 1);
    std::ostringstream os;
    os << t << ext::beginrow << "a" << ext::nextrow;
    EXPECT_EQ(os.str(), "| a |  | |\n");
}

TEST(Table, CellsAfterACompleteRowAreDroppedUntilBeginrow)
{
    ext::Table t(1);
    std::ostringstream os;
    os << t << ext::beginrow << "a" << ext::nextrow << "b" << ext::nextrow;
    os << t << "c" << ext::nextrow;
    os << t << ext::beginrow << "d" << ext::nextrow;
    EXPECT_EQ(os.str(), "|a|\n|d|\n");
}

TEST(Table, TablesWithoutColumnsWriteNothing)
{
    ext::Table t;
    std::ostringstream os;
    t.delimeter(os);
    t.gap(os);
    os << t << ext::beginrow << "a" << ext::nextrow << ext::delimeter;
    EXPECT_EQ(os.str(), "");
}

TEST(Table, GapAndColumnsAddedLater)
{
    ext::Table t;
    t.add(2);
    t.add(1);
    t.init();
    std::ostringstream os;
    t.gap(os);
    t.row(os, "x");
    t.delimeter(os);  // completes the open row first
    EXPECT_EQ(os.str(), "|  | |\n|x | |\n+--+-+\n");
}

}  // namespace
