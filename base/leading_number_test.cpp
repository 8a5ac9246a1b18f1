#include "base/leading_number.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

// What the daemon's own tests of its readers do not reach: the limits of each type and the
// sign of an unsigned one.
TEST(LeadingNumber, IsReadWithinItsTypeOrSaidOutOfRange)
{
    struct Case {
        char const* text;
        NumberRead read;
        long long value;  // when read
    } const cases[] = {
        {"\t 12ab", NumberRead::read, 12},       {"+0", NumberRead::read, 0},
        {"", NumberRead::none, 0},               {"+ 1", NumberRead::none, 0},
        {"-", NumberRead::none, 0},              {"x1", NumberRead::none, 0},
        {"-32768", NumberRead::read, -32768},    {"32767\n", NumberRead::read, 32767},
        {"32768", NumberRead::outOfRange, 0},    {"-32769", NumberRead::outOfRange, 0},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.text);
        std::int16_t n = 99;
        EXPECT_EQ(leadingNumber(c.text, n), c.read);
        EXPECT_EQ(n, c.read == NumberRead::read ? c.value : 99);
    }
    std::uint8_t u = 7;
    EXPECT_EQ(leadingNumber("-1", u), NumberRead::outOfRange);
    EXPECT_EQ(leadingNumber("256", u), NumberRead::outOfRange);
    EXPECT_EQ(leadingNumber("255", u), NumberRead::read);
    EXPECT_EQ(u, 255);
}

// A bound of 31 characters: whether the number reaches it (the line must wait for the next
// character) and whether that character cuts it.
TEST(LeadingNumber, ReachesOrIsCutByABound)
{
    std::string const blanks(28, ' ');
    struct Case {
        std::string text;
        bool reaches;
        bool cut;
    } const cases[] = {
        {blanks + "12 5", false, false},   {blanks + "12 ", false, false},
        {blanks + " 125", true, true},     {blanks + " 12", true, false},
        {blanks + " 12x", true, false},    {blanks + "-125", true, true},
        {blanks + "  +5", true, true},     {blanks + "   5", false, false},
        {blanks + "   ", false, false},    {blanks + " 1", false, false},
        {"5" + blanks + "  ", false, false}, {"3 relays available on this board", false, false},
        {std::string(32, '9'), true, true},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE("\"" + c.text + "\"");
        EXPECT_EQ(reachesBound(c.text, 31), c.reaches);
        EXPECT_EQ(cutByBound(c.text, 31), c.cut);
    }
}

}  // namespace
