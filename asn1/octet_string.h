#pragma once

#include <string>
#include <vector>

#include "asn1/abstract_data.h"

namespace ASN1 {

// OCTET STRING: the value is the octet vector itself, with every vector operation.
class OCTET_STRING : public Concrete<OCTET_STRING, ConstrainedObject>, public std::vector<char> {
public:
    static InfoType const theInfo;

    OCTET_STRING() : Concrete(&theInfo) {}
    explicit OCTET_STRING(void const* info) : Concrete(info) {}
    OCTET_STRING(size_type count, char fill, void const* info = &theInfo)
        : Concrete(info), std::vector<char>(count, fill) {}
    explicit OCTET_STRING(std::vector<char> const& octets, void const* info = &theInfo)
        : Concrete(info), std::vector<char>(octets) {}
    OCTET_STRING(OCTET_STRING const&) = default;
    OCTET_STRING& operator=(OCTET_STRING const&) = default;

    static AbstractData* create(void const* info);

    OCTET_STRING& operator=(std::vector<char> const& octets) {
        std::vector<char>::operator=(octets);
        return *this;
    }
    // The octets as they are, zero octets included.
    operator std::string() const { return std::string(data(), size()); }

    // Size within lower..upper.
    bool isStrictlyValid() const { return sizeWithinLimits(size()); }
    // Size at least lower, and at most upper for a fixed constraint.
    bool isValid() const { return sizeValid(size(), true); }

protected:
    int do_compare(AbstractData const& other) const override;
};

}  // namespace ASN1
