#include "asn1/per_encoder.h"

#include <algorithm>
#include <string>

#include "asn1/asn1.h"
#include "asn1/per_common.h"

namespace ASN1 {

PEREncoder::PEREncoder(std::vector<char>& output, bool aligned) : output_(output), aligned_(aligned) {
    output_.clear();
    output_.reserve(256);
}

// ---- bits -------------------------------------------------------------------------------

void PEREncoder::encodeSingleBit(bool bit) {
    if (bitsLeft_ == 8) output_.push_back(0);
    --bitsLeft_;
    if (bit) output_.back() = static_cast<char>(output_.back() | (1u << bitsLeft_));
    if (bitsLeft_ == 0) bitsLeft_ = 8;
}

void PEREncoder::encodeMultiBit(unsigned value, unsigned n) {
    if (n == 0) return;
    if (bitsLeft_ == 8) output_.push_back(0);
    if (n < 32) value &= (1u << n) - 1;
    if (bitsLeft_ > n) {
        bitsLeft_ = static_cast<std::uint16_t>(bitsLeft_ - n);
        output_.back() = static_cast<char>(output_.back() | (value << bitsLeft_));
        return;
    }
    n -= bitsLeft_;
    output_.back() = static_cast<char>(output_.back() | static_cast<char>(value >> n));
    bitsLeft_ = 8;
    while (n > 7) {
        n -= 8;
        output_.push_back(static_cast<char>(value >> n));
    }
    if (n > 0) {
        bitsLeft_ = static_cast<std::uint16_t>(8 - n);
        output_.push_back(static_cast<char>((value & ((1u << n) - 1)) << bitsLeft_));
    }
}

void PEREncoder::byteAlign() { bitsLeft_ = 8; }

void PEREncoder::encodeBitMap(std::vector<char> const& map, unsigned n) {
    unsigned const whole = n / 8;
    for (unsigned i = 0; i < whole; ++i) encodeMultiBit(static_cast<unsigned char>(map[i]), 8);
    if (unsigned const rest = n % 8)
        encodeMultiBit(static_cast<unsigned char>(map[whole]) >> (8 - rest), rest);
}

void PEREncoder::encodeBlock(char const* data, unsigned n) {
    if (n == 0) return;
    byteAlign();
    output_.insert(output_.end(), data, data + n);
}

// ---- numbers and lengths ------------------------------------------------------------------

void PEREncoder::encodeSmallUnsigned(unsigned value) {
    if (value <= 63) {
        encodeMultiBit(value, 7);
        return;
    }
    encodeSingleBit(true);
    unsigned const octets = value < 256 ? 1 : value < 65536 ? 2 : value <= 16777215 ? 3 : 4;
    encodeLength(octets, 0, per::NoUpperBound);
    byteAlign();
    encodeMultiBit(value, octets * 8);
}

bool PEREncoder::encodeUnsigned(unsigned value, unsigned lb, unsigned ub) {
    if (value - lb > ub - lb) return false;
    if (lb == ub) return true;
    unsigned const range = ub - lb + 1;  // 0: the full 32 bits
    unsigned const bits = CountBits(range);
    unsigned const offset = value - lb;
    if (!aligned_ || (range >= 1 && range <= 255)) {
        encodeMultiBit(offset, bits);
        return true;
    }
    if (bits > 16) {
        // The fewest octets that hold the offset, counted in a small length field first.
        unsigned const octets = offset == 0 ? 1 : (CountBits(offset + 1) + 7) / 8;
        encodeLength(octets, 1, (bits + 7) / 8);
        byteAlign();
        encodeMultiBit(offset, octets * 8);
        return true;
    }
    byteAlign();
    encodeMultiBit(offset, bits > 8 ? 16 : 8);
    return true;
}

bool PEREncoder::encodeLength(unsigned length, unsigned lb, unsigned ub) {
    if (length < lb || length > ub) return false;
    if (!aligned_ && ub != per::NoUpperBound) {
        encodeMultiBit(length - lb, CountBits(ub - lb + 1));
        return true;
    }
    if (ub <= 65535) return encodeUnsigned(length, lb, ub);
    byteAlign();
    if (length <= 127) {
        encodeMultiBit(length, 8);
        return true;
    }
    if (length < per::FragmentLength) {
        encodeSingleBit(true);
        encodeMultiBit(length, 15);
        return true;
    }
    return false;  // no fragmentation
}

bool PEREncoder::encodeConstraint(ConstrainedObject const& object, unsigned value) {
    if (object.getConstraintType() == ExtendableConstraint) {
        bool const outside = per::outsideRange(object, value);
        encodeSingleBit(outside);
        return outside;
    }
    return object.getConstraintType() != FixedConstraint;
}

bool PEREncoder::encodeConstrainedLength(ConstrainedObject const& object, unsigned length) {
    per::LengthBounds const bounds = per::lengthBounds(object, encodeConstraint(object, length));
    return encodeLength(length, bounds.lb, bounds.ub);
}

// ---- open types ----------------------------------------------------------------------------

bool PEREncoder::encodeOpenContents(std::vector<char> const& octets) {
    static char const empty = 0;
    if (octets.empty()) {
        encodeLength(1, 0, per::NoUpperBound);
        encodeBlock(&empty, 1);
        return true;
    }
    // 16384 octets and more have no length form here: fail rather than send a corrupt message.
    if (octets.size() >= per::FragmentLength) return false;
    unsigned const size = static_cast<unsigned>(octets.size());
    encodeLength(size, 0, per::NoUpperBound);
    encodeBlock(octets.data(), size);
    return true;
}

bool PEREncoder::encodeAnyType(AbstractData const* value) {
    std::vector<char> nested;
    PEREncoder encoder(nested, true);
    if (value && !value->accept(encoder)) return false;
    return encodeOpenContents(nested);
}

bool PEREncoder::do_visit(OpenData const& value) {
    if (value.has_data()) return encodeAnyType(&value.get_data());
    // Octets a decoder kept go out again as they came in.
    if (value.has_buf()) return encodeOpenContents(value.get_buf());
    return encodeAnyType(nullptr);
}

// ---- simple types ------------------------------------------------------------------------

bool PEREncoder::do_visit(Null const&) { return true; }

bool PEREncoder::do_visit(BOOLEAN const& value) {
    encodeSingleBit(value);
    return true;
}

bool PEREncoder::do_visit(INTEGER const& value) {
    unsigned const bits = static_cast<unsigned>(value.getValue());
    ConstraintType const type = value.getConstraintType();
    bool unconstrainedForm = type == Unconstrained || type == PartiallyConstrained;
    if (type == ExtendableConstraint) unconstrainedForm = encodeConstraint(value, bits);
    if (!unconstrainedForm)
        return encodeUnsigned(bits, static_cast<unsigned>(value.getLowerLimit()), value.getUpperLimit());
    // Two's complement in the fewest octets, after their count.
    unsigned const octets = per::signedOctets(value.getValue());
    encodeLength(octets, 0, per::NoUpperBound);
    byteAlign();
    encodeMultiBit(bits, octets * 8);
    return true;
}

bool PEREncoder::do_visit(ENUMERATED const& value) {
    int const number = value.asInt();
    if (value.extendable()) {
        bool const extension = number > value.getMaximum();
        encodeSingleBit(extension);
        if (extension) {
            // The extension form: value + 1 as a normally small number, then the value in
            // 0..value.
            encodeSmallUnsigned(static_cast<unsigned>(number) + 1);
            return encodeUnsigned(static_cast<unsigned>(number), 0, static_cast<unsigned>(number));
        }
    }
    if (number < 0 || value.getMaximum() < 0) return false;
    return encodeUnsigned(static_cast<unsigned>(number), 0, static_cast<unsigned>(value.getMaximum()));
}

bool PEREncoder::do_visit(OBJECT_IDENTIFIER const& value) {
    std::vector<char> octets;
    value.encodeCommon(octets);
    if (!encodeLength(static_cast<unsigned>(std::min<std::size_t>(octets.size(), 256)), 0, 255)) return false;
    encodeBlock(octets.data(), static_cast<unsigned>(octets.size()));
    return true;
}

bool PEREncoder::do_visit(BIT_STRING const& value) {
    unsigned const bits = value.size();
    if (!encodeConstrainedLength(value, bits)) return false;
    if (bits == 0) return true;
    if (bits <= 16 || !aligned_) {
        encodeBitMap(value.getData(), bits);
        return true;
    }
    // Whole octets; the bits past the size are zero in the value's last octet.
    std::vector<char> const& data = value.getData();
    unsigned const octets = (bits + 7) / 8;
    encodeBlock(data.data(), octets - 1);
    byteAlign();
    encodeMultiBit(static_cast<unsigned char>(data[octets - 1]) & (0xFF00u >> (bits % 8 ? bits % 8 : 8)), 8);
    return true;
}

bool PEREncoder::do_visit(OCTET_STRING const& value) {
    if (value.size() > 0xFFFFFFFFu) return false;
    unsigned const size = static_cast<unsigned>(value.size());
    if (!encodeConstrainedLength(value, size)) return false;
    if (size <= 2) {
        // One or two octets go unaligned.
        for (char octet : value) encodeMultiBit(static_cast<unsigned char>(octet), 8);
        return true;
    }
    encodeBlock(value.data(), size);
    return true;
}

bool PEREncoder::do_visit(AbstractString const& value) {
    if (value.size() > 0xFFFFFFFFu) return false;
    if (!encodeConstrainedLength(value, static_cast<unsigned>(value.size()))) return false;
    per::StringForm const form = per::stringForm(value, aligned_);
    if (form.alignFirst) byteAlign();
    char const* const set = value.getCharacterSet();
    unsigned const setSize = value.getCharacterSetSize();
    auto const less = [](char a, char b) { return static_cast<unsigned char>(a) < static_cast<unsigned char>(b); };
    for (char c : value) {
        unsigned code = static_cast<unsigned char>(c);
        if (!form.byCode) {
            char const* const found = std::lower_bound(set, set + setSize, c, less);
            if (found == set + setSize || *found != c) return false;
            code = static_cast<unsigned>(found - set);
        }
        encodeMultiBit(code, form.bits);
    }
    return true;
}

bool PEREncoder::do_visit(BMPString const& value) {
    if (value.size() > 0xFFFFFFFFu) return false;
    if (!encodeConstrainedLength(value, static_cast<unsigned>(value.size()))) return false;
    if (aligned_ && (value.getConstraintType() == Unconstrained ||
                     static_cast<unsigned long long>(value.getUpperLimit()) * 16 > 16))
        byteAlign();
    for (wchar_t c : value) encodeMultiBit(static_cast<unsigned>(c) - value.getFirstChar(), 16);
    return true;
}

bool PEREncoder::do_visit(GeneralizedTime const& value) {
    std::string text;
    if (!per::timeText(value, text)) return false;  // fields out of range
    if (!encodeLength(static_cast<unsigned>(text.size()), 0, per::NoUpperBound)) return false;
    encodeBlock(text.data(), static_cast<unsigned>(text.size()));
    return true;
}

// ---- constructed types -------------------------------------------------------------------

bool PEREncoder::do_visit(CHOICE const& value) {
    int const selection = value.currentSelection();
    AbstractData const* const selected = value.getSelection();
    if (selection < 0 || !selected) return false;
    unsigned const index = static_cast<unsigned>(selection);
    unsigned const roots = value.getNumChoices();
    bool const extension = index >= roots;
    if (value.extendable()) {
        encodeSingleBit(extension);
    } else if (extension) {
        return false;
    }
    if (extension) {
        encodeSmallUnsigned(index - roots);
        return encodeAnyType(selected);
    }
    if (roots > 1 && !encodeUnsigned(index, 0, roots - 1)) return false;
    return selected->accept(*this);
}

bool PEREncoder::do_visit(SEQUENCE_OF_Base const& value) {
    if (!encodeConstrainedLength(value, value.size())) return false;
    for (auto const& element : value)
        if (!element->accept(*this)) return false;
    return true;
}

namespace {

// The extension bits a SEQUENCE goes out with: those of the additions its type knows. Bits
// of additions a decoder met but could not read have no contents to send.
BitMap sentExtensions(SEQUENCE const& value) {
    BitMap bits = value.extensionMap();
    if (bits.size() > value.info()->knownExtensions) bits.resize(value.info()->knownExtensions);
    return bits;
}

}  // namespace

bool PEREncoder::preVisitExtensionRoots(SEQUENCE const& value) {
    SequenceInfo const& type = *value.info();
    if (type.extendable) encodeSingleBit(sentExtensions(value).any());
    BitMap optional = value.optionalFieldMap();
    optional.resize(type.numOptional);
    encodeBitMap(optional.bytes(), type.numOptional);
    return true;
}

bool PEREncoder::visitExtensionRoot(SEQUENCE const& value, int index) {
    AbstractData const* const field = value.getField(static_cast<unsigned>(index));
    return field && field->accept(*this);
}

bool PEREncoder::preVisitExtensions(SEQUENCE const& value) {
    BitMap const bits = sentExtensions(value);
    if (!bits.any()) return true;  // the extension bit was 0: nothing follows
    encodeSmallUnsigned(bits.size() - 1);
    encodeBitMap(bits.bytes(), bits.size());
    return true;
}

bool PEREncoder::visitKnownExtension(SEQUENCE const& value, int index) {
    AbstractData const* const field = value.getField(static_cast<unsigned>(index));
    return field && encodeAnyType(field);
}

}  // namespace ASN1
