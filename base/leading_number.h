#pragma once

#include <charconv>
#include <string_view>
#include <system_error>
#include <type_traits>

// How the number at the head of a text from outside the process was read.
enum class NumberRead { none, read, outOfRange };

// The text's leading decimal number, as strtol finds it (white space skipped, an optional
// sign, then digits), read without exceptions and within the type: none when no digit comes
// there, outOfRange when the number does not fit (a negative one for an unsigned type); the
// value is set only when it was read.
template <class Int>
NumberRead leadingNumber(std::string_view text, Int& value)
{
    static_assert(std::is_integral_v<Int> && !std::is_same_v<Int, bool>, "an integer type");
    std::size_t at = text.find_first_not_of(" \t\n\v\f\r");
    if (at == std::string_view::npos)
        return NumberRead::none;
    bool const negative = text[at] == '-';
    if (negative || text[at] == '+')
        ++at;
    if (at == text.size() || text[at] < '0' || text[at] > '9')
        return NumberRead::none;
    if (negative && std::is_unsigned_v<Int>)
        return NumberRead::outOfRange;
    // The conversion takes a minus sign, never a plus.
    char const* const first = text.data() + at - (negative ? 1 : 0);
    Int n{};
    if (std::from_chars(first, text.data() + text.size(), n).ec != std::errc())
        return NumberRead::outOfRange;
    value = n;
    return NumberRead::read;
}
