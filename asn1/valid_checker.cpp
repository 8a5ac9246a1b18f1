#include "asn1/valid_checker.h"

#include "asn1/asn1.h"

namespace ASN1 {

bool AbstractData::isValid() const {
    ValidChecker checker;
    return accept(checker);
}

bool AbstractData::isStrictlyValid() const {
    StrictlyValidChecker checker;
    return accept(checker);
}

namespace detail {

namespace {

// The test of one value class by the checker's kind.
template <bool Strict, class T>
bool test(T const& value) {
    if constexpr (Strict)
        return value.isStrictlyValid();
    else
        return value.isValid();
}

template <bool Strict>
bool test(INTEGER const& value) {
    return Strict ? value.isStrictValid() : value.isValid();
}

}  // namespace

template <bool Strict>
bool ConstraintChecker<Strict>::do_visit(Null const&) { return true; }
template <bool Strict>
bool ConstraintChecker<Strict>::do_visit(BOOLEAN const&) { return true; }
template <bool Strict>
bool ConstraintChecker<Strict>::do_visit(INTEGER const& value) { return test<Strict>(value); }
template <bool Strict>
bool ConstraintChecker<Strict>::do_visit(ENUMERATED const& value) { return test<Strict>(value); }
template <bool Strict>
bool ConstraintChecker<Strict>::do_visit(OBJECT_IDENTIFIER const& value) { return test<Strict>(value); }
template <bool Strict>
bool ConstraintChecker<Strict>::do_visit(BIT_STRING const& value) { return test<Strict>(value); }
template <bool Strict>
bool ConstraintChecker<Strict>::do_visit(OCTET_STRING const& value) { return test<Strict>(value); }
template <bool Strict>
bool ConstraintChecker<Strict>::do_visit(AbstractString const& value) { return test<Strict>(value); }
template <bool Strict>
bool ConstraintChecker<Strict>::do_visit(BMPString const& value) { return test<Strict>(value); }
template <bool Strict>
bool ConstraintChecker<Strict>::do_visit(CHOICE const& value) { return test<Strict>(value); }
template <bool Strict>
bool ConstraintChecker<Strict>::do_visit(OpenData const& value) { return test<Strict>(value); }
template <bool Strict>
bool ConstraintChecker<Strict>::do_visit(GeneralizedTime const& value) { return test<Strict>(value); }
template <bool Strict>
bool ConstraintChecker<Strict>::do_visit(SEQUENCE_OF_Base const& value) { return test<Strict>(value); }

template <bool Strict>
bool ConstraintChecker<Strict>::field(SEQUENCE const& value, int index) const {
    AbstractData const* const component = value.getField(static_cast<unsigned>(index));
    return component && test<Strict>(*component);
}

template <bool Strict>
bool ConstraintChecker<Strict>::visitExtensionRoot(SEQUENCE const& value, int index) {
    return field(value, index);
}

template <bool Strict>
bool ConstraintChecker<Strict>::visitKnownExtension(SEQUENCE const& value, int index) {
    return field(value, index);
}

template class ConstraintChecker<false>;
template class ConstraintChecker<true>;

}  // namespace detail

// ---- the constructed types' own tests -----------------------------------------------------

bool CHOICE::isValid() const {
    if (selection_ < 0 || !value_) return false;
    if (static_cast<unsigned>(selection_) >= getNumChoices() && !extendable()) return false;
    return value_->isValid();
}

bool CHOICE::isStrictlyValid() const {
    return selection_ >= 0 && static_cast<unsigned>(selection_) < getNumChoices() && value_ &&
           value_->isStrictlyValid();
}

bool SEQUENCE_OF_Base::isValid() const {
    if (size() < static_cast<unsigned>(getLowerLimit())) return false;
    if (getConstraintType() != ExtendableConstraint && size() > getUpperLimit()) return false;
    for (auto const& element : elements_)
        if (!element->isValid()) return false;
    return true;
}

bool SEQUENCE_OF_Base::isStrictlyValid() const {
    if (!sizeWithinLimits(size())) return false;
    for (auto const& element : elements_)
        if (!element->isStrictlyValid()) return false;
    return true;
}

bool OpenData::isValid() const { return data_ ? data_->isValid() : buf_ != nullptr; }

bool OpenData::isStrictlyValid() const { return data_ ? data_->isStrictlyValid() : buf_ != nullptr; }

}  // namespace ASN1
