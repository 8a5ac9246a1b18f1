#pragma once

#include <ostream>
#include <string>

#include "asn1/abstract_data.h"

namespace ASN1 {

// The permitted characters of the built-in character-string types, ascending code order
// (the IA5 set begins with the zero byte: use the counts, not the terminator).
extern char const NumericStringSet[11];
extern char const PrintableStringSet[74];
extern char const VisibleStringSet[95];
extern char const IA5StringSet[128];
extern char const GeneralStringSet[256];

// A character string of 8-bit characters from the character set of its record: the value
// is the text itself, with every std::string operation.
class AbstractString : public Concrete<AbstractString, ConstrainedObject>, public std::string {
public:
    using InfoType = StringInfo;

    explicit AbstractString(void const* info) : Concrete(info) {}
    AbstractString(void const* info, std::string const& text) : Concrete(info), std::string(text) {}
    AbstractString(void const* info, char const* text) : Concrete(info), std::string(text) {}
    AbstractString(AbstractString const&) = default;
    AbstractString& operator=(AbstractString const&) = default;

    static AbstractData* create(void const* info);

    // The value comparison for strings of this kind; the std::string forms stay available.
    int compare(AbstractString const& other) const { return AbstractData::compare(other); }
    using AbstractData::compare;
    using std::string::compare;

    using std::string::assign;
    AbstractString& assign(std::string const& text) {
        std::string::assign(text);
        return *this;
    }

    char const* getCharacterSet() const { return stringInfo().characterSet; }
    unsigned getCharacterSetSize() const { return stringInfo().characterSetSize; }
    unsigned getCanonicalSetBits() const { return stringInfo().canonicalSetBits; }
    unsigned getNumBits(bool aligned) const {
        return aligned ? stringInfo().numBitsAligned : stringInfo().numBitsUnaligned;
    }

    // The position of the first character outside the character set; npos when every
    // character is permitted (always for a set of size 0).
    size_type find_first_invalid() const;

    bool isStrictlyValid() const;
    bool isValid() const;

protected:
    StringInfo const& stringInfo() const { return *infoAs<StringInfo>(); }

    int do_compare(AbstractData const& other) const override;
};

// Writes the characters as they are.
std::ostream& operator<<(std::ostream& out, AbstractString const& text);

// IA5String; a module's own IA5String record (with a size constraint) makes values of this
// class too.
class IA5String : public Concrete<IA5String, AbstractString> {
public:
    static InfoType const theInfo;

    explicit IA5String(std::string const& text = std::string(), void const* info = &theInfo)
        : Concrete(info, text) {}
    IA5String(IA5String const&) = default;
    IA5String& operator=(IA5String const&) = default;
    IA5String& operator=(std::string const& text) {
        assign(text);
        return *this;
    }

    static AbstractData* create(void const* info);
};

// The other built-in character-string types exist as records only; their values are
// AbstractStrings.
struct NumericString {
    static AbstractString::InfoType const theInfo;
};
struct PrintableString {
    static AbstractString::InfoType const theInfo;
};
struct VisibleString {
    static AbstractString::InfoType const theInfo;
};
struct GeneralString {
    static AbstractString::InfoType const theInfo;
};

}  // namespace ASN1
