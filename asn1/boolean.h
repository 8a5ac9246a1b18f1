#pragma once

#include "asn1/abstract_data.h"

namespace ASN1 {

// BOOLEAN: one truth value.
class BOOLEAN : public Concrete<BOOLEAN, AbstractData> {
public:
    static InfoType const theInfo;

    explicit BOOLEAN(void const* info = &theInfo) : Concrete(info) {}
    explicit BOOLEAN(bool value, void const* info = &theInfo) : Concrete(info), value_(value) {}
    BOOLEAN(BOOLEAN const&) = default;
    BOOLEAN& operator=(BOOLEAN const&) = default;

    static AbstractData* create(void const* info);

    operator bool() const { return value_; }
    BOOLEAN& operator=(bool value) {
        value_ = value;
        return *this;
    }

protected:
    int do_compare(AbstractData const& other) const override;

private:
    bool value_ = false;
};

}  // namespace ASN1
