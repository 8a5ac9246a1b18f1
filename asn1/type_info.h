#pragma once

// Type-information records: the constant, per-type data that every ASN.1 value points at.
//
// A value carries no schema knowledge; its tag, its constraints, the names of its items, the
// fields of a SEQUENCE and the alternatives of a CHOICE are read from its record at run time.
// The run-time defines the built-in records; the generated message modules emit one record
// per type in exactly these layouts, as constant aggregates (brace elision lets them be
// written as one flat list of fields in declaration order).
//
// Every record is a standard-layout aggregate whose first member is the common header (or a
// record that begins with it), so a record pointer held as `void const*` is read as its
// header, or as its constraint part, with a plain static_cast.

#include <climits>
#include <cstddef>
#include <type_traits>

namespace ASN1 {

class AbstractData;

// Factory of the value class of a record: record in, new value bound to it out (owned by
// the caller).
using CreateFun = AbstractData* (*)(void const* info);

enum ConstraintType : int {
    Unconstrained = 0,         // no bound
    PartiallyConstrained = 1,  // lower bound only
    FixedConstraint = 2,       // lower..upper
    ExtendableConstraint = 3   // (lower..upper, ...)
};

// Tag words: the class of a BER identifier octet shifted left by 16 (bits 22-23), the tag
// number in the low 16 bits. 0 means untagged (CHOICE and open types).
constexpr unsigned UniversalTagClass = 0x000000;
constexpr unsigned ApplicationTagClass = 0x400000;
constexpr unsigned ContextSpecificTagClass = 0x800000;
constexpr unsigned PrivateTagClass = 0xC00000;

// Common header of every record.
struct AbstractInfo {
    CreateFun create;
    unsigned tag;
};

// INTEGER (and every Constrained_INTEGER instance), BIT STRING, OCTET STRING; the first
// part of the string, BMPString and SEQUENCE OF records. The limits bound the value of an
// INTEGER and the size of everything else.
struct ConstrainedInfo {
    AbstractInfo header;
    ConstraintType constraintType;
    int lowerLimit;         // 0 when unconstrained
    unsigned upperLimit;    // 4294967295 when unconstrained
};

// One name of an INTEGER with named numbers; the entries are sorted by ascending value.
struct NameEntry {
    int value;
    char const* name;
};

struct NamedIntegerInfo {
    ConstrainedInfo constraint;
    NameEntry const* nameEntries;
    unsigned entryCount;
};

// ENUMERATED. Each name is an identifier ("ok") or an identifier, "=" and a decimal number
// ("hardware=128", "not-use=-1"); a name without a number has the previous value plus one,
// the first 0. `nameCount` is the number of entries of `names`: nothing past it is read.
struct EnumeratedInfo {
    AbstractInfo header;       // tag 10
    bool extendable;           // the type has an extension marker
    int maximum;               // the largest declared value
    char const* const* names;  // one per item, in declaration order
    unsigned nameCount;
};

// Character strings (AbstractString and the IA5String, NumericString, PrintableString,
// VisibleString and GeneralString records).
struct StringInfo {
    ConstrainedInfo constraint;     // a size constraint
    char const* characterSet;       // the permitted characters, ascending code order
    unsigned characterSetSize;      // 0: every character permitted
    unsigned canonicalSetBits;      // bits to number every permitted character
    unsigned numBitsUnaligned;      // bits per character, unaligned PER
    unsigned numBitsAligned;        // bits per character, aligned PER
};

struct BMPStringInfo {
    ConstrainedInfo constraint;     // a size constraint
    unsigned firstChar;             // the permitted code range
    unsigned lastChar;
    unsigned numBitsUnaligned;
    unsigned numBitsAligned;
};

// SEQUENCE. Fields are numbered roots first (0 .. numFields-1), then the known extension
// additions (numFields .. numFields+knownExtensions-1).
struct SequenceInfo {
    AbstractInfo header;             // tag 16
    bool extendable;                 // the type has an extension marker
    void const* const* fieldInfos;   // one record per field
    int const* fieldIds;             // per root field: -1 mandatory, else its bit in the
                                     // optional-field map (0, 1, ... in field order)
    unsigned numFields;              // root fields
    unsigned knownExtensions;        // known extension additions
    unsigned numOptional;            // OPTIONAL root fields
    char const* extensionPreset;     // null, or knownExtensions bits packed as a BitMap:
                                     // the extension additions present in a new value
    unsigned const* tags;            // null: automatic tags; &SEQUENCE::defaultTag: each
                                     // field its own type's tag; else one tag per field
    char const* const* fieldNames;   // one per field, for printing
};

// CHOICE. Alternatives are numbered roots first, then the known extension alternatives.
struct ChoiceInfo {
    AbstractInfo header;               // tag 0 (untagged)
    bool extendable;
    void const* const* selectionInfos; // one record per alternative
    unsigned numChoices;               // root alternatives
    unsigned numKnownChoices;          // roots plus known extension alternatives
    unsigned const* tags;              // null: automatic tags; else the tags of the root
                                       // alternatives, ascending
    char const* const* selectionNames; // one per alternative, for printing
};

// SEQUENCE OF (tag 16) and SET OF (tag 17).
struct SequenceOfInfo {
    ConstrainedInfo constraint;  // a size constraint
    void const* elementInfo;     // the element type's record
};

// An open type constrained to one contained type.
struct TypeConstrainedOpenInfo {
    AbstractInfo header;
    void const* containedInfo;
};

namespace detail {

// A record can be emitted as a constant aggregate and read through its first member.
template <class Record>
constexpr bool isRecord() {
    return std::is_standard_layout_v<Record> && std::is_aggregate_v<Record> &&
           std::is_trivially_destructible_v<Record>;
}

}  // namespace detail

// The widths the records are written with, and the layout rules the casts between record
// kinds rely on: each record is a standard-layout aggregate that starts with its header
// (or with the constraint part, which starts with the header) at offset 0.
static_assert(sizeof(unsigned) == 4 && sizeof(int) == 4, "record numbers are 32 bits wide");
static_assert(sizeof(ConstraintType) == 4, "the constraint type is a 32-bit word");
static_assert(sizeof(wchar_t) == 4, "BMPString keeps one 32-bit unit per character");
static_assert(offsetof(AbstractInfo, create) == 0, "the factory is the record's first word");
static_assert(offsetof(ConstrainedInfo, header) == 0);
static_assert(offsetof(NamedIntegerInfo, constraint) == 0);
static_assert(offsetof(EnumeratedInfo, header) == 0);
static_assert(offsetof(StringInfo, constraint) == 0);
static_assert(offsetof(BMPStringInfo, constraint) == 0);
static_assert(offsetof(SequenceInfo, header) == 0);
static_assert(offsetof(ChoiceInfo, header) == 0);
static_assert(offsetof(SequenceOfInfo, constraint) == 0);
static_assert(offsetof(TypeConstrainedOpenInfo, header) == 0);
static_assert(detail::isRecord<AbstractInfo>());
static_assert(detail::isRecord<ConstrainedInfo>());
static_assert(detail::isRecord<NamedIntegerInfo>());
static_assert(detail::isRecord<EnumeratedInfo>());
static_assert(detail::isRecord<StringInfo>());
static_assert(detail::isRecord<BMPStringInfo>());
static_assert(detail::isRecord<SequenceInfo>());
static_assert(detail::isRecord<ChoiceInfo>());
static_assert(detail::isRecord<SequenceOfInfo>());
static_assert(detail::isRecord<TypeConstrainedOpenInfo>());
// The order of the fields is the order in which the generated records list them.
static_assert(offsetof(ConstrainedInfo, constraintType) < offsetof(ConstrainedInfo, lowerLimit) &&
              offsetof(ConstrainedInfo, lowerLimit) < offsetof(ConstrainedInfo, upperLimit));
static_assert(offsetof(EnumeratedInfo, extendable) < offsetof(EnumeratedInfo, maximum) &&
              offsetof(EnumeratedInfo, maximum) < offsetof(EnumeratedInfo, names) &&
              offsetof(EnumeratedInfo, names) < offsetof(EnumeratedInfo, nameCount));
static_assert(offsetof(SequenceInfo, extendable) < offsetof(SequenceInfo, fieldInfos) &&
              offsetof(SequenceInfo, fieldInfos) < offsetof(SequenceInfo, fieldIds) &&
              offsetof(SequenceInfo, fieldIds) < offsetof(SequenceInfo, numFields) &&
              offsetof(SequenceInfo, numFields) < offsetof(SequenceInfo, knownExtensions) &&
              offsetof(SequenceInfo, knownExtensions) < offsetof(SequenceInfo, numOptional) &&
              offsetof(SequenceInfo, numOptional) < offsetof(SequenceInfo, extensionPreset) &&
              offsetof(SequenceInfo, extensionPreset) < offsetof(SequenceInfo, tags) &&
              offsetof(SequenceInfo, tags) < offsetof(SequenceInfo, fieldNames));
static_assert(offsetof(ChoiceInfo, extendable) < offsetof(ChoiceInfo, selectionInfos) &&
              offsetof(ChoiceInfo, selectionInfos) < offsetof(ChoiceInfo, numChoices) &&
              offsetof(ChoiceInfo, numChoices) < offsetof(ChoiceInfo, numKnownChoices) &&
              offsetof(ChoiceInfo, numKnownChoices) < offsetof(ChoiceInfo, tags) &&
              offsetof(ChoiceInfo, tags) < offsetof(ChoiceInfo, selectionNames));
static_assert(offsetof(StringInfo, characterSet) < offsetof(StringInfo, characterSetSize) &&
              offsetof(StringInfo, characterSetSize) < offsetof(StringInfo, canonicalSetBits) &&
              offsetof(StringInfo, canonicalSetBits) < offsetof(StringInfo, numBitsUnaligned) &&
              offsetof(StringInfo, numBitsUnaligned) < offsetof(StringInfo, numBitsAligned));

}  // namespace ASN1
