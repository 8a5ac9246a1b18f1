#pragma once

#include <string>

#include "asn1/abstract_data.h"

namespace ASN1 {

// BMPString: the value is the wide string itself, one 32-bit unit per character; the
// permitted characters are the code range of the record.
class BMPString : public Concrete<BMPString, ConstrainedObject>, public std::wstring {
public:
    using InfoType = BMPStringInfo;
    static InfoType const theInfo;

    BMPString() : Concrete(&theInfo) {}
    explicit BMPString(void const* info) : Concrete(info) {}
    explicit BMPString(std::wstring const& text, void const* info = &theInfo)
        : Concrete(info), std::wstring(text) {}
    explicit BMPString(wchar_t const* text, void const* info = &theInfo)
        : Concrete(info), std::wstring(text) {}
    BMPString(BMPString const&) = default;
    BMPString& operator=(BMPString const&) = default;

    static AbstractData* create(void const* info);

    // The value comparison for BMPStrings; the std::wstring forms stay available.
    int compare(BMPString const& other) const { return AbstractData::compare(other); }
    using AbstractData::compare;
    using std::wstring::compare;

    using std::wstring::assign;
    BMPString& assign(wchar_t const* text, size_type count) {
        std::wstring::assign(text, count);
        return *this;
    }

    unsigned getFirstChar() const { return infoAs<BMPStringInfo>()->firstChar; }
    unsigned getLastChar() const { return infoAs<BMPStringInfo>()->lastChar; }
    unsigned getNumBits(bool aligned) const {
        return aligned ? infoAs<BMPStringInfo>()->numBitsAligned : infoAs<BMPStringInfo>()->numBitsUnaligned;
    }
    bool legalCharacter(wchar_t c) const {
        unsigned const code = static_cast<unsigned>(c);
        return code >= getFirstChar() && code <= getLastChar();
    }
    // The position of the first character outside the code range; the length when none is.
    size_type first_illegal_at() const;

    bool isStrictlyValid() const { return sizeWithinLimits(size()) && first_illegal_at() == size(); }
    bool isValid() const { return sizeValid(size(), false) && first_illegal_at() == size(); }

protected:
    int do_compare(AbstractData const& other) const override;
};

}  // namespace ASN1
