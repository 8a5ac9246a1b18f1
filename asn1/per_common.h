#pragma once

// What the PER encoder and decoder agree on beyond the primitives: the forms chosen from a
// value's record.

#include "asn1/abstract_data.h"
#include "asn1/abstract_string.h"
#include "asn1/generalized_time.h"

namespace ASN1::per {

// The upper bound callers give a length determinant that has none.
constexpr unsigned NoUpperBound = 2147483647u;
// Lengths from here on would need the fragmented form, which this coder does not have.
constexpr unsigned FragmentLength = 16384u;

// The size bounds a length is coded with: the record's for a fixed constraint and for an
// extensible one whose value lies inside it; none (0..NoUpperBound) otherwise.
struct LengthBounds {
    unsigned lb;
    unsigned ub;
};
inline LengthBounds lengthBounds(ConstrainedObject const& object, bool unconstrainedForm) {
    if (unconstrainedForm) return {0, NoUpperBound};
    return {static_cast<unsigned>(object.getLowerLimit()), object.getUpperLimit()};
}

// A value outside the range of an extensible constraint: compared as signed numbers when
// the lower bound is negative, as unsigned ones otherwise.
inline bool outsideRange(ConstrainedObject const& object, unsigned value) {
    int const lb = object.getLowerLimit();
    if (lb < 0)
        return static_cast<int>(value) < lb ||
               static_cast<long long>(static_cast<int>(value)) > static_cast<long long>(object.getUpperLimit());
    return value < static_cast<unsigned>(lb) || value > object.getUpperLimit();
}

// Octets of the shortest two's-complement form of a value (1..4).
inline unsigned signedOctets(int value) {
    if (value >= -128 && value <= 127) return 1;
    if (value >= -32768 && value <= 32767) return 2;
    if (value >= -8388608 && value <= 8388607) return 3;
    return 4;
}

// Characters of a string: their width and whether they start on an octet boundary.
struct StringForm {
    unsigned bits;       // per character
    bool byCode;         // the character's own code; else its index in the character set
    bool alignFirst;     // the characters start on an octet boundary
};
inline StringForm stringForm(AbstractString const& text, bool aligned) {
    StringForm form;
    form.bits = text.getNumBits(aligned);
    unsigned const canonical = text.getCanonicalSetBits();
    form.byCode = (canonical > 4 && canonical <= form.bits) || text.getCharacterSetSize() == 0 ||
                  !text.getCharacterSet();
    bool const wide = text.getConstraintType() == Unconstrained ||
                      static_cast<unsigned long long>(text.getUpperLimit()) * form.bits >= 17;
    form.alignFirst = wide && (aligned || form.bits == 8);
    return form;
}

// The time a text carries, when the text is exactly the form that time is written in; the
// time is coded as its text, so only such texts carry a time there and back.
inline bool timeFromText(std::string const& text, GeneralizedTime& time) {
    GeneralizedTime read;
    read.set(text.c_str());
    if (read.get() != text) return false;
    time = read;
    return true;
}

// The text a time is coded as (PER and BER), when that text reads back as the same time;
// a time with fields out of range has none.
inline bool timeText(GeneralizedTime const& time, std::string& text) {
    text = time.get();
    GeneralizedTime readBack;
    return timeFromText(text, readBack) && readBack == time;
}

}  // namespace ASN1::per
