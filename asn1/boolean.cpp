#include "asn1/boolean.h"

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

BOOLEAN::InfoType const BOOLEAN::theInfo = {&BOOLEAN::create, 1};

AbstractData* BOOLEAN::create(void const* info) { return new BOOLEAN(info); }

int BOOLEAN::do_compare(AbstractData const& other) const {
    auto const& that = *boost::polymorphic_downcast<BOOLEAN const*>(&other);
    return static_cast<int>(value_) - static_cast<int>(that.value_);
}

}  // namespace ASN1
