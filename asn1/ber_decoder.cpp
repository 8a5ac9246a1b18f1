#include "asn1/ber_decoder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "asn1/asn1.h"
#include "asn1/ber_encoder.h"

namespace ASN1 {

BERDecoder::BERDecoder(char const* begin, char const* end, CoderEnv* env)
    : Visitor(env), position_(begin), end_(end < begin ? begin : end) {}

// ---- octets and headers -------------------------------------------------------------------

unsigned char BERDecoder::decodeByte() {
    if (atEnd()) return 0;
    return static_cast<unsigned char>(*position_++);
}

unsigned BERDecoder::decodeBlock(char* data, unsigned count) {
    unsigned const copied = static_cast<unsigned>(std::min<std::size_t>(count, left()));
    if (copied) std::memcpy(data, position_, copied);
    position_ += copied;
    return copied;
}

bool BERDecoder::decodeHeader(unsigned& tag, bool& constructed, unsigned& length) {
    if (atEnd()) return false;
    unsigned const first = decodeByte();
    constructed = (first & 0x20) != 0;
    unsigned number = first & 0x1F;
    if (number == 31) {
        number = 0;
        unsigned octet = 0;
        do {
            if (atEnd()) return false;
            octet = decodeByte();
            number = number * 128 + (octet & 0x7F);
            if (number > ber::MaximumTagNumber) return false;  // beyond what a tag word holds
        } while (octet & 0x80);
    }
    tag = ((first & 0xC0) << 16) | number;

    if (atEnd()) return false;
    unsigned const octet = decodeByte();
    if (octet < 0x80) {
        length = octet;
        return true;
    }
    // The indefinite form (0x80) and lengths beyond 32 bits are not read.
    unsigned const octets = octet & 0x7F;
    if (octets == 0 || octets > 4 || left() < octets) return false;
    length = 0;
    for (unsigned i = 0; i < octets; ++i) length = (length << 8) | decodeByte();
    return true;
}

bool BERDecoder::decodeHeader(AbstractData const& value, unsigned& length) {
    char const* const start = position_;
    unsigned tag = 0;
    bool constructed = false;
    if (!decodeHeader(tag, constructed, length)) {
        position_ = start;
        return false;
    }
    // A container that matched the tag on the wire lets one header through; whatever the
    // tag, that header uses the allowance up.
    bool const matched = tag == static_cast<unsigned>(value.getTag()) || tagCheckSkip_ > 0;
    if (tagCheckSkip_ > 0) --tagCheckSkip_;
    if (!matched) position_ = start;
    return matched;
}

bool BERDecoder::decodeContents(AbstractData const& value, char const*& contents, unsigned& length) {
    if (!decodeHeader(value, length) || length > left()) return false;
    contents = position_;
    position_ += length;
    return true;
}

bool BERDecoder::decodeWithin(AbstractData& value, char const* limit) {
    char const* const outer = end_;
    std::size_t const depth = frames_.size();
    end_ = std::min(limit, end_);
    bool const result = value.accept(*this);
    frames_.resize(depth);
    end_ = outer;
    return result;
}

// ---- simple types ------------------------------------------------------------------------

bool BERDecoder::do_visit(Null& value) {
    char const* contents = nullptr;
    unsigned length = 0;
    return decodeContents(value, contents, length);
}

bool BERDecoder::do_visit(BOOLEAN& value) {
    char const* contents = nullptr;
    unsigned length = 0;
    if (!decodeContents(value, contents, length)) return false;
    for (unsigned i = 0; i < length; ++i) value = contents[i] != 0;
    return true;
}

bool BERDecoder::decodeInteger(AbstractData const& value, bool isUnsigned, int& number) {
    char const* contents = nullptr;
    unsigned length = 0;
    if (!decodeContents(value, contents, length) || length < 1 || length > 5) return false;
    // Two's complement: the first octet carries the sign.
    long long read = static_cast<signed char>(contents[0]);
    for (unsigned i = 1; i < length; ++i) read = read * 256 + static_cast<unsigned char>(contents[i]);
    // Up to four octets the bits are taken as they are; five must give a number the type holds.
    if (length == 5 && (isUnsigned ? read < 0 || read > UINT_MAX : read < INT_MIN || read > INT_MAX)) return false;
    number = static_cast<int>(static_cast<unsigned>(read));
    return true;
}

bool BERDecoder::do_visit(INTEGER& value) {
    int number = 0;
    if (!decodeInteger(value, value.isUnsigned(), number)) return false;
    value.setValue(number);
    return true;
}

bool BERDecoder::do_visit(ENUMERATED& value) {
    int number = 0;
    if (!decodeInteger(value, false, number)) return false;
    value.setFromInt(number);
    return true;
}

bool BERDecoder::do_visit(OBJECT_IDENTIFIER& value) {
    char const* contents = nullptr;
    unsigned length = 0;
    return decodeContents(value, contents, length) && value.decodeCommon(contents, length);
}

bool BERDecoder::do_visit(OCTET_STRING& value) {
    char const* contents = nullptr;
    unsigned length = 0;
    if (!decodeContents(value, contents, length)) return false;
    value.assign(contents, contents + length);
    return true;
}

bool BERDecoder::do_visit(BIT_STRING& value) {
    char const* contents = nullptr;
    unsigned length = 0;
    if (!decodeContents(value, contents, length) || length < 1) return false;
    unsigned const unused = static_cast<unsigned char>(contents[0]);
    // At most 7 unused bits, and none without a data octet.
    if (unused > 7 || (length == 1 && unused != 0)) return false;
    unsigned const octets = length - 1;
    value.resize(octets * 8 - unused);
    std::copy(contents + 1, contents + length, value.getData().begin());
    value.resize(octets * 8 - unused);  // clears the unused bits
    return true;
}

bool BERDecoder::do_visit(AbstractString& value) {
    char const* contents = nullptr;
    unsigned length = 0;
    if (!decodeContents(value, contents, length)) return false;
    value.assign(std::string(contents, length));
    return true;
}

bool BERDecoder::do_visit(BMPString& value) {
    char const* contents = nullptr;
    unsigned length = 0;
    if (!decodeContents(value, contents, length) || length % 2 != 0) return false;
    std::wstring text(length / 2, L'\0');
    for (unsigned i = 0; i < length / 2; ++i)
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(contents[2 * i]) << 8 |
                                       static_cast<unsigned char>(contents[2 * i + 1]));
    static_cast<std::wstring&>(value) = text;
    return true;
}

bool BERDecoder::do_visit(GeneralizedTime& value) {
    char const* contents = nullptr;
    unsigned length = 0;
    if (!decodeContents(value, contents, length)) return false;
    value.set(std::string(contents, length).c_str());
    return true;
}

// ---- constructed types -------------------------------------------------------------------

bool BERDecoder::decodeChoicePreamle(CHOICE& value, char const*& alternativeEnd) {
    char const* start = position_;
    unsigned tag = 0;
    bool constructed = false;
    unsigned length = 0;
    if (!decodeHeader(tag, constructed, length)) return false;
    if (tagCheckSkip_ != 0 || value.getTag() != 0) {
        // That was the CHOICE's own header; the alternative's must lie inside it.
        tagCheckSkip_ = 0;
        if (length > left()) return false;
        char const* const ownEnd = position_ + length;
        start = position_;
        if (!decodeHeader(tag, constructed, length) || length > left() || position_ + length > ownEnd)
            return false;
    }
    if (length > left()) return false;
    alternativeEnd = position_ + length;
    position_ = start;
    if (!value.setID(tag & ber::MaximumTagNumber, tag >> 16)) return false;
    // Without a tag table the number alone selects: the class must be the alternative's too.
    unsigned const selectionTag = static_cast<unsigned>(value.getSelectionTag());
    if (selectionTag != 0 && selectionTag != tag) return false;
    tagCheckSkip_ = selectionTag != 0 ? 1 : 0;
    return true;
}

bool BERDecoder::do_visit(CHOICE& value) {
    char const* alternativeEnd = nullptr;
    if (!decodeChoicePreamle(value, alternativeEnd)) return false;
    if (!value.getSelection() || !decodeWithin(*value.getSelection(), alternativeEnd)) return false;
    position_ = alternativeEnd;
    return true;
}

bool BERDecoder::do_visit(SEQUENCE_OF_Base& value) {
    value.clear();
    unsigned length = 0;
    if (!decodeHeader(value, length) || length > left()) return false;
    char const* const contentsEnd = position_ + length;
    while (position_ < contentsEnd) {
        std::unique_ptr<AbstractData> element(value.createElement());
        char const* const before = position_;
        if (!element || !decodeWithin(*element, contentsEnd) || position_ == before) return false;
        value.push_back(element.release());
    }
    position_ = contentsEnd;
    return true;
}

bool BERDecoder::decodeOpenHeader(OpenData const& value, char const*& begin, char const*& after) {
    char const* const start = position_;
    unsigned tag = 0;
    bool constructed = false;
    unsigned length = 0;
    if (!decodeHeader(tag, constructed, length) || length > left()) return false;
    after = position_ + length;
    if (tagCheckSkip_ > 0 || value.getTag() != 0) {
        // The open type's own header (or its field's): the contents are the inner encoding.
        tagCheckSkip_ = 0;
        begin = position_;
    } else {
        // The inner value's header: it belongs to the held encoding.
        begin = start;
    }
    position_ = begin;
    return true;
}

bool BERDecoder::do_visit(OpenData& value) {
    char const* begin = nullptr;
    char const* after = nullptr;
    if (!decodeOpenHeader(value, begin, after)) return false;
    if (value.has_buf())
        value.get_buf().assign(begin, after);
    else
        value.grab(std::make_unique<std::vector<char>>(begin, after).release());
    position_ = after;
    return true;
}

bool BERDecoder::do_revisit(OpenData& value) {
    if (!value.has_buf() || !value.has_data()) return false;
    std::vector<char> const& octets = value.get_buf();
    BERDecoder nested(octets.data(), octets.data() + octets.size(), get_env());
    return value.get_data().accept(nested);
}

bool BERDecoder::do_visit(TypeConstrainedOpenData& value) {
    char const* begin = nullptr;
    char const* after = nullptr;
    if (!value.has_data() || !decodeOpenHeader(value, begin, after)) return false;
    if (!decodeWithin(value.get_data(), after)) return false;
    position_ = after;
    return true;
}

int BERDecoder::preVisitExtensionRoots(SEQUENCE& value) {
    unsigned length = 0;
    if (!decodeHeader(value, length) || length > left()) return Fail;
    // The presence bits come from the input alone.
    value.optionalFieldMap() = BitMap(value.info()->numOptional);
    value.extensionMap().resize(0);
    frames_.push_back({position_ + length, end_});
    end_ = position_ + length;
    return Continue;
}

int BERDecoder::decodeField(SEQUENCE& value, int index, int presence, bool optional) {
    // At the end of the SEQUENCE's contents an optional field is absent.
    if (atEnd()) return optional ? Continue : Fail;
    char const* const start = position_;
    unsigned tag = 0;
    bool constructed = false;
    unsigned length = 0;
    if (!decodeHeader(tag, constructed, length)) return Fail;
    position_ = start;
    unsigned const fieldTag = static_cast<unsigned>(value.getFieldTag(index));
    if (fieldTag != 0 && tag != fieldTag) return optional ? Continue : Fail;

    unsigned const presenceIndex = static_cast<unsigned>(presence);
    AbstractData* field = nullptr;
    if (optional) {
        value.includeOptionalField(presenceIndex, static_cast<unsigned>(index));
        field = value.getField(static_cast<unsigned>(index));
        if (!field) value.removeOptionalField(presenceIndex);
    } else {
        field = value.ensureField(static_cast<unsigned>(index));
    }
    if (!field) return optional ? Continue : Fail;

    if (value.tagMode() != 2) tagCheckSkip_ = 1;
    if (decodeWithin(*field, end_)) return Continue;
    if (!optional) return Fail;
    value.removeOptionalField(presenceIndex);
    if (fieldTag != 0) return Fail;
    // An untagged optional field that is not there: the next field may be.
    position_ = start;
    tagCheckSkip_ = 0;
    return Continue;
}

int BERDecoder::visitExtensionRoot(SEQUENCE& value, int index, int presence) {
    return decodeField(value, index, presence, presence != -1);
}

int BERDecoder::visitKnownExtension(SEQUENCE& value, int index, int presence) {
    return decodeField(value, index, presence, true);
}

bool BERDecoder::visitUnknownExtensions(SEQUENCE&) {
    if (frames_.empty()) return false;
    // Contents after the fields the type lists are skipped.
    position_ = frames_.back().contentsEnd;
    end_ = frames_.back().outerEnd;
    frames_.pop_back();
    return true;
}

}  // namespace ASN1
