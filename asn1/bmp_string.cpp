#include "asn1/bmp_string.h"

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

BMPString::InfoType const BMPString::theInfo = {{{&BMPString::create, 30}, Unconstrained, 0, 4294967295u},
                                                0, 65535, 16, 16};

AbstractData* BMPString::create(void const* info) { return new BMPString(info); }

BMPString::size_type BMPString::first_illegal_at() const {
    for (size_type i = 0; i < size(); ++i)
        if (!legalCharacter((*this)[i])) return i;
    return size();
}

int BMPString::do_compare(AbstractData const& other) const {
    std::wstring const& that = *boost::polymorphic_downcast<BMPString const*>(&other);
    return std::wstring::compare(that);
}

}  // namespace ASN1
