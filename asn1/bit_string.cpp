#include "asn1/bit_string.h"

#include <algorithm>

#include <boost/polymorphic_cast.hpp>


namespace ASN1 {

BIT_STRING::InfoType const BIT_STRING::theInfo = {{&BIT_STRING::create, 3}, Unconstrained, 0, 4294967295u};

AbstractData* BIT_STRING::create(void const* info) { return new BIT_STRING(info); }

void BIT_STRING::resize(unsigned bits) {
    octets_.resize((static_cast<std::size_t>(bits) + 7) / 8, 0);
    bits_ = bits;
    if (bits % 8) octets_.back() = static_cast<char>(octets_.back() & (0xFF00 >> (bits % 8)));
}

bool BIT_STRING::operator[](unsigned index) const {
    if (index >= bits_) return false;
    return (static_cast<unsigned char>(octets_[index / 8]) >> (7 - index % 8)) & 1;
}

int BIT_STRING::do_compare(AbstractData const& other) const {
    auto const& that = *boost::polymorphic_downcast<BIT_STRING const*>(&other);
    std::size_t const common = std::min(octets_.size(), that.octets_.size());
    for (std::size_t i = 0; i < common; ++i) {
        int const a = static_cast<unsigned char>(octets_[i]);
        int const b = static_cast<unsigned char>(that.octets_[i]);
        if (a != b) return a - b;
    }
    return detail::difference(bits_, that.bits_);
}

}  // namespace ASN1
