#include "asn1/null.h"

namespace ASN1 {

Null::InfoType const Null::theInfo = {&Null::create, 5};

AbstractData* Null::create(void const* info) { return new Null(info); }

int Null::do_compare(AbstractData const&) const { return 0; }

}  // namespace ASN1
