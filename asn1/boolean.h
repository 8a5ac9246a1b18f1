#pragma once

#include "asn1/abstract_data.h"

namespace ASN1 {

// BOOLEAN: one truth value.
class BOOLEAN : public AbstractData {
public:
    static InfoType const theInfo;

    explicit BOOLEAN(void const* info = &theInfo) : AbstractData(info) {}
    explicit BOOLEAN(bool value, void const* info = &theInfo) : AbstractData(info), value_(value) {}
    BOOLEAN(BOOLEAN const&) = default;
    BOOLEAN& operator=(BOOLEAN const&) = default;

    static AbstractData* create(void const* info);
    BOOLEAN* clone() const { return static_cast<BOOLEAN*>(do_clone()); }

    operator bool() const { return value_; }
    BOOLEAN& operator=(bool value) {
        value_ = value;
        return *this;
    }

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    bool value_ = false;
};

}  // namespace ASN1
