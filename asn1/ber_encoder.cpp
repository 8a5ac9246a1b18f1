#include "asn1/ber_encoder.h"

#include <climits>
#include <string>

#include "asn1/asn1.h"
#include "asn1/per_common.h"

namespace ASN1 {

namespace ber {

unsigned identifierLength(unsigned number) {
    if (number <= 30) return 1;
    unsigned octets = 1;
    while (number >>= 7) ++octets;
    return 1 + octets;
}

unsigned lengthLength(unsigned length) {
    if (length <= 127) return 1;
    unsigned octets = 0;
    for (; length; length >>= 8) ++octets;
    return 1 + octets;
}

}  // namespace ber

unsigned getIntegerDataLength(int value) { return per::signedOctets(value); }

unsigned getIntegerDataLength(INTEGER const& value) {
    long long const number = value.number();
    return number > INT_MAX ? 5 : getIntegerDataLength(static_cast<int>(number));
}

unsigned getDataLength(AbstractData const& value) {
    DataLengthCounter counter;
    value.accept(counter);
    return counter.getDataLen();
}

unsigned getObjectLength(AbstractData const& value, int tag) {
    if (tag == -1) tag = value.getTag();
    if (tag == 0) return getDataLength(value);
    DataLengthCounter counter;
    value.accept(counter);
    return counter.getObjectLen(tag);
}

// ---- encoder ------------------------------------------------------------------------------

BEREncoder::BEREncoder(std::vector<char>& output) : output_(output) {
    output_.clear();
    output_.reserve(256);
}

void BEREncoder::encodeBlock(char const* data, std::size_t count) {
    if (count) output_.insert(output_.end(), data, data + count);
}

void BEREncoder::encodeHeader(AbstractData const& value) {
    unsigned const tag = static_cast<unsigned>(nextTag_ != -1 ? nextTag_ : value.getTag());
    if (tag == 0) return;  // untagged: no header of its own
    unsigned const number = tag & ber::MaximumTagNumber;
    PrimitiveChecker primitive;
    unsigned first = (tag >> 16) & 0xC0;
    if (!value.accept(primitive)) first |= 0x20;
    if (number <= 30) {
        encodeByte(first | number);
    } else {
        encodeByte(first | 31);
        for (unsigned group = ber::identifierLength(number) - 1; group-- > 0;)
            encodeByte(((number >> (7 * group)) & 0x7F) | (group ? 0x80 : 0));
    }
    unsigned const length = getDataLength(value);
    if (length <= 127) {
        encodeByte(length);
        return;
    }
    unsigned const octets = ber::lengthLength(length) - 1;
    encodeByte(0x80 | octets);
    for (unsigned i = octets; i-- > 0;) encodeByte(length >> (8 * i));
}

void BEREncoder::encodeInteger(long long value, unsigned octets) {
    for (unsigned i = octets; i-- > 0;) encodeByte(static_cast<unsigned>(value >> (8 * i)));
}

bool BEREncoder::do_visit(Null const& value) {
    encodeHeader(value);
    return true;
}

bool BEREncoder::do_visit(BOOLEAN const& value) {
    encodeHeader(value);
    encodeByte(value ? 0xFF : 0x00);
    return true;
}

bool BEREncoder::do_visit(INTEGER const& value) {
    encodeHeader(value);
    encodeInteger(value.number(), getIntegerDataLength(value));
    return true;
}

bool BEREncoder::do_visit(ENUMERATED const& value) {
    encodeHeader(value);
    encodeInteger(value.asInt(), getIntegerDataLength(value.asInt()));
    return true;
}

bool BEREncoder::do_visit(OBJECT_IDENTIFIER const& value) {
    std::vector<char> octets;
    value.encodeCommon(octets);
    encodeHeader(value);
    encodeBlock(octets.data(), octets.size());
    return true;
}

bool BEREncoder::do_visit(BIT_STRING const& value) {
    encodeHeader(value);
    unsigned const bits = value.size();
    encodeByte((8 - bits % 8) % 8);  // the unused bits of the last octet
    encodeBlock(value.getData().data(), (bits + 7) / 8);
    return true;
}

bool BEREncoder::do_visit(OCTET_STRING const& value) {
    encodeHeader(value);
    encodeBlock(value.data(), value.size());
    return true;
}

bool BEREncoder::do_visit(AbstractString const& value) {
    encodeHeader(value);
    encodeBlock(value.data(), value.size());
    return true;
}

bool BEREncoder::do_visit(BMPString const& value) {
    // A character beyond 16 bits has no BMPString form.
    for (wchar_t c : value)
        if (static_cast<unsigned>(c) > 0xFFFF) return false;
    encodeHeader(value);
    for (wchar_t c : value) {
        encodeByte(static_cast<unsigned>(c) >> 8);
        encodeByte(static_cast<unsigned>(c));
    }
    return true;
}

bool BEREncoder::do_visit(GeneralizedTime const& value) {
    std::string text;
    if (!per::timeText(value, text)) return false;  // fields out of range
    encodeHeader(value);
    encodeBlock(text.data(), text.size());
    return true;
}

bool BEREncoder::do_visit(CHOICE const& value) {
    AbstractData const* const selected = value.getSelection();
    if (value.currentSelection() < 0 || !selected || !value.getSelectionName()) return false;
    encodeHeader(value);
    nextTag_ = value.getSelectionTag();
    return selected->accept(*this);
}

bool BEREncoder::do_visit(OpenData const& value) {
    if (value.isEmpty()) return false;
    if (nextTag_ == -1) nextTag_ = value.getTag();
    encodeHeader(value);
    nextTag_ = -1;
    if (value.has_data()) return value.get_data().accept(*this);
    encodeBlock(value.get_buf().data(), value.get_buf().size());
    return true;
}

bool BEREncoder::do_visit(SEQUENCE_OF_Base const& value) {
    encodeHeader(value);
    for (auto const& element : value) {
        nextTag_ = -1;
        if (!element->accept(*this)) return false;
    }
    return true;
}

bool BEREncoder::preVisitExtensionRoots(SEQUENCE const& value) {
    encodeHeader(value);
    return true;
}

bool BEREncoder::encodeField(SEQUENCE const& value, int index) {
    AbstractData const* const field = value.getField(static_cast<unsigned>(index));
    if (!field) return false;
    nextTag_ = value.getFieldTag(index);
    return field->accept(*this);
}

bool BEREncoder::visitExtensionRoot(SEQUENCE const& value, int index) { return encodeField(value, index); }

bool BEREncoder::visitKnownExtension(SEQUENCE const& value, int index) { return encodeField(value, index); }

// ---- length counter -----------------------------------------------------------------------

unsigned DataLengthCounter::getObjectLen(int tag) const {
    unsigned const number = static_cast<unsigned>(tag) & ber::MaximumTagNumber;
    return ber::identifierLength(number) + ber::lengthLength(length_) + length_;
}

bool DataLengthCounter::do_visit(Null const&) { return true; }

bool DataLengthCounter::do_visit(BOOLEAN const&) {
    add(1);
    return true;
}

bool DataLengthCounter::do_visit(INTEGER const& value) {
    add(getIntegerDataLength(value));
    return true;
}

bool DataLengthCounter::do_visit(ENUMERATED const& value) {
    add(getIntegerDataLength(value.asInt()));
    return true;
}

bool DataLengthCounter::do_visit(OBJECT_IDENTIFIER const& value) {
    std::vector<char> octets;
    value.encodeCommon(octets);
    add(octets.size());
    return true;
}

bool DataLengthCounter::do_visit(BIT_STRING const& value) {
    add(1 + (value.size() + 7) / 8);
    return true;
}

bool DataLengthCounter::do_visit(OCTET_STRING const& value) {
    add(value.size());
    return true;
}

bool DataLengthCounter::do_visit(AbstractString const& value) {
    add(value.size());
    return true;
}

bool DataLengthCounter::do_visit(BMPString const& value) {
    add(2 * value.size());
    return true;
}

bool DataLengthCounter::do_visit(GeneralizedTime const& value) {
    add(value.get().size());
    return true;
}

bool DataLengthCounter::do_visit(CHOICE const& value) {
    if (value.currentSelection() >= 0 && value.getSelection())
        add(getObjectLength(*value.getSelection(), value.getSelectionTag()));
    return true;
}

bool DataLengthCounter::do_visit(OpenData const& value) {
    if (value.has_data())
        add(getObjectLength(value.get_data(), -1));
    else if (value.has_buf())
        add(value.get_buf().size());
    return true;
}

bool DataLengthCounter::do_visit(SEQUENCE_OF_Base const& value) {
    for (auto const& element : value) add(getObjectLength(*element, -1));
    return true;
}

bool DataLengthCounter::preVisitExtensionRoots(SEQUENCE const&) { return true; }

bool DataLengthCounter::addField(SEQUENCE const& value, int index) {
    AbstractData const* const field = value.getField(static_cast<unsigned>(index));
    if (field) add(getObjectLength(*field, value.getFieldTag(index)));
    return true;
}

bool DataLengthCounter::visitExtensionRoot(SEQUENCE const& value, int index) { return addField(value, index); }

bool DataLengthCounter::visitKnownExtension(SEQUENCE const& value, int index) { return addField(value, index); }

// ---- primitive or constructed -------------------------------------------------------------

bool PrimitiveChecker::do_visit(AbstractData const&) { return true; }
bool PrimitiveChecker::do_visit(CHOICE const&) { return false; }
bool PrimitiveChecker::do_visit(OpenData const&) { return false; }
bool PrimitiveChecker::do_visit(SEQUENCE_OF_Base const&) { return false; }
bool PrimitiveChecker::preVisitExtensionRoots(SEQUENCE const&) { return false; }

}  // namespace ASN1
