#include "asn1/octet_string.h"

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

OCTET_STRING::InfoType const OCTET_STRING::theInfo = {{&OCTET_STRING::create, 4}, Unconstrained, 0, 4294967295u};

AbstractData* OCTET_STRING::create(void const* info) { return new OCTET_STRING(info); }

int OCTET_STRING::do_compare(AbstractData const& other) const {
    auto const& that = *boost::polymorphic_downcast<OCTET_STRING const*>(&other);
    return lexicographic_compare_bytes(data(), data() + size(), that.data(), that.data() + that.size());
}

}  // namespace ASN1
