#include "asn1/null.h"

#include "asn1/visitor.h"

namespace ASN1 {

Null::InfoType const Null::theInfo = {&Null::create, 5};

AbstractData* Null::create(void const* info) { return new Null(info); }

int Null::do_compare(AbstractData const&) const { return 0; }

AbstractData* Null::do_clone() const { return new Null(*this); }

bool Null::do_accept(Visitor& visitor) { return visitor.visit(*this); }

bool Null::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

}  // namespace ASN1
