#pragma once

#include <cstdint>
#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

class ConstrainedObject;

// Packed encoding rules (ALIGNED variant unless told otherwise): appends the encoding of a
// value to a byte vector, most significant bit first. A partly written octet is completed
// with zero bits.
//
// The wire contract with the controllers departs from X.691 in a few places, kept on
// purpose: an ENUMERATED is coded by its value in 0..maximum (not by its index); OCTET
// STRINGs of one or two octets are not aligned; an OBJECT IDENTIFIER's length is one octet
// (0..255); an INTEGER with only a lower bound is coded as an unconstrained one; an
// unconstrained INTEGER takes at most four octets; lengths of 16384 and more have no form
// (no fragmentation): such an encoding fails.
class PEREncoder : public ConstVisitor {
public:
    // Clears the output and reserves room for a typical message.
    explicit PEREncoder(std::vector<char>& output, bool aligned = true);

    bool aligned() const { return aligned_; }

    void encodeSingleBit(bool bit);
    // The low n bits of value, 0 <= n <= 32.
    void encodeMultiBit(unsigned value, unsigned n);
    void byteAlign();
    // The first n bits of a packed bit map (bit 0 the top bit of octet 0), not aligned.
    void encodeBitMap(std::vector<char> const& map, unsigned n);
    // A normally small non-negative whole number.
    void encodeSmallUnsigned(unsigned value);
    // A constrained whole number in lb..ub (modulo 2^32, so a lower bound stored as a
    // negative number works); false when the value lies outside.
    bool encodeUnsigned(unsigned value, unsigned lb, unsigned ub);
    // A length determinant in lb..ub; ub 2147483647 means no upper bound. False outside
    // the bounds, and for 16384 or more in the unconstrained form.
    bool encodeLength(unsigned length, unsigned lb, unsigned ub);
    // A size under the value's size constraint.
    bool encodeConstrainedLength(ConstrainedObject const& object, unsigned length);
    // Writes the extension bit of an extensible constraint; true when the unconstrained
    // form is to be used.
    bool encodeConstraint(ConstrainedObject const& object, unsigned value);
    // n octets, aligned; n = 0 writes nothing.
    void encodeBlock(char const* data, unsigned n);
    // An open type: the value encoded on its own (aligned), then its octet count and the
    // octets. False when the value fails or its encoding is 16384 octets or longer.
    bool encodeAnyType(AbstractData const* value);

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
    bool preVisitExtensions(SEQUENCE const& value) override;
    bool visitKnownExtension(SEQUENCE const& value, int index) override;

private:
    // The contents octets of an open type: the value's own encoding, or 0x00 when empty.
    bool encodeOpenContents(std::vector<char> const& octets);

    std::vector<char>& output_;
    std::uint16_t bitsLeft_ = 8;  // free bits in the last octet; 8: the next bit starts one
    bool aligned_;
};

}  // namespace ASN1
