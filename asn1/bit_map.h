#pragma once

#include <vector>

namespace ASN1 {

// `count` bits packed in (count + 7) / 8 bytes: bit i is bit 7 - i % 8 of byte i / 8, so the
// first bit is the most significant bit of the first byte. Bits at or beyond the count read
// as 0 and cannot be set. The layout of a SEQUENCE's presence maps and of a BIT STRING.
class BitMap {
public:
    BitMap() = default;
    explicit BitMap(unsigned count) { resize(count); }

    unsigned size() const { return count_; }
    // New bits are 0; bits dropped by shrinking are cleared, so growing brings zeros.
    void resize(unsigned count);
    bool operator[](unsigned index) const;
    void set(unsigned index);
    void clear(unsigned index);
    // Some bit is set.
    bool any() const;
    // The packed bytes, for the coders; (size() + 7) / 8 of them.
    std::vector<char> const& bytes() const { return bytes_; }
    std::vector<char>& bytes() { return bytes_; }
    void swap(BitMap& other);

private:
    unsigned count_ = 0;
    std::vector<char> bytes_;
};

}  // namespace ASN1
