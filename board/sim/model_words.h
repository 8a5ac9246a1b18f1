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

}  // namespace board::sim::words
