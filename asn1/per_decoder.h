#pragma once

#include <cstdint>
#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

class ConstrainedObject;

// Packed encoding rules (ALIGNED variant unless told otherwise): reads a value from a range
// of octets and fills it in place; the inverse of PEREncoder, with its departures from
// X.691.
//
// The input is hostile: no read goes outside [begin, end), every jump is clamped to the
// end, and sizes are checked against what is left (and against MaximumStringSize and
// MaximumArraySize) before anything is allocated. A failed decode leaves the value partly
// filled. Octets after the value are not looked at.
class PERDecoder : public Visitor {
public:
    // A place to come back to: the end of an open type.
    struct memento_type {
        char const* position = nullptr;  // null: no memento
        unsigned bitsLeft = 8;
    };

    PERDecoder(char const* begin, char const* end, CoderEnv* env = nullptr, bool aligned = true);

    bool aligned() const { return aligned_; }
    // The position has reached the end.
    bool atEnd() const { return position_ >= end_; }
    // Unread bits of the input.
    std::uint64_t getBitsLeft() const;
    char const* getPosition() const { return position_; }
    // Moves to min(position, end), at an octet boundary.
    void setPosition(char const* position);
    // Moves to the memento's place (clamped to the end); nothing for a null memento.
    void rollback(memento_type const& memento);
    // The place `octets` octets after the current position, clamped to the end.
    char const* positionAfter(std::uint64_t octets) const;

    // One bit; 0 when none is left.
    int decodeSingleBit();
    // n bits (0 <= n <= 32); false when n > 32 or fewer bits are left.
    bool decodeMultiBit(unsigned n, unsigned& value);
    void byteAlign();
    // n bits into a packed bit map (grown to hold them); the last partial octet is stored
    // left-aligned, its low bits zero.
    bool decodeBitMap(std::vector<char>& map, unsigned n);
    bool decodeSmallUnsigned(unsigned& value);
    // 0 on success, -1 on failure.
    int decodeUnsigned(unsigned lb, unsigned ub, unsigned& value);
    int decodeLength(unsigned lb, unsigned ub, unsigned& length);
    int decodeConstrainedLength(ConstrainedObject& object, unsigned& length);
    // Aligns and copies up to n octets; returns how many were there.
    unsigned decodeBlock(char* data, unsigned n);

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
    int preVisitExtensions(SEQUENCE& value) override;
    int visitKnownExtension(SEQUENCE& value, int index, int presence) override;
    bool visitUnknownExtensions(SEQUENCE& value) override;

private:
    // One bit that must be there.
    bool decodeBit(bool& bit);
    // The CHOICE's extension bit and index; selects the alternative. `memento` is set for
    // an extension alternative: the end of its contents.
    bool decodeChoicePreamble(CHOICE& value, memento_type& memento);
    // The octet count of an open type, then the place after its contents.
    bool decodeOpenLength(char const*& after);

    char const* position_;
    char const* end_;
    std::uint16_t bitsLeft_ = 8;  // unread bits of the octet at the position; 8: all
    bool aligned_;
};

}  // namespace ASN1
