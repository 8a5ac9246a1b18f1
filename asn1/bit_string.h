#pragma once

#include <vector>

#include "asn1/abstract_data.h"
#include "asn1/bit_map.h"

namespace ASN1 {

// BIT STRING: a number of bits packed in (number + 7) / 8 octets; bit i is bit 7 - i % 8 of
// octet i / 8 (bit 0 is the most significant bit of the first octet).
class BIT_STRING : public Concrete<BIT_STRING, ConstrainedObject> {
public:
    static InfoType const theInfo;

    explicit BIT_STRING(void const* info = &theInfo) : Concrete(info) {}
    BIT_STRING(BIT_STRING const&) = default;
    BIT_STRING& operator=(BIT_STRING const&) = default;

    static AbstractData* create(void const* info);

    unsigned size() const { return bits_.size(); }
    // Sets the number of bits; added bits are 0, and so are the bits dropped from the last
    // octet on shrinking (growing again brings back zeros).
    void resize(unsigned bits) { bits_.resize(bits); }
    // False for an index at or beyond the size.
    bool operator[](unsigned index) const { return bits_[index]; }
    std::vector<char> const& getData() const { return bits_.bytes(); }
    // The octets, for the decoders to fill in place after `resize`.
    std::vector<char>& getData() { return bits_.bytes(); }

    bool isStrictlyValid() const { return sizeWithinLimits(size()); }
    bool isValid() const { return sizeValid(size(), true); }

protected:
    int do_compare(AbstractData const& other) const override;

private:
    BitMap bits_;
};

}  // namespace ASN1
