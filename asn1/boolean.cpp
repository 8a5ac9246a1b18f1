#include "asn1/boolean.h"

#include <boost/polymorphic_cast.hpp>

#include "asn1/visitor.h"

namespace ASN1 {

BOOLEAN::InfoType const BOOLEAN::theInfo = {&BOOLEAN::create, 1};

AbstractData* BOOLEAN::create(void const* info) { return new BOOLEAN(info); }

int BOOLEAN::do_compare(AbstractData const& other) const {
    auto const& that = *boost::polymorphic_downcast<BOOLEAN const*>(&other);
    return static_cast<int>(value_) - static_cast<int>(that.value_);
}

AbstractData* BOOLEAN::do_clone() const { return new BOOLEAN(*this); }

bool BOOLEAN::do_accept(Visitor& visitor) { return visitor.visit(*this); }

bool BOOLEAN::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

}  // namespace ASN1
