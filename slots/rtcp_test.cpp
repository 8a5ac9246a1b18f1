#include "slots/rtcp.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes text(std::string const& s) { return Bytes(s.begin(), s.end()); }
Bytes operator+(Bytes a, Bytes const& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::unique_ptr<RTPC::SDES> sdes(std::vector<std::pair<RTPC::SDES::Item::Type, std::string>> const& items)
{
    auto m = std::make_unique<RTPC::SDES>(0x01020304);
    for (auto const& [type, t] : items)
        m->add(type, t);
    return m;
}

// What encode writes into a buffer of `size` octets, followed by guard octets that must stay
// untouched.
Bytes encoded(RTPC::Msg const& m, std::size_t size)
{
    Bytes buf(size + 8, 0xEE);
    std::size_t const n = m.encode(buf.data(), size);
    EXPECT_LE(n, size);
    EXPECT_EQ(Bytes(buf.begin() + std::ptrdiff_t(size), buf.end()), Bytes(8, 0xEE)) << "written past the buffer";
    return Bytes(buf.begin(), buf.begin() + std::ptrdiff_t(n));
}

TEST(Rtcp, PacketsEncodeAsTheirOctets)
{
    using Item = RTPC::SDES::Item;
    Bytes const ssrc = {1, 2, 3, 4};
    std::string const long300(300, 'x');
    struct Case {
        char const* name;
        std::function<std::unique_ptr<RTPC::Msg>()> make;
        std::size_t size;
        Bytes expected;
    };
    Case const cases[] = {
        {"BYE with its reason", [] { return std::make_unique<RTPC::BYE>(0x01020304, "session end"); }, 1024,
         Bytes{0x81, 0xCB, 0x00, 0x04} + ssrc + Bytes{0x0B} + text("session end")},
        {"BYE without a reason", [] { return std::make_unique<RTPC::BYE>(0x01020304, ""); }, 1024,
         Bytes{0x81, 0xCB, 0x00, 0x01} + ssrc},
        {"SDES with one CNAME", [] { return sdes({{Item::CNAME, "abc"}}); }, 1024,
         Bytes{0x81, 0xCA, 0x00, 0x03} + ssrc + Bytes{0x01, 0x03} + text("abc") + Bytes{0, 0, 0}},
        {"SDES without items", [] { return sdes({}); }, 1024, Bytes{0x81, 0xCA, 0x00, 0x01} + ssrc},
        {"SDES item cut to 255 octets", [&] { return sdes({{Item::PHONE, long300}}); }, 1024,
         Bytes{0x81, 0xCA, 0x00, 0x42} + ssrc + Bytes{0x04, 0xFF} + Bytes(255, 'x') + Bytes{0, 0, 0}},
        {"buffer of 7 octets", [] { return std::make_unique<RTPC::BYE>(0x01020304, "session end"); }, 7, {}},
        // Items that do not fit are dropped from the first that does not on.
        {"SDES in 16 octets", [] { return sdes({{Item::CNAME, "ab"}, {Item::EMAIL, "cd"}}); }, 16,
         Bytes{0x81, 0xCA, 0x00, 0x03} + ssrc + Bytes{0x01, 0x02, 'a', 'b', 0, 0, 0, 0}},
        // The reason is cut to what the whole words of the buffer hold.
        {"BYE in 14 octets", [] { return std::make_unique<RTPC::BYE>(0x01020304, "session end"); }, 14,
         Bytes{0x81, 0xCB, 0x00, 0x02} + ssrc + Bytes{0x03} + text("ses")},
    };
    for (Case const& c : cases)
        EXPECT_EQ(encoded(*c.make(), c.size), c.expected) << c.name;
}

TEST(Rtcp, NothingIsWrittenPastTheBuffer)
{
    using Item = RTPC::SDES::Item;
    RTPC::BYE const bye(7, "session end");
    std::unique_ptr<RTPC::SDES> const full = sdes({{Item::CNAME, "abc"}, {Item::EMAIL, "a@b"}, {Item::PHONE, "1"}});
    for (std::size_t size = 0; size <= 40; ++size) {
        for (RTPC::Msg const* m : {static_cast<RTPC::Msg const*>(&bye), static_cast<RTPC::Msg const*>(full.get())}) {
            Bytes const out = encoded(*m, size);
            if (out.empty())
                continue;
            EXPECT_EQ(out.size() % 4, 0u) << size;
            EXPECT_EQ(std::size_t(out[2] << 8 | out[3]), out.size() / 4 - 1) << size;
        }
    }
}

}  // namespace
