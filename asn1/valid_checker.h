#pragma once

#include "asn1/visitor.h"

namespace ASN1 {

namespace detail {

// Walks a value and answers whether every component lies within its type's constraints:
// the constraint roots only when `Strict`, otherwise also what an extensible constraint or
// type admits beyond its root. A SEQUENCE's mandatory and present fields are checked in
// order, up to the first that fails; every component is checked by a checker of its own.
template <bool Strict>
class ConstraintChecker : public ConstVisitor {
protected:
    bool do_visit(Null const& value) override;
    bool do_visit(BOOLEAN const& value) override;
    bool do_visit(INTEGER const& value) override;
    bool do_visit(ENUMERATED const& value) override;
    bool do_visit(OBJECT_IDENTIFIER const& value) override;
    bool do_visit(BIT_STRING const& value) override;
    bool do_visit(OCTET_STRING const& value) override;
    bool do_visit(AbstractString const& value) override;
    bool do_visit(BMPString const& value) override;
    bool do_visit(CHOICE const& value) override;
    bool do_visit(OpenData const& value) override;
    bool do_visit(GeneralizedTime const& value) override;
    bool do_visit(SEQUENCE_OF_Base const& value) override;

    bool visitExtensionRoot(SEQUENCE const& value, int index) override;
    bool visitKnownExtension(SEQUENCE const& value, int index) override;

private:
    bool field(SEQUENCE const& value, int index) const;
};

extern template class ConstraintChecker<false>;
extern template class ConstraintChecker<true>;

}  // namespace detail

// isValid: within the constraints, extensions admitted.
class ValidChecker : public detail::ConstraintChecker<false> {};

// isStrictlyValid: within the roots of the constraints; no extension value or alternative.
class StrictlyValidChecker : public detail::ConstraintChecker<true> {};

}  // namespace ASN1
