#pragma once

#include <iosfwd>
#include <sstream>
#include <string>

#include "asn1/visitor.h"

namespace ASN1 {

class ConstrainedObject;

// Finds the first invalid component of a value and collects where it lies and why: each
// SEQUENCE field and CHOICE alternative on the way adds "." and its name, each SEQUENCE OF
// element its index in brackets, and the component itself the reason
// (".slot The INTEGER value 2000 is greater than upper bound 1023").
class InvalidTracer : public ConstVisitor {
public:
    InvalidTracer() : text_(std::ios::in | std::ios::out) {}

    std::string text() const { return text_.str(); }

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
    // The size test of the strings and lists: false with the reason when the size is below
    // the lower limit, or above the upper one of a fixed constraint.
    bool traceSize(char const* what, std::size_t size, ConstrainedObject const& value);
    bool traceField(SEQUENCE const& value, int index);

    std::stringstream text_;
};

// Writes the collected text.
std::ostream& operator<<(std::ostream& out, InvalidTracer const& tracer);

// True when the value is valid in the tracer's sense, writing nothing; otherwise writes one
// line (the name, where the first invalid component lies and why) and answers false.
bool trace_invalid(std::ostream& out, char const* name, AbstractData const& value);

}  // namespace ASN1
