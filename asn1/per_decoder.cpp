#include "asn1/per_decoder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "asn1/asn1.h"
#include "asn1/per_common.h"

namespace ASN1 {

PERDecoder::PERDecoder(char const* begin, char const* end, CoderEnv* env, bool aligned)
    : Visitor(env), position_(begin), end_(end < begin ? begin : end), aligned_(aligned) {}

// ---- position -----------------------------------------------------------------------------

std::uint64_t PERDecoder::getBitsLeft() const {
    if (position_ >= end_) return 0;
    return static_cast<std::uint64_t>(end_ - position_) * 8 + bitsLeft_ - 8;
}

void PERDecoder::setPosition(char const* position) {
    position_ = std::min(position, end_);
    bitsLeft_ = 8;
}

void PERDecoder::rollback(memento_type const& memento) {
    if (!memento.position) return;
    if (memento.position >= end_) {
        setPosition(end_);
        return;
    }
    position_ = memento.position;
    bitsLeft_ = static_cast<std::uint16_t>(memento.bitsLeft >= 1 && memento.bitsLeft <= 8 ? memento.bitsLeft : 8);
}

char const* PERDecoder::positionAfter(std::uint64_t octets) const {
    std::uint64_t const left = static_cast<std::uint64_t>(end_ - position_);
    return octets >= left ? end_ : position_ + octets;
}

// ---- bits ---------------------------------------------------------------------------------

int PERDecoder::decodeSingleBit() {
    if (getBitsLeft() == 0) return 0;
    --bitsLeft_;
    int const bit = (static_cast<unsigned char>(*position_) >> bitsLeft_) & 1;
    if (bitsLeft_ == 0) {
        ++position_;
        bitsLeft_ = 8;
    }
    return bit;
}

bool PERDecoder::decodeBit(bool& bit) {
    if (getBitsLeft() == 0) return false;
    bit = decodeSingleBit() != 0;
    return true;
}

bool PERDecoder::decodeMultiBit(unsigned n, unsigned& value) {
    if (n > 32 || getBitsLeft() < n) return false;
    std::uint64_t result = 0;
    while (n > 0) {
        unsigned const take = std::min<unsigned>(n, bitsLeft_);
        unsigned const octet = static_cast<unsigned char>(*position_);
        result = (result << take) | ((octet >> (bitsLeft_ - take)) & ((1u << take) - 1));
        bitsLeft_ = static_cast<std::uint16_t>(bitsLeft_ - take);
        n -= take;
        if (bitsLeft_ == 0) {
            ++position_;
            bitsLeft_ = 8;
        }
    }
    value = static_cast<unsigned>(result);
    return true;
}

void PERDecoder::byteAlign() {
    if (bitsLeft_ != 8) {
        ++position_;
        bitsLeft_ = 8;
    }
}

bool PERDecoder::decodeBitMap(std::vector<char>& map, unsigned n) {
    if (getBitsLeft() < n) return false;
    std::size_t const octets = (static_cast<std::size_t>(n) + 7) / 8;
    if (map.size() < octets) map.resize(octets, 0);
    unsigned const whole = n / 8;
    unsigned bits = 0;
    for (unsigned i = 0; i < whole; ++i) {
        decodeMultiBit(8, bits);
        map[i] = static_cast<char>(bits);
    }
    if (unsigned const rest = n % 8) {
        decodeMultiBit(rest, bits);
        map[whole] = static_cast<char>(bits << (8 - rest));
    }
    return true;
}

unsigned PERDecoder::decodeBlock(char* data, unsigned n) {
    if (n == 0) return 0;
    byteAlign();
    unsigned const count = static_cast<unsigned>(std::min<std::uint64_t>(n, static_cast<std::uint64_t>(end_ - position_)));
    if (count) std::memcpy(data, position_, count);
    position_ += count;
    return count;
}

// ---- numbers and lengths ------------------------------------------------------------------

bool PERDecoder::decodeSmallUnsigned(unsigned& value) {
    bool large = false;
    if (!decodeBit(large)) return false;
    if (!large) return decodeMultiBit(6, value);
    unsigned octets = 0;
    if (decodeLength(0, per::NoUpperBound, octets) != 0 || octets > 4) return false;
    byteAlign();
    return decodeMultiBit(octets * 8, value);
}

int PERDecoder::decodeUnsigned(unsigned lb, unsigned ub, unsigned& value) {
    if (lb == ub) {
        value = lb;
        return 0;
    }
    if (atEnd()) return -1;
    unsigned const range = ub - lb + 1;  // 0: the full 32 bits
    unsigned const bits = CountBits(range);
    unsigned offset = 0;
    if (!aligned_ || (range >= 1 && range <= 255)) {
        if (!decodeMultiBit(bits, offset)) return -1;
    } else if (bits > 16) {
        unsigned octets = 0;
        if (decodeLength(1, (bits + 7) / 8, octets) != 0) return -1;
        byteAlign();
        if (!decodeMultiBit(octets * 8, offset)) return -1;
    } else {
        byteAlign();
        if (!decodeMultiBit(bits > 8 ? 16 : 8, offset)) return -1;
    }
    value = lb + offset;
    return 0;
}

int PERDecoder::decodeLength(unsigned lb, unsigned ub, unsigned& length) {
    if (!aligned_ && ub != per::NoUpperBound) {
        unsigned offset = 0;
        if (!decodeMultiBit(CountBits(ub - lb + 1), offset)) return -1;
        length = lb + offset;
        return 0;
    }
    if (ub <= 65535) return decodeUnsigned(lb, ub, length);
    byteAlign();
    if (atEnd()) return -1;
    unsigned first = 0;
    if (!decodeMultiBit(8, first)) return -1;
    if ((first & 0x80) == 0) {
        length = first;
        return 0;
    }
    if ((first & 0xC0) == 0xC0) return -1;  // the fragmented form: not supported
    unsigned second = 0;
    if (!decodeMultiBit(8, second)) return -1;
    length = ((first & 0x3F) << 8) | second;
    return 0;
}

int PERDecoder::decodeConstrainedLength(ConstrainedObject& object, unsigned& length) {
    ConstraintType const type = object.getConstraintType();
    bool unconstrainedForm = type == Unconstrained || type == PartiallyConstrained;
    if (type == ExtendableConstraint && !decodeBit(unconstrainedForm)) return -1;
    per::LengthBounds const bounds = per::lengthBounds(object, unconstrainedForm);
    return decodeLength(bounds.lb, bounds.ub, length);
}

bool PERDecoder::decodeOpenLength(char const*& after) {
    unsigned length = 0;
    if (decodeLength(0, per::NoUpperBound, length) != 0) return false;
    after = positionAfter(length);
    return true;
}

// ---- simple types ------------------------------------------------------------------------

bool PERDecoder::do_visit(Null&) { return true; }

bool PERDecoder::do_visit(BOOLEAN& value) {
    bool bit = false;
    if (!decodeBit(bit)) return false;
    value = bit;
    return true;
}

bool PERDecoder::do_visit(INTEGER& value) {
    ConstraintType const type = value.getConstraintType();
    bool unconstrainedForm = type == Unconstrained || type == PartiallyConstrained;
    if (type == ExtendableConstraint && !decodeBit(unconstrainedForm)) return false;
    unsigned number = 0;
    if (!unconstrainedForm) {
        if (decodeUnsigned(static_cast<unsigned>(value.getLowerLimit()), value.getUpperLimit(), number) != 0)
            return false;
        value.setValue(static_cast<int>(number));
        return true;
    }
    unsigned octets = 0;
    if (decodeLength(0, per::NoUpperBound, octets) != 0 || octets > 4) return false;
    if (octets > 0) {
        byteAlign();
        if (!decodeMultiBit(octets * 8, number)) return false;
        // Two's complement: every form that writes it is read back sign-extended.
        unsigned const width = octets * 8;
        if (width < 32 && (number >> (width - 1)) & 1) number |= ~((1u << width) - 1);
    }
    value.setValue(static_cast<int>(number));
    return true;
}

bool PERDecoder::do_visit(ENUMERATED& value) {
    unsigned number = 0;
    if (value.extendable()) {
        bool extension = false;
        if (!decodeBit(extension)) return false;
        if (extension) {
            unsigned bound = 0;
            if (!decodeSmallUnsigned(bound) || bound == 0) return false;
            // A value above the largest int is refused rather than held as a negative one.
            if (decodeUnsigned(0, bound - 1, number) != 0 || number > INT_MAX) return false;
            value.setFromInt(static_cast<int>(number));
            return true;
        }
    }
    if (value.getMaximum() < 0) return false;
    if (decodeUnsigned(0, static_cast<unsigned>(value.getMaximum()), number) != 0) return false;
    value.setFromInt(static_cast<int>(number));
    return true;
}

bool PERDecoder::do_visit(OBJECT_IDENTIFIER& value) {
    unsigned count = 0;
    if (decodeLength(0, 255, count) != 0) return false;
    if (count == 0) return value.decodeCommon(position_, 0);
    byteAlign();
    if (static_cast<std::uint64_t>(end_ - position_) < count) return false;
    char const* const contents = position_;
    position_ += count;
    return value.decodeCommon(contents, count);
}

bool PERDecoder::do_visit(OCTET_STRING& value) {
    unsigned size = 0;
    if (decodeConstrainedLength(value, size) != 0 || size > MaximumStringSize) return false;
    if (size <= 2) {
        char octets[2] = {0, 0};
        for (unsigned i = 0; i < size; ++i) {
            unsigned octet = 0;
            if (!decodeMultiBit(8, octet)) return false;
            octets[i] = static_cast<char>(octet);
        }
        value.assign(octets, octets + size);
        return true;
    }
    byteAlign();
    if (static_cast<std::uint64_t>(end_ - position_) < size) return false;
    value.assign(position_, position_ + size);
    position_ += size;
    return true;
}

bool PERDecoder::do_visit(BIT_STRING& value) {
    unsigned size = 0;
    if (decodeConstrainedLength(value, size) != 0 || size > MaximumStringSize) return false;
    if (size == 0) {
        value.resize(0);
        return true;
    }
    std::vector<char> bits;
    if (size <= 16 || !aligned_) {
        if (!decodeBitMap(bits, size)) return false;
    } else {
        unsigned const octets = (size + 7) / 8;
        byteAlign();
        if (static_cast<std::uint64_t>(end_ - position_) < octets) return false;
        bits.assign(position_, position_ + octets);
        position_ += octets;
    }
    value.resize(size);
    std::copy(bits.begin(), bits.end(), value.getData().begin());
    value.resize(size);  // clears the padding bits of the last octet
    return true;
}

bool PERDecoder::do_visit(AbstractString& value) {
    unsigned length = 0;
    if (decodeConstrainedLength(value, length) != 0 || length > MaximumStringSize) return false;
    per::StringForm const form = per::stringForm(value, aligned_);
    if (form.alignFirst && (form.bits != 8 || length > 0)) byteAlign();
    if (getBitsLeft() < static_cast<std::uint64_t>(length) * form.bits) {
        value.clear();
        return false;
    }
    std::string text;
    text.reserve(length);
    char const* const set = value.getCharacterSet();
    unsigned const setSize = value.getCharacterSetSize();
    for (unsigned i = 0; i < length; ++i) {
        unsigned code = 0;
        decodeMultiBit(form.bits, code);
        if (!form.byCode) {
            if (code >= setSize) return false;
            code = static_cast<unsigned char>(set[code]);
        }
        text.push_back(static_cast<char>(code));
    }
    value.assign(text);
    return true;
}

bool PERDecoder::do_visit(BMPString& value) {
    unsigned length = 0;
    if (decodeConstrainedLength(value, length) != 0 || length > MaximumStringSize) return false;
    if (aligned_ && (value.getConstraintType() == Unconstrained ||
                     static_cast<unsigned long long>(value.getUpperLimit()) * 16 > 16))
        byteAlign();
    if (getBitsLeft() < static_cast<std::uint64_t>(length) * 16) return false;
    std::wstring text;
    text.reserve(length);
    for (unsigned i = 0; i < length; ++i) {
        unsigned code = 0;
        decodeMultiBit(16, code);
        text.push_back(static_cast<wchar_t>(code + value.getFirstChar()));
    }
    static_cast<std::wstring&>(value) = text;
    return true;
}

bool PERDecoder::do_visit(GeneralizedTime& value) {
    unsigned length = 0;
    if (decodeLength(0, per::NoUpperBound, length) != 0) return false;
    std::string text;
    if (length > 0) {
        byteAlign();
        if (static_cast<std::uint64_t>(end_ - position_) < length) return false;
        text.assign(position_, position_ + length);
        position_ += length;
    }
    return per::timeFromText(text, value);
}

// ---- constructed types -------------------------------------------------------------------

bool PERDecoder::decodeChoicePreamble(CHOICE& value, memento_type& memento) {
    unsigned const roots = value.getNumChoices();
    bool extension = false;
    if (value.extendable() && !decodeBit(extension)) return false;
    if (extension) {
        unsigned number = 0;
        if (!decodeSmallUnsigned(number)) return false;
        char const* after = nullptr;
        if (!decodeOpenLength(after)) return false;
        memento.position = after;
        memento.bitsLeft = 8;
        std::uint64_t const index = std::uint64_t{roots} + number;
        // An alternative the type does not list leaves the selection unknown; not a failure.
        value.select(index > INT_MAX ? INT_MAX : static_cast<int>(index));
        return true;
    }
    if (roots == 0) return false;
    unsigned index = 0;
    if (roots > 1 && decodeUnsigned(0, roots - 1, index) != 0) return false;
    return value.select(static_cast<int>(index));
}

bool PERDecoder::do_visit(CHOICE& value) {
    memento_type memento;
    if (!decodeChoicePreamble(value, memento)) return false;
    if (!value.isUnknownSelection()) {
        if (!value.getSelection() && !value.createSelection()) return false;
        if (!value.getSelection()->accept(*this)) return false;
    }
    // The end of an extension alternative is where its length says, whatever its contents used.
    rollback(memento);
    return true;
}

bool PERDecoder::do_visit(SEQUENCE_OF_Base& value) {
    unsigned count = 0;
    if (decodeConstrainedLength(value, count) != 0 || count > MaximumArraySize) return false;
    value.resize(count);
    if (value.size() != count) return false;
    for (auto element = value.begin(); element != value.end(); ++element) {
        if (!*element) element->reset(value.createElement());
        if (!*element || !(*element)->accept(*this)) {
            value.erase(element, value.end());
            return false;
        }
    }
    return true;
}

bool PERDecoder::do_visit(OpenData& value) {
    unsigned length = 0;
    if (decodeLength(0, per::NoUpperBound, length) != 0) return false;
    if (static_cast<std::uint64_t>(end_ - position_) < length) return false;
    if (value.has_buf())
        value.get_buf().assign(position_, position_ + length);
    else
        value.grab(std::make_unique<std::vector<char>>(position_, position_ + length).release());
    position_ += length;
    return true;
}

bool PERDecoder::do_revisit(OpenData& value) {
    if (!value.has_buf() || !value.has_data()) return false;
    std::vector<char> const& octets = value.get_buf();
    PERDecoder nested(octets.data(), octets.data() + octets.size(), get_env(), true);
    return value.get_data().accept(nested);
}

bool PERDecoder::do_visit(TypeConstrainedOpenData& value) {
    char const* after = nullptr;
    if (!decodeOpenLength(after)) return false;
    bool const result = value.has_data() && value.get_data().accept(*this);
    setPosition(after);
    return result;
}

int PERDecoder::preVisitExtensionRoots(SEQUENCE& value) {
    SequenceInfo const& type = *value.info();
    bool extension = false;
    if (type.extendable && !decodeBit(extension)) return Fail;
    BitMap& optional = value.optionalFieldMap();
    optional.resize(type.numOptional);
    if (!decodeBitMap(optional.bytes(), type.numOptional)) return Fail;
    if (!extension) {
        value.extensionMap().resize(0);
        return NoExtensions;
    }
    return Continue;
}

int PERDecoder::visitExtensionRoot(SEQUENCE& value, int index, int presence) {
    if (presence != -1 && !value.hasOptionalField(static_cast<unsigned>(presence))) return Continue;
    AbstractData* const field = value.ensureField(static_cast<unsigned>(index));
    return field && field->accept(*this) ? Continue : Fail;
}

int PERDecoder::preVisitExtensions(SEQUENCE& value) {
    unsigned last = 0;
    if (!decodeSmallUnsigned(last) || last >= MaximumArraySize) return Fail;
    BitMap& extensions = value.extensionMap();
    extensions.resize(last + 1);
    return decodeBitMap(extensions.bytes(), last + 1) ? Continue : Fail;
}

int PERDecoder::visitKnownExtension(SEQUENCE& value, int index, int presence) {
    if (!value.hasOptionalField(static_cast<unsigned>(presence))) return Continue;
    char const* after = nullptr;
    if (!decodeOpenLength(after)) return Fail;
    AbstractData* const field = value.ensureField(static_cast<unsigned>(index));
    bool const result = !field || field->accept(*this);
    setPosition(after);
    return result ? Continue : Fail;
}

bool PERDecoder::visitUnknownExtensions(SEQUENCE& value) {
    BitMap const& extensions = value.extensionMap();
    for (unsigned e = value.info()->knownExtensions; e < extensions.size(); ++e) {
        if (!extensions[e]) continue;
        unsigned length = 0;
        if (decodeLength(0, per::NoUpperBound, length) != 0) return false;
        if (static_cast<std::uint64_t>(end_ - position_) < length) return false;
        position_ += length;
    }
    return true;
}

}  // namespace ASN1
