#include "asn1/bit_map.h"

#include <utility>

namespace ASN1 {

void BitMap::resize(unsigned count) {
    bytes_.resize((static_cast<std::size_t>(count) + 7) / 8, 0);
    count_ = count;
    if (count % 8) bytes_.back() = static_cast<char>(bytes_.back() & (0xFF00 >> (count % 8)));
}

bool BitMap::operator[](unsigned index) const {
    if (index >= count_) return false;
    return (static_cast<unsigned char>(bytes_[index / 8]) >> (7 - index % 8)) & 1;
}

void BitMap::set(unsigned index) {
    if (index < count_) bytes_[index / 8] = static_cast<char>(bytes_[index / 8] | (0x80 >> (index % 8)));
}

void BitMap::clear(unsigned index) {
    if (index < count_) bytes_[index / 8] = static_cast<char>(bytes_[index / 8] & ~(0x80 >> (index % 8)));
}

bool BitMap::any() const {
    for (char byte : bytes_)
        if (byte) return true;
    return false;
}

void BitMap::swap(BitMap& other) {
    std::swap(count_, other.count_);
    bytes_.swap(other.bytes_);
}

}  // namespace ASN1
