#pragma once

#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

// Basic encoding rules, definite-length form: appends the identifier, length and contents
// octets of a value to a byte vector.
//
// The tag of the next header comes from `nextTag`: -1 the value's own tag, 0 no header of
// its own, anything else that tag word. Containers set it before each component: a
// SEQUENCE to the field's tag, a SEQUENCE OF to -1, a CHOICE to the alternative's tag. A
// CHOICE or open type writes a header of its own (constructed, around the whole inner
// encoding) only when it is tagged. Every header measures its contents with a separate
// counting visit.
class BEREncoder : public ConstVisitor {
public:
    // Clears the output and reserves room for a typical message.
    explicit BEREncoder(std::vector<char>& output);

    // The low 8 bits.
    void encodeByte(unsigned octet) { output_.push_back(static_cast<char>(octet)); }
    void encodeBlock(char const* data, std::size_t count);
    // The identifier and length octets of the value, under the next tag.
    void encodeHeader(AbstractData const& value);

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

    bool preVisitExtensionRoots(SEQUENCE const& value) override;
    bool visitExtensionRoot(SEQUENCE const& value, int index) override;
    bool visitKnownExtension(SEQUENCE const& value, int index) override;

private:
    // The low `octets` octets of the number in two's complement, most significant first.
    void encodeInteger(long long value, unsigned octets);
    bool encodeField(SEQUENCE const& value, int index);

    std::vector<char>& output_;
    int nextTag_ = -1;
};

// Counts the contents octets of a value as BEREncoder writes them.
class DataLengthCounter : public ConstVisitor {
public:
    unsigned getDataLen() const { return length_; }
    // Identifier octets + length octets + the counted contents, under the tag word.
    unsigned getObjectLen(int tag) const;

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

    bool preVisitExtensionRoots(SEQUENCE const& value) override;
    bool visitExtensionRoot(SEQUENCE const& value, int index) override;
    bool visitKnownExtension(SEQUENCE const& value, int index) override;

private:
    void add(std::size_t count) { length_ += static_cast<unsigned>(count); }
    bool addField(SEQUENCE const& value, int index);

    unsigned length_ = 0;
};

// Answers whether a value's header is primitive: false for a SEQUENCE, a SEQUENCE OF, and
// a CHOICE or open type, whose own header wraps a complete inner encoding.
class PrimitiveChecker : public ConstVisitor {
protected:
    bool do_visit(AbstractData const& value) override;
    bool do_visit(CHOICE const& value) override;
    bool do_visit(OpenData const& value) override;
    bool do_visit(SEQUENCE_OF_Base const& value) override;
    bool preVisitExtensionRoots(SEQUENCE const& value) override;
};

// The contents length of an INTEGER: the fewest octets (1 to 4) that hold it in two's
// complement.
unsigned getIntegerDataLength(int value);
// The same for the number an INTEGER value stands for: an unsigned one of 2^31 or more takes
// five octets, the first 0, as every BER reader takes a first octet from 0x80 up for a sign.
unsigned getIntegerDataLength(INTEGER const& value);
// The contents length of the value.
unsigned getDataLength(AbstractData const& value);
// The length of the value's whole encoding under the tag word: 0 the contents alone, -1
// the value's own tag (the contents alone when it has none).
unsigned getObjectLength(AbstractData const& value, int tag);

namespace ber {

// Octets of the identifier of a tag number, and of the length form of a contents length.
unsigned identifierLength(unsigned number);
unsigned lengthLength(unsigned length);
// The largest tag number a tag word holds.
constexpr unsigned MaximumTagNumber = 0xFFFF;

}  // namespace ber

}  // namespace ASN1
