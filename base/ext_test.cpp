#include "base/ext.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

struct Base {
    virtual ~Base() = default;
    virtual void PutHeader(std::ostream& os) const { os << "base: "; }
    void PutShortInfo(std::ostream& os) const { os << "short"; }
};

struct Link : Base {
    void PutHeader(std::ostream& os) const override { os << "link 3: "; }
};

TEST(Ext, HeaderCallsTheObjectsOwnPrefix)
{
    Link l;
    Base const* b = &l;
    std::ostringstream os;
    os << ext::header(b) << "up" << '|' << ext::shortinfo(b);
    EXPECT_EQ(os.str(), "link 3: up|short");
}

TEST(Ext, QuotedPutsDoubleQuotesAround)
{
    char const* dev = "/dev/mixer";
    std::ostringstream os;
    os << ext::quoted(dev) << ' ' << ext::quoted(std::string("a\"b")) << ' ' << ext::quoted(42);
    EXPECT_EQ(os.str(), "\"/dev/mixer\" \"a\"b\" \"42\"");
}

TEST(Ext, HexDumpWritesTwoUpperCaseDigitsAndABlankPerByte)
{
    unsigned char const bytes[] = {0x0A, 0xFF, 0x00};
    std::ostringstream os;
    os << ext::hex(bytes, bytes + 3);
    EXPECT_EQ(os.str(), "0A FF 00 ");

    std::ostringstream empty;
    empty << ext::hex(bytes, bytes);
    EXPECT_EQ(empty.str(), "");

    char const text[] = "\x01\x7f";
    std::ostringstream os2;
    os2 << ext::hex(text, 2);
    EXPECT_EQ(os2.str(), "01 7F ");
}

TEST(Ext, HexLeavesFlagsAsTheyWereAndFillBlank)
{
    unsigned char const bytes[] = {0x1};
    std::ostringstream os;
    os.fill('*');
    os << std::oct << ext::hex(bytes, bytes + 1) << 8 << ext::hex(31u, 0) << 8;
    os.width(3);
    os << 1;
    EXPECT_EQ(os.str(), "01 100x1F10  1");
}

TEST(Ext, HexNumberIsZeroFilledToTheWidth)
{
    std::ostringstream os;
    os << ext::hex(31u, 0) << ' ' << ext::hex(31u, 4) << ' ' << ext::hex(0, 0) << ' '
       << ext::hex(static_cast<unsigned char>(0xab), 0);
    EXPECT_EQ(os.str(), "0x1F 0x001F 0x0 0xAB");
}

}  // namespace
