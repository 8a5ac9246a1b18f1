#pragma once

#include <istream>
#include <string>
#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

// Reads a value in the value notation that AVNEncoder prints (and the same text on one
// line): fields in the type's order, each its name, white space and its value, separated
// by commas; OPTIONAL fields may be left out; a comma may precede the closing brace. Names
// end at white space, ',', '}', '{' or ':'. A value fails on the first thing it cannot
// read; what was filled in before stays.
class AVNDecoder : public Visitor {
public:
    explicit AVNDecoder(std::istream& in) : Visitor(nullptr), in_(in) {}

protected:
    bool do_visit(Null& value) override;
    bool do_visit(BOOLEAN& value) override;
    bool do_visit(INTEGER& value) override;
    bool do_visit(IntegerWithNamedNumber& value) override;
    bool do_visit(ENUMERATED& value) override;
    bool do_visit(OBJECT_IDENTIFIER& value) override;
    bool do_visit(OCTET_STRING& value) override;
    bool do_visit(BIT_STRING& value) override;
    bool do_visit(AbstractString& value) override;
    bool do_visit(BMPString& value) override;
    bool do_visit(CHOICE& value) override;
    bool do_visit(SEQUENCE_OF_Base& value) override;
    bool do_visit(OpenData& value) override;
    bool do_revisit(OpenData& value) override;
    bool do_visit(TypeConstrainedOpenData& value) override;
    bool do_visit(GeneralizedTime& value) override;

    int preVisitExtensionRoots(SEQUENCE& value) override;
    int visitExtensionRoot(SEQUENCE& value, int index, int presence) override;
    int visitKnownExtension(SEQUENCE& value, int index, int presence) override;
    bool visitUnknownExtensions(SEQUENCE& value) override;

private:
    // A field of a SEQUENCE named by the word on top of the stack, or skipped when absent.
    int visitField(SEQUENCE& value, int index, int presence);
    // Letters, white space between them skipped.
    std::string letters();
    // A name: up to white space or one of ",}{:"; one of those alone when it comes first.
    std::string word();
    // The next character after white space; 0 at the end.
    char next();

    std::istream& in_;
    std::vector<std::string> words_;  // per SEQUENCE being read: the field name read last
};

// Neither failbit nor badbit is set.
bool input_success(std::istream& in);
// White space, a double quote, then the text up to the next double quote that is not
// doubled; two double quotes in a row stand for one in the text.
bool get_string(std::istream& in, std::string& text);
// A quoted digit string with its base letter: 'digits'B or 'digits'H. Spaces and line
// feeds inside are dropped; the digits fill whole octets (padded with 0 at the end);
// `bits` is the number of bits the digits give.
bool get_value_from(std::istream& in, std::vector<char>& octets, unsigned& bits);
bool get_from_string(std::string& digits, std::vector<char>& octets, unsigned& bits, int base);
bool get_from_hstring(std::string& digits, std::vector<char>& octets, unsigned& bits);
bool get_from_bstring(std::string& digits, std::vector<char>& octets, unsigned& bits);
// The index of the first of `count` names equal to the word; false when none is.
bool get_id(char const* const* names, unsigned count, std::string const& word, int& index);
bool is_space_or_newline(char c);

}  // namespace ASN1
