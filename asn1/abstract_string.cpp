#include "asn1/abstract_string.h"

#include <algorithm>

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

char const NumericStringSet[11] = {' ', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
char const PrintableStringSet[74] = {
    ' ', '\'', '(', ')', '+', ',', '-', '.', '/', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9',
    ':', '=', '?', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P',
    'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i',
    'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z'};
// Sixteen consecutive codes from b.
#define ROW16(b) b, b + 1, b + 2, b + 3, b + 4, b + 5, b + 6, b + 7, b + 8, b + 9, b + 10, b + 11, \
                 b + 12, b + 13, b + 14, b + 15
char const VisibleStringSet[95] = {
    ROW16(0x20), ROW16(0x30), ROW16(0x40), ROW16(0x50), ROW16(0x60),
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E};
char const IA5StringSet[128] = {ROW16(0x00), ROW16(0x10), ROW16(0x20), ROW16(0x30),
                                ROW16(0x40), ROW16(0x50), ROW16(0x60), ROW16(0x70)};
char const GeneralStringSet[256] = {
    ROW16(0x00), ROW16(0x10), ROW16(0x20), ROW16(0x30), ROW16(0x40), ROW16(0x50),
    ROW16(0x60), ROW16(0x70), ROW16(-0x80), ROW16(-0x70), ROW16(-0x60), ROW16(-0x50),
    ROW16(-0x40), ROW16(-0x30), ROW16(-0x20), ROW16(-0x10)};
#undef ROW16

StringInfo const NumericString::theInfo = {
    {{&AbstractString::create, 18}, Unconstrained, 0, 4294967295u}, NumericStringSet, 11, 4, 4, 4};
StringInfo const PrintableString::theInfo = {
    {{&AbstractString::create, 19}, Unconstrained, 0, 4294967295u}, PrintableStringSet, 74, 7, 7, 8};
StringInfo const IA5String::theInfo = {
    {{&IA5String::create, 22}, Unconstrained, 0, 4294967295u}, IA5StringSet, 128, 7, 7, 8};
StringInfo const VisibleString::theInfo = {
    {{&AbstractString::create, 26}, Unconstrained, 0, 4294967295u}, VisibleStringSet, 95, 7, 7, 8};
StringInfo const GeneralString::theInfo = {
    {{&AbstractString::create, 27}, Unconstrained, 0, 4294967295u}, GeneralStringSet, 256, 8, 8, 8};

AbstractData* AbstractString::create(void const* info) { return new AbstractString(info); }

AbstractString::size_type AbstractString::find_first_invalid() const {
    char const* const set = getCharacterSet();
    unsigned const count = getCharacterSetSize();
    if (count == 0 || !set) return npos;
    auto const less = [](char a, char b) {
        return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
    };
    for (size_type i = 0; i < size(); ++i)
        if (!std::binary_search(set, set + count, (*this)[i], less)) return i;
    return npos;
}

bool AbstractString::isStrictlyValid() const {
    return sizeWithinLimits(size()) && find_first_invalid() == npos;
}

bool AbstractString::isValid() const { return sizeValid(size(), false) && find_first_invalid() == npos; }

int AbstractString::do_compare(AbstractData const& other) const {
    std::string const& that = *boost::polymorphic_downcast<AbstractString const*>(&other);
    return std::string::compare(that);
}

std::ostream& operator<<(std::ostream& out, AbstractString const& text) {
    return out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

AbstractData* IA5String::create(void const* info) { return new IA5String(std::string(), info); }

}  // namespace ASN1
