#include "asn1/avn_encoder.h"

#include <climits>
#include <cwchar>
#include <string>
#include <string_view>

#include "asn1/asn1.h"

namespace ASN1 {

void AVNEncoder::indent(int count) {
    for (int i = 0; i < count; ++i) out_.put(' ');
}

bool AVNEncoder::do_visit(Null const&) {
    out_ << "NULL";
    return out_.good();
}

bool AVNEncoder::do_visit(BOOLEAN const& value) {
    out_ << (value ? "TRUE" : "FALSE");
    return out_.good();
}

bool AVNEncoder::do_visit(INTEGER const& value) {
    out_ << value.number();
    return out_.good();
}

bool AVNEncoder::do_visit(IntegerWithNamedNumber const& value) {
    std::string name;
    if (!value.getName(name)) return do_visit(static_cast<INTEGER const&>(value));
    out_ << name;
    return out_.good();
}

bool AVNEncoder::do_visit(ENUMERATED const& value) {
    std::string_view const name = value.getName();
    if (name.empty())
        out_ << value.asInt();
    else
        out_ << name;
    return out_.good();
}

bool AVNEncoder::do_visit(OBJECT_IDENTIFIER const& value) {
    out_ << "{ ";
    for (unsigned i = 0; i < value.levels(); ++i) out_ << value[i] << ' ';
    out_ << '}';
    return out_.good();
}

bool AVNEncoder::do_visit(BIT_STRING const& value) {
    out_ << '\'';
    for (unsigned i = 0; i < value.size(); ++i) out_.put(value[i] ? '1' : '0');
    out_ << "'B";
    return out_.good();
}

bool AVNEncoder::printOctets(std::vector<char> const& octets) {
    static char const digits[] = "0123456789abcdef";
    out_ << '\'';
    for (std::size_t i = 0; i < octets.size(); ++i) {
        unsigned const octet = static_cast<unsigned char>(octets[i]);
        if (i) out_.put(' ');
        out_.put(digits[octet >> 4]);
        out_.put(digits[octet & 0x0F]);
    }
    out_ << "'H";
    out_.fill(' ');
    return out_.good();
}

bool AVNEncoder::do_visit(OCTET_STRING const& value) { return printOctets(value); }

bool AVNEncoder::printQuoted(std::string_view text) {
    // A double quote inside the text is written twice, so that the text reads back whole.
    out_.put('"');
    for (char const c : text) {
        if (c == '"') out_.put('"');
        out_.put(c);
    }
    out_.put('"');
    return out_.good();
}

bool AVNEncoder::do_visit(AbstractString const& value) { return printQuoted(value); }

bool AVNEncoder::do_visit(BMPString const& value) {
    // The text in the C locale's multibyte form when every character is one byte there;
    // otherwise each character as its { 0, 0, row, cell } quadruple.
    std::string text;
    std::mbstate_t state{};
    char buffer[MB_LEN_MAX];
    bool oneByteEach = true;
    for (wchar_t c : value) {
        if (std::wcrtomb(buffer, c, &state) != 1) {
            oneByteEach = false;
            break;
        }
        text.push_back(buffer[0]);
    }
    if (oneByteEach) return printQuoted(text);
    out_ << '{';
    for (std::size_t i = 0; i < value.size(); ++i) {
        unsigned const c = static_cast<unsigned>(value[i]);
        if (i) out_ << ", ";
        out_ << "{ 0, 0, " << c / 256 << ", " << c % 256 << '}';
    }
    out_ << '}';
    return out_.good();
}

bool AVNEncoder::do_visit(GeneralizedTime const& value) { return printQuoted(value.get()); }

bool AVNEncoder::do_visit(CHOICE const& value) {
    char const* const name = value.getSelectionName();
    AbstractData const* const selected = value.getSelection();
    if (!name || !selected) return false;
    out_ << name << " : ";
    return out_.good() && selected->accept(*this);
}

bool AVNEncoder::do_visit(OpenData const& value) {
    if (value.has_data()) return value.get_data().accept(*this);
    if (value.has_buf()) return printOctets(value.get_buf());
    return false;
}

bool AVNEncoder::do_visit(SEQUENCE_OF_Base const& value) {
    out_ << "{\n";
    indentation_ += 2;
    bool first = true;
    for (auto const& element : value) {
        if (!first) out_ << ",\n";
        first = false;
        indent(indentation_);
        if (!element->accept(*this)) return false;
    }
    indentation_ -= 2;
    if (!first) out_.put('\n');
    indent(indentation_);
    out_.put('}');
    return out_.good();
}

bool AVNEncoder::preVisitExtensionRoots(SEQUENCE const&) {
    fieldPrinted_.push_back(false);
    out_ << "{\n";
    return out_.good();
}

bool AVNEncoder::printField(SEQUENCE const& value, int index) {
    AbstractData const* const field = value.getField(static_cast<unsigned>(index));
    char const* const name = value.getFieldName(index);
    if (!field || !name) return false;
    if (fieldPrinted_.back()) out_ << ",\n";
    indent(indentation_ + 2);
    out_ << name << ' ';
    indentation_ += 2;
    if (!field->accept(*this)) return false;
    indentation_ -= 2;
    fieldPrinted_.back() = true;
    return out_.good();
}

bool AVNEncoder::visitExtensionRoot(SEQUENCE const& value, int index) { return printField(value, index); }

bool AVNEncoder::visitKnownExtension(SEQUENCE const& value, int index) { return printField(value, index); }

bool AVNEncoder::afterVisitSequence(SEQUENCE const&) {
    if (fieldPrinted_.back()) out_.put('\n');
    fieldPrinted_.pop_back();
    indent(indentation_);
    out_.put('}');
    return out_.good();
}

}  // namespace ASN1
