#pragma once

#include "asn1/abstract_data.h"

namespace ASN1 {

// NULL: no contents; every two values are equal.
class Null : public Concrete<Null, AbstractData> {
public:
    static InfoType const theInfo;

    Null() : Concrete(&theInfo) {}
    explicit Null(void const* info) : Concrete(info) {}
    Null(Null const&) = default;
    Null& operator=(Null const&) = default;

    static AbstractData* create(void const* info);

protected:
    int do_compare(AbstractData const& other) const override;
};

}  // namespace ASN1
