#include "asn1/integer.h"

#include <algorithm>

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

INTEGER::InfoType const INTEGER::theInfo = {{&INTEGER::create, 2}, Unconstrained, 0, 4294967295u};

AbstractData* INTEGER::create(void const* info) { return new INTEGER(info); }

bool INTEGER::isStrictValid() const {
    ConstraintType const type = getConstraintType();
    if (type == Unconstrained) return true;
    int const lower = getLowerLimit();
    if (lower >= 0) {
        unsigned const value = static_cast<unsigned>(value_);
        if (value < static_cast<unsigned>(lower)) return false;
        return type == PartiallyConstrained || value <= getUpperLimit();
    }
    if (value_ < lower) return false;
    return type == PartiallyConstrained || value_ <= static_cast<int>(getUpperLimit());
}

bool INTEGER::isValid() const { return isStrictValid() || getConstraintType() == ExtendableConstraint; }

int INTEGER::do_compare(AbstractData const& other) const {
    return detail::difference(value_, boost::polymorphic_downcast<INTEGER const*>(&other)->value_);
}

AbstractData* IntegerWithNamedNumber::create(void const* info) { return new IntegerWithNamedNumber(info); }

bool IntegerWithNamedNumber::getName(std::string& name) const {
    auto const& info = *infoAs<NamedIntegerInfo>();
    if (!info.nameEntries) return false;
    NameEntry const* const end = info.nameEntries + info.entryCount;
    NameEntry const* const found = std::lower_bound(info.nameEntries, end, getValue(), NameEntryCmp());
    if (found == end || found->value != getValue()) return false;
    name = found->name;
    return true;
}

bool IntegerWithNamedNumber::setFromName(std::string const& name) {
    auto const& info = *infoAs<NamedIntegerInfo>();
    for (unsigned i = 0; info.nameEntries && i < info.entryCount; ++i) {
        if (name == info.nameEntries[i].name) {
            setValue(info.nameEntries[i].value);
            return true;
        }
    }
    return false;
}

}  // namespace ASN1
