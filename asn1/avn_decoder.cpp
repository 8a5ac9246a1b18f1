#include "asn1/avn_decoder.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cstring>
#include <cwchar>
#include <memory>
#include <sstream>

#include "asn1/asn1.h"

namespace ASN1 {

namespace {

bool isDelimiter(int c) { return c == ',' || c == '}' || c == '{' || c == ':'; }

// A decimal number, optionally negative, from the next non-blank character on.
bool readNumber(std::istream& in, long long& number) {
    in >> std::ws;
    if (!in.good()) return false;
    std::string text;
    if (in.peek() == '-') text.push_back(static_cast<char>(in.get()));
    while (in.good()) {
        int const c = in.peek();
        if (c == std::char_traits<char>::eof() || !std::isdigit(c) || text.size() > 20) break;
        text.push_back(static_cast<char>(in.get()));
    }
    auto const [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size();
}

// The next non-blank character starts a number.
bool numberFollows(std::istream& in) {
    in >> std::ws;
    if (!in.good()) return false;
    int const c = in.peek();
    return c == '-' || (c != std::char_traits<char>::eof() && std::isdigit(c));
}

// A number read into an INTEGER: unsigned for a range starting at 0 or above, else signed.
bool readInteger(std::istream& in, INTEGER& value) {
    long long number = 0;
    if (!readNumber(in, number)) return false;
    if (value.isUnsigned() ? number < 0 || number > UINT_MAX : number < INT_MIN || number > INT_MAX) return false;
    value.setValue(static_cast<int>(static_cast<unsigned>(number)));
    return true;
}

// The next non-blank character is c (and is taken).
bool take(std::istream& in, char c) {
    in >> std::ws;
    return in.good() && in.get() == c;
}

// One character as "{ 0, 0, row, cell}", the opening brace taken already.
bool readQuadruple(std::istream& in, wchar_t& c) {
    long long part[4] = {};
    for (int i = 0; i < 4; ++i) {
        if (!readNumber(in, part[i]) || part[i] < 0 || part[i] > 255 || !take(in, i < 3 ? ',' : '}')) return false;
    }
    if (part[0] != 0 || part[1] != 0) return false;
    c = static_cast<wchar_t>(part[2] * 256 + part[3]);
    return true;
}

// The form the printer gives a BMPString the locale cannot write one byte a character:
// "{", the characters' quadruples separated by ",", "}".
bool readQuadruples(std::istream& in, std::wstring& text) {
    if (!take(in, '{')) return false;
    std::wstring read;
    for (char separator = ','; separator == ',';) {
        wchar_t c = 0;
        if (!take(in, '{') || !readQuadruple(in, c)) return false;
        read.push_back(c);
        in >> std::ws;
        separator = in.good() ? static_cast<char>(in.get()) : '\0';
        if (separator != ',' && separator != '}') return false;
    }
    text = std::move(read);
    return true;
}

}  // namespace

std::string AVNDecoder::letters() {
    std::string text;
    for (;;) {
        in_ >> std::ws;
        if (!in_.good()) break;
        int const c = in_.peek();
        if (c == std::char_traits<char>::eof() || !std::isalpha(c)) break;
        text.push_back(static_cast<char>(in_.get()));
    }
    return text;
}

std::string AVNDecoder::word() {
    std::string text;
    in_ >> std::ws;
    if (!in_.good()) return text;
    if (isDelimiter(in_.peek())) return std::string(1, static_cast<char>(in_.get()));
    while (in_.good()) {
        int const c = in_.peek();
        if (c == std::char_traits<char>::eof() || std::isspace(c) || isDelimiter(c)) break;
        text.push_back(static_cast<char>(in_.get()));
    }
    return text;
}

char AVNDecoder::next() {
    in_ >> std::ws;
    if (!in_.good()) return 0;
    int const c = in_.get();
    return c == std::char_traits<char>::eof() ? 0 : static_cast<char>(c);
}

// ---- simple types ------------------------------------------------------------------------

bool AVNDecoder::do_visit(Null&) { return letters() == "NULL"; }

bool AVNDecoder::do_visit(BOOLEAN& value) {
    std::string const text = letters();
    if (text != "TRUE" && text != "FALSE") return false;
    value = text == "TRUE";
    return true;
}

bool AVNDecoder::do_visit(INTEGER& value) { return readInteger(in_, value); }

bool AVNDecoder::do_visit(IntegerWithNamedNumber& value) {
    if (numberFollows(in_)) return readInteger(in_, value);
    return value.setFromName(word());
}

bool AVNDecoder::do_visit(ENUMERATED& value) {
    // A value without a name prints as its number, so a number reads back as the value.
    if (numberFollows(in_)) {
        long long number = 0;
        if (!readNumber(in_, number) || number < INT_MIN || number > INT_MAX) return false;
        value.setFromInt(static_cast<int>(number));
        return true;
    }
    return value.setFromName(word());
}

bool AVNDecoder::do_visit(OBJECT_IDENTIFIER& value) {
    if (next() != '{') return false;
    std::string text;
    if (!std::getline(in_, text, '}') || in_.eof()) return false;
    OBJECT_IDENTIFIER parsed(value.info());
    std::istringstream words(text);
    std::string component;
    while (words >> component) {
        // A number, or name(number) of which only the number counts.
        std::string_view digits = component;
        if (!std::isdigit(static_cast<unsigned char>(component[0]))) {
            std::size_t const open = component.find('(');
            if (open == std::string::npos || component.back() != ')') return false;
            digits = std::string_view(component).substr(open + 1, component.size() - open - 2);
        }
        unsigned arc = 0;
        auto const [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), arc);
        if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()) return false;
        parsed.append(arc);
    }
    value = parsed;
    return true;
}

bool AVNDecoder::do_visit(OCTET_STRING& value) {
    std::vector<char> octets;
    unsigned bits = 0;
    if (!get_value_from(in_, octets, bits)) return false;
    value = octets;
    return true;
}

bool AVNDecoder::do_visit(BIT_STRING& value) {
    std::vector<char> octets;
    unsigned bits = 0;
    if (!get_value_from(in_, octets, bits)) return false;
    value.resize(bits);
    std::copy(octets.begin(), octets.begin() + value.getData().size(), value.getData().begin());
    value.resize(bits);
    return true;
}

bool AVNDecoder::do_visit(AbstractString& value) {
    std::string text;
    if (!get_string(in_, text)) return false;
    value.assign(text);
    return true;
}

bool AVNDecoder::do_visit(BMPString& value) {
    in_ >> std::ws;
    if (in_.good() && in_.peek() == '{') return readQuadruples(in_, value);
    std::string text;
    if (!get_string(in_, text)) return false;
    std::wstring wide;
    std::mbstate_t state{};
    char const* position = text.data();
    char const* const end = text.data() + text.size();
    while (position < end) {
        wchar_t c = 0;
        std::size_t const used = std::mbrtowc(&c, position, static_cast<std::size_t>(end - position), &state);
        if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2)) return false;
        wide.push_back(c);
        position += used == 0 ? 1 : used;
    }
    static_cast<std::wstring&>(value) = wide;
    return true;
}

bool AVNDecoder::do_visit(GeneralizedTime& value) {
    std::string text;
    if (!get_string(in_, text)) return false;
    value.set(text.c_str());
    return true;
}

// ---- constructed types -------------------------------------------------------------------

bool AVNDecoder::do_visit(CHOICE& value) {
    std::string const name = word();
    if (next() != ':') return false;
    int index = 0;
    if (!get_id(value.info()->selectionNames, value.info()->numKnownChoices, name, index)) return false;
    if (!value.select(index)) return false;
    if (!value.getSelection() && !value.createSelection()) return false;
    return value.getSelection()->accept(*this);
}

bool AVNDecoder::do_visit(SEQUENCE_OF_Base& value) {
    if (next() != '{') return false;
    value.clear();
    in_ >> std::ws;
    if (in_.good() && in_.peek() == '}') {
        in_.get();
        return true;
    }
    for (;;) {
        std::unique_ptr<AbstractData> element(value.createElement());
        if (!element || !element->accept(*this)) return false;
        value.push_back(element.release());
        char const c = next();
        if (c == '}') return true;
        if (c != ',') return false;
    }
}

bool AVNDecoder::do_visit(OpenData&) { return false; }

bool AVNDecoder::do_revisit(OpenData&) { return false; }

bool AVNDecoder::do_visit(TypeConstrainedOpenData& value) {
    return value.has_data() && value.get_data().accept(*this);
}

int AVNDecoder::preVisitExtensionRoots(SEQUENCE& value) {
    if (next() != '{') return Fail;
    // The text says which fields are present.
    BitMap& optional = value.optionalFieldMap();
    optional.resize(0);
    optional.resize(value.info()->numOptional);
    value.extensionMap().resize(0);
    in_ >> std::ws;
    if (in_.good() && in_.peek() == '}') {
        in_.get();
        return Stop;
    }
    std::string name = word();
    if (name.empty()) return Fail;
    words_.push_back(std::move(name));
    return Continue;
}

int AVNDecoder::visitField(SEQUENCE& value, int index, int presence) {
    char const* const name = value.getFieldName(index);
    if (!name || words_.back() != name) return presence == -1 ? Fail : Continue;
    if (presence != -1) value.includeOptionalField(static_cast<unsigned>(presence), static_cast<unsigned>(index));
    AbstractData* const field = value.ensureField(static_cast<unsigned>(index));
    if (!field || !field->accept(*this)) return Fail;
    switch (next()) {
    case ',':
        words_.back() = word();
        return Continue;
    case '}': {
        // The closing brace: every root field after this one must be one that may be left out.
        SequenceInfo const& type = *value.info();
        for (unsigned later = static_cast<unsigned>(index) + 1; later < type.numFields; ++later)
            if (type.fieldIds[later] == -1) return Fail;
        words_.pop_back();
        return Stop;
    }
    default:
        return Fail;
    }
}

int AVNDecoder::visitExtensionRoot(SEQUENCE& value, int index, int presence) {
    return visitField(value, index, presence);
}

int AVNDecoder::visitKnownExtension(SEQUENCE& value, int index, int presence) {
    return visitField(value, index, presence);
}

bool AVNDecoder::visitUnknownExtensions(SEQUENCE&) {
    // Only a comma before the closing brace gets here; any other word names no field.
    if (words_.back() != "}") return false;
    words_.pop_back();
    return true;
}

// ---- helpers -----------------------------------------------------------------------------

bool input_success(std::istream& in) { return !(in.rdstate() & (std::ios_base::failbit | std::ios_base::badbit)); }

bool get_string(std::istream& in, std::string& text) {
    in >> std::ws;
    if (!in.good() || in.get() != '"') return false;
    std::string read;
    for (std::string part;;) {
        if (!std::getline(in, part, '"') || in.eof()) return false;
        read += part;
        // Two double quotes in a row stand for one in the text.
        if (in.peek() != '"') break;
        read.push_back(static_cast<char>(in.get()));
    }
    text = std::move(read);
    return true;
}

bool is_space_or_newline(char c) { return c == ' ' || c == '\n'; }

bool get_from_string(std::string& digits, std::vector<char>& octets, unsigned& bits, int base) {
    digits.erase(std::remove_if(digits.begin(), digits.end(), is_space_or_newline), digits.end());
    unsigned const bitsPerDigit = base == 16 ? 4 : 1;
    unsigned const perOctet = 8 / bitsPerDigit;
    bits = static_cast<unsigned>(digits.size()) * bitsPerDigit;
    digits.append((perOctet - digits.size() % perOctet) % perOctet, '0');
    octets.clear();
    for (std::size_t i = 0; i < digits.size(); i += perOctet) {
        unsigned octet = 0;
        auto const [end, error] = std::from_chars(digits.data() + i, digits.data() + i + perOctet, octet, base);
        if (error != std::errc() || end != digits.data() + i + perOctet) return false;
        octets.push_back(static_cast<char>(octet));
    }
    return true;
}

bool get_from_hstring(std::string& digits, std::vector<char>& octets, unsigned& bits) {
    return get_from_string(digits, octets, bits, 16);
}

bool get_from_bstring(std::string& digits, std::vector<char>& octets, unsigned& bits) {
    return get_from_string(digits, octets, bits, 2);
}

bool get_value_from(std::istream& in, std::vector<char>& octets, unsigned& bits) {
    in >> std::ws;
    if (!in.good() || in.get() != '\'') return false;
    std::string digits;
    if (!std::getline(in, digits, '\'') || in.eof()) return false;
    switch (in.get()) {
    case 'B':
        return get_from_bstring(digits, octets, bits);
    case 'H':
        return get_from_hstring(digits, octets, bits);
    default:
        return false;
    }
}

bool get_id(char const* const* names, unsigned count, std::string const& word, int& index) {
    for (unsigned i = 0; names && i < count && i <= INT_MAX; ++i) {
        if (names[i] && word == names[i]) {
            index = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

}  // namespace ASN1
