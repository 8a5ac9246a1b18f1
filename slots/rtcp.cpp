#include "slots/rtcp.h"

#include <algorithm>
#include <cstring>

namespace RTPC {
namespace {

constexpr std::size_t kHeader = 4;
constexpr std::size_t kMaxText = 255;

std::size_t wholeWords(std::size_t n) { return n & ~std::size_t(3); }

void put32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

// Zero octets from length up to the next whole word; the new length.
std::size_t pad(std::uint8_t* p, std::size_t length)
{
    std::size_t const padded = (length + 3) & ~std::size_t(3);
    std::memset(p + length, 0, padded - length);
    return padded;
}

}  // namespace

std::size_t Msg::encode(std::uint8_t* buf, std::size_t size) const
{
    size = wholeWords(size);
    if (size < 8)
        return 0;
    buf[0] = std::uint8_t(0x80 | (count() & 31));
    buf[1] = std::uint8_t(pt());
    std::size_t const length = pad(buf, kHeader + encode_body(buf + kHeader, size - kHeader));
    std::size_t const words = length / 4 - 1;
    buf[2] = std::uint8_t(words >> 8);
    buf[3] = std::uint8_t(words);
    return length;
}

std::size_t SDES::encode_body(std::uint8_t* p, std::size_t n) const
{
    // Whole words only: the item list's end and padding then always fit.
    n = wholeWords(n);
    if (n < 4)
        return 0;
    put32(p, ssrc_);
    std::size_t at = 4;
    if (items_.empty() || n - at < 8)
        return at;
    for (Item const& item : items_) {
        std::size_t const len = std::min(item.text().size(), kMaxText);
        // The item with room for the list's end, in whole words.
        std::size_t const need = (len + 3 + 3) & ~std::size_t(3);
        if (n - at < need)
            break;
        p[at] = item.type();
        p[at + 1] = std::uint8_t(len);
        std::memcpy(p + at + 2, item.text().data(), len);
        at += len + 2;
    }
    p[at++] = 0;
    return pad(p, at);
}

std::size_t BYE::encode_body(std::uint8_t* p, std::size_t n) const
{
    // Whole words only, so that the padding after the reason stays within the buffer.
    n = wholeWords(n);
    if (n < 4)
        return 0;
    put32(p, ssrc_);
    if (reason_.empty() || n < 8)
        return 4;
    std::size_t const len = std::min({reason_.size(), kMaxText, n - 5});
    p[4] = std::uint8_t(len);
    std::memcpy(p + 5, reason_.data(), len);
    return pad(p, 5 + len);
}

}  // namespace RTPC
