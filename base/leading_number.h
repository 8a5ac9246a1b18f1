#pragma once

#include <charconv>
#include <string_view>
#include <system_error>
#include <type_traits>

// How the number at the head of a text from outside the process was read.
enum class NumberRead { none, read, outOfRange };

// Where the text's leading decimal number stands, as strtol finds it (white space skipped,
// an optional sign, then digits): from its sign or first digit to just past its last digit;
// empty (first == last) when no digit comes there.
struct LeadingDigits {
    std::size_t first = 0;
    std::size_t last = 0;
};

inline LeadingDigits leadingDigits(std::string_view text)
{
    std::size_t at = text.find_first_not_of(" \t\n\v\f\r");
    if (at == std::string_view::npos)
        return {};
    std::size_t const first = at;
    if (text[at] == '-' || text[at] == '+')
        ++at;
    std::size_t end = at;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9')
        ++end;
    return end == at ? LeadingDigits{} : LeadingDigits{first, end};
}

// Whether the leading number of the text's first `bound` characters is cut by that bound: its
// sign or its digits reach the bound and a digit follows. The character past the bound tells;
// a text that ends at the bound, or goes on with anything but a digit, holds the number whole.
// A number that begins past the bound is not cut: the first characters hold none.
inline bool cutByBound(std::string_view text, std::size_t bound)
{
    if (text.size() <= bound || text[bound] < '0' || text[bound] > '9')
        return false;
    std::string_view const head = text.substr(0, bound);
    std::size_t at = head.find_first_not_of(" \t\n\v\f\r");
    if (at == std::string_view::npos)
        return false;
    if (head[at] == '-' || head[at] == '+')
        ++at;
    while (at < head.size() && head[at] >= '0' && head[at] <= '9')
        ++at;
    return at == head.size();
}

// The text's leading decimal number (leadingDigits), read without exceptions and within the
// type: none when no digit comes there, outOfRange when the number does not fit (a negative
// one for an unsigned type); the value is set only when it was read.
template <class Int>
NumberRead leadingNumber(std::string_view text, Int& value)
{
    static_assert(std::is_integral_v<Int> && !std::is_same_v<Int, bool>, "an integer type");
    LeadingDigits const digits = leadingDigits(text);
    if (digits.first == digits.last)
        return NumberRead::none;
    bool const negative = text[digits.first] == '-';
    if (negative && std::is_unsigned_v<Int>)
        return NumberRead::outOfRange;
    // The conversion takes a minus sign, never a plus.
    char const* const first = text.data() + digits.first + (text[digits.first] == '+' ? 1 : 0);
    Int n{};
    if (std::from_chars(first, text.data() + digits.last, n).ec != std::errc())
        return NumberRead::outOfRange;
    value = n;
    return NumberRead::read;
}
