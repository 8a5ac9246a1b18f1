#pragma once

#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

// Basic encoding rules, definite-length form: reads a value from a range of octets and
// fills it in place; the inverse of BEREncoder.
//
// The input is hostile. Every read stays inside the innermost SEQUENCE, SEQUENCE OF or
// CHOICE alternative being decoded, and a length that runs past it fails before anything
// is allocated. Refused: the indefinite length form (0x80) and lengths of more than four
// octets, tag numbers above 65535, INTEGER and ENUMERATED contents longer than five octets
// or of five octets whose number the type cannot hold, BIT STRINGs with more than 7 unused
// bits. A failed decode leaves the value partly filled. Octets after the value are not
// looked at.
class BERDecoder : public Visitor {
public:
    BERDecoder(char const* begin, char const* end, CoderEnv* env = nullptr);

    // The next octet (0 at the end).
    unsigned char decodeByte();
    bool atEnd() const { return position_ >= end_; }
    char const* getPosition() const { return position_; }
    // Moves to the position, clamped to the end.
    void rollback(char const* position) { position_ = position < end_ ? position : end_; }
    // Copies the smaller of `count` and the octets left; returns how many it copied.
    unsigned decodeBlock(char* data, unsigned count);
    // Reads an identifier and a length: the tag word, whether the encoding is
    // constructed, the contents length.
    bool decodeHeader(unsigned& tag, bool& constructed, unsigned& length);
    // Reads the value's header and checks its tag (a container may have matched it
    // already); on failure the position is where it was.
    bool decodeHeader(AbstractData const& value, unsigned& length);
    // The CHOICE's own header when it has one, then the alternative's: selects the
    // alternative and answers where its encoding ends, the position at its header.
    bool decodeChoicePreamle(CHOICE& value, char const*& alternativeEnd);

protected:
    bool do_visit(Null& value) override;
    bool do_visit(BOOLEAN& value) override;
    bool do_visit(INTEGER& value) override;
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
    // A SEQUENCE being decoded: where its contents end, and the limit outside it.
    struct Frame {
        char const* contentsEnd;
        char const* outerEnd;
    };

    std::size_t left() const { return static_cast<std::size_t>(end_ - position_); }
    // The header, then exactly `length` contents octets that must be there.
    bool decodeContents(AbstractData const& value, char const*& contents, unsigned& length);
    // INTEGER and ENUMERATED contents: 1 to 4 octets, sign-extended, taken as 32 bits; or
    // 5 octets whose number the type holds (unsigned: 0 to 2^32 - 1; else a signed number).
    bool decodeInteger(AbstractData const& value, bool isUnsigned, int& number);
    // Decodes the value with reads limited to [position, limit); afterwards the limit is
    // restored and the SEQUENCEs a failure left unfinished are dropped.
    bool decodeWithin(AbstractData& value, char const* limit);
    // The open type's header: false on failure; sets the octets it holds.
    bool decodeOpenHeader(OpenData const& value, char const*& begin, char const*& after);
    // A root field or known extension addition: absent, decoded, or failed.
    int decodeField(SEQUENCE& value, int index, int presence, bool optional);

    char const* position_;
    char const* end_;
    std::vector<Frame> frames_;
    int tagCheckSkip_ = 0;
};

}  // namespace ASN1
