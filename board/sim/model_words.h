#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

// Reading the words of a device model's console command.
namespace board::sim::words {

// A whole word as a signed number (decimal or 0x hexadecimal) within [low, high].
inline std::optional<long long> number(std::string const& text, long long low, long long high)
{
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text.c_str(), &end, 0);
    if (*end != '\0' || errno != 0 || value < low || value > high)
        return std::nullopt;
    return value;
}

inline std::optional<std::uint32_t> word32(std::string const& text)
{
    auto v = number(text, 0, 0xFFFFFFFFll);
    return v ? std::optional<std::uint32_t>(std::uint32_t(*v)) : std::nullopt;
}

// The optional last argument at index i: an id; absent is fine (nullopt in *id), a bad one
// is not (false).
inline bool optionalId(std::vector<std::string> const& w, std::size_t i, std::optional<std::uint32_t>& id)
{
    id.reset();
    if (w.size() <= i)
        return true;
    id = word32(w[i]);
    return id.has_value() && w.size() == i + 1;
}

// "0102ff" as bytes, "-" as none; false for anything else.
inline bool bytes(std::string const& text, std::vector<std::uint8_t>& out)
{
    out.clear();
    if (text == "-")
        return true;
    if (text.empty() || text.size() % 2 != 0)
        return false;
    auto digit = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int hi = digit(text[i]);
        int lo = digit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(std::uint8_t(hi << 4 | lo));
    }
    return true;
}

// Bytes as "0102ff", none as "-".
inline std::string hex(std::vector<std::uint8_t> const& data)
{
    if (data.empty())
        return "-";
    static char const digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : data) {
        text += digits[b >> 4];
        text += digits[b & 0xF];
    }
    return text;
}

}  // namespace board::sim::words
