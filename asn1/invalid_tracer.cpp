#include "asn1/invalid_tracer.h"

#include <ostream>

#include "asn1/asn1.h"

namespace ASN1 {

std::ostream& operator<<(std::ostream& out, InvalidTracer const& tracer) { return out << tracer.text(); }

bool trace_invalid(std::ostream& out, char const* name, AbstractData const& value) {
    InvalidTracer tracer;
    if (value.accept(tracer)) return true;
    out << name << tracer << std::endl;
    return false;
}

bool InvalidTracer::do_visit(Null const&) { return true; }

bool InvalidTracer::do_visit(BOOLEAN const&) { return true; }

bool InvalidTracer::do_visit(INTEGER const& value) {
    int const lower = value.getLowerLimit();
    unsigned const upper = value.getUpperLimit();
    bool const upperApplies = value.getConstraintType() == FixedConstraint;
    // A range from 0 up reads the value as unsigned, a range below 0 as signed.
    if (lower >= 0) {
        unsigned const number = static_cast<unsigned>(value.getValue());
        if (number < static_cast<unsigned>(lower)) {
            text_ << " The INTEGER value " << number << " is smaller than lower bound " << lower;
            return false;
        }
        if (upperApplies && number > upper) {
            text_ << " The INTEGER value " << number << " is greater than upper bound " << upper;
            return false;
        }
        return true;
    }
    int const number = value.getValue();
    if (number < lower) {
        text_ << " The INTEGER value " << number << " is smaller than lower bound " << lower;
        return false;
    }
    if (upperApplies && number > static_cast<int>(upper)) {
        text_ << " The INTEGER value " << number << " is greater than upper bound " << upper;
        return false;
    }
    return true;
}

bool InvalidTracer::do_visit(ENUMERATED const& value) {
    if (value.asInt() <= value.getMaximum()) return true;
    text_ << " This ENUMERATED has invalid value " << value.asInt();
    return false;
}

bool InvalidTracer::do_visit(OBJECT_IDENTIFIER const& value) {
    if (value.levels() > 0) return true;
    text_ << " This OBJECT IDENTIFIER is not assigned";
    return false;
}

bool InvalidTracer::traceSize(char const* what, std::size_t size, ConstrainedObject const& value) {
    if (size < static_cast<unsigned>(value.getLowerLimit())) {
        text_ << " This " << what << " has size " << size << " smaller than its lower bound "
              << value.getLowerLimit();
        return false;
    }
    if (value.getConstraintType() == FixedConstraint && size > value.getUpperLimit()) {
        text_ << " This " << what << " has size " << size << " greater than its upper bound "
              << value.getUpperLimit();
        return false;
    }
    return true;
}

bool InvalidTracer::do_visit(BIT_STRING const& value) { return traceSize("BIT STRING", value.size(), value); }

bool InvalidTracer::do_visit(OCTET_STRING const& value) { return traceSize("OCTET STRING", value.size(), value); }

bool InvalidTracer::do_visit(AbstractString const& value) {
    if (!traceSize("AbstractString", value.size(), value)) return false;
    std::string::size_type const at = value.find_first_invalid();
    if (at == std::string::npos) return true;
    text_ << " The character '" << value[at] << "' is not valid for the string";
    return false;
}

bool InvalidTracer::do_visit(BMPString const& value) {
    if (!traceSize("BMPString", value.size(), value)) return false;
    std::wstring::size_type const at = value.first_illegal_at();
    if (at == value.size()) return true;
    text_ << " The character '" << static_cast<int>(value[at]) << "' is not valid for the string";
    return false;
}

bool InvalidTracer::do_visit(GeneralizedTime const& value) {
    if (value.isValid()) return true;
    text_ << " This GeneralizedTime is not valid";
    return false;
}

bool InvalidTracer::do_visit(CHOICE const& value) {
    if (value.currentSelection() == CHOICE::noSelection) {
        text_ << " This CHOICE is not selected";
        return false;
    }
    char const* const name = value.getSelectionName();
    if (!name || !value.getSelection()) {
        text_ << " This selection is not understood by this decoder";
        return false;
    }
    text_ << '.' << name;
    return value.getSelection()->accept(*this);
}

bool InvalidTracer::do_visit(OpenData const& value) {
    if (value.has_data()) return value.get_data().accept(*this);
    if (value.has_buf()) return true;
    text_ << " This Open Type does not contain any valid data";
    return false;
}

bool InvalidTracer::do_visit(SEQUENCE_OF_Base const& value) {
    if (!traceSize("SEQUENCE OF", value.size(), value)) return false;
    unsigned index = 0;
    for (auto const& element : value) {
        InvalidTracer inner;
        if (!element->accept(inner)) {
            text_ << '[' << index << ']' << inner;
            return false;
        }
        ++index;
    }
    return true;
}

bool InvalidTracer::traceField(SEQUENCE const& value, int index) {
    AbstractData const* const field = value.getField(static_cast<unsigned>(index));
    InvalidTracer inner;
    if (!field || field->accept(inner)) return true;
    char const* const name = value.getFieldName(index);
    text_ << '.' << (name ? name : "") << inner;
    return false;
}

bool InvalidTracer::visitExtensionRoot(SEQUENCE const& value, int index) { return traceField(value, index); }

bool InvalidTracer::visitKnownExtension(SEQUENCE const& value, int index) { return traceField(value, index); }

}  // namespace ASN1
