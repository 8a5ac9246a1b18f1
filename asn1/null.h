#pragma once

#include "asn1/abstract_data.h"

namespace ASN1 {

// NULL: no contents; every two values are equal.
class Null : public AbstractData {
public:
    static InfoType const theInfo;

    Null() : AbstractData(&theInfo) {}
    explicit Null(void const* info) : AbstractData(info) {}
    Null(Null const&) = default;
    Null& operator=(Null const&) = default;

    static AbstractData* create(void const* info);
    Null* clone() const { return static_cast<Null*>(do_clone()); }

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;
};

}  // namespace ASN1
