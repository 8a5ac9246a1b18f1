#pragma once

#include <algorithm>
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

namespace leading_number_detail {

// The text's run of white space, sign and digits, as strtol scans it: where the white space
// ends (the text's size when it is all white space), where the sign ends and where the
// digits end.
struct Run {
    std::size_t first;
    std::size_t digits;
    std::size_t last;
};

inline Run run(std::string_view text)
{
    std::size_t const first = std::min(text.find_first_not_of(" \t\n\v\f\r"), text.size());
    std::size_t const digits = first + (first < text.size() && (text[first] == '-' || text[first] == '+') ? 1 : 0);
    std::size_t last = digits;
    while (last < text.size() && text[last] >= '0' && text[last] <= '9')
        ++last;
    return {first, digits, last};
}

}  // namespace leading_number_detail

inline LeadingDigits leadingDigits(std::string_view text)
{
    leading_number_detail::Run const r = leading_number_detail::run(text);
    return r.last == r.digits ? LeadingDigits{} : LeadingDigits{r.first, r.last};
}

// Whether the leading number of the text's first `bound` characters reaches the bound: its
// sign or its digits run up to the last of them, so that only the character past the bound
// can tell whether the number goes on. A text shorter than the bound, one whose first
// characters are blank, and one whose number ends before the bound do not reach it.
inline bool reachesBound(std::string_view text, std::size_t bound)
{
    if (text.size() < bound)
        return false;
    leading_number_detail::Run const r = leading_number_detail::run(text.substr(0, bound));
    return r.first < bound && r.last == bound;
}

// Whether the leading number of the text's first `bound` characters is cut by that bound: it
// reaches the bound (reachesBound) and a digit follows. A text that ends at the bound, or goes
// on with anything but a digit, holds the number whole. A number that begins past the bound
// is not cut: the first characters hold none.
inline bool cutByBound(std::string_view text, std::size_t bound)
{
    return text.size() > bound && text[bound] >= '0' && text[bound] <= '9' && reachesBound(text, bound);
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
