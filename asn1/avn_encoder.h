#pragma once

#include <ostream>
#include <string_view>
#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

// Prints a value in value notation, the form of the log lines:
//
//     {
//       seq 5,
//       slot 3,
//       pdu command : ping : NULL
//     }
//
// A SEQUENCE puts each field on its own line, indented two spaces deeper than the line
// that opened it; a CHOICE is "name : value"; a single INTEGER, ENUMERATED or string is
// just its number, name or quoted text (a double quote in the text written twice). Every hook answers whether the stream is still
// good; a CHOICE without a selection and an open type with neither value nor octets fail.
class AVNEncoder : public ConstVisitor {
public:
    explicit AVNEncoder(std::ostream& out) : out_(out) {}

protected:
    bool do_visit(Null const& value) override;
    bool do_visit(BOOLEAN const& value) override;
    bool do_visit(INTEGER const& value) override;
    bool do_visit(IntegerWithNamedNumber const& value) override;
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

    bool preVisitExtensionRoots(SEQUENCE const& value) override;
    bool visitExtensionRoot(SEQUENCE const& value, int index) override;
    bool visitKnownExtension(SEQUENCE const& value, int index) override;
    bool afterVisitSequence(SEQUENCE const& value) override;

private:
    void indent(int count);
    bool printOctets(std::vector<char> const& octets);
    // The text in double quotes, each double quote in it doubled.
    bool printQuoted(std::string_view text);
    // One field line of a SEQUENCE: separator, indentation, name, value.
    bool printField(SEQUENCE const& value, int index);

    std::ostream& out_;
    int indentation_ = 0;
    std::vector<bool> fieldPrinted_;  // per SEQUENCE being printed
};

}  // namespace ASN1
