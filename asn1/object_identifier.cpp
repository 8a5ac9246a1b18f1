#include "asn1/object_identifier.h"

#include <algorithm>
#include <cstdint>

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

namespace {

void putSubidentifier(std::vector<char>& octets, std::uint64_t value) {
    unsigned groups = 1;
    while (groups < 10 && (value >> (7 * groups)) != 0) ++groups;
    while (groups-- > 1) octets.push_back(static_cast<char>(0x80 | ((value >> (7 * groups)) & 0x7F)));
    octets.push_back(static_cast<char>(value & 0x7F));
}

}  // namespace

OBJECT_IDENTIFIER::InfoType const OBJECT_IDENTIFIER::theInfo = {&OBJECT_IDENTIFIER::create, 6};

AbstractData* OBJECT_IDENTIFIER::create(void const* info) { return new OBJECT_IDENTIFIER(info); }

void OBJECT_IDENTIFIER::encodeCommon(std::vector<char>& octets) const {
    if (arcs_.size() < 2) return;
    // Computed wide: the second arc under 2 may be as large as any 32-bit arc.
    putSubidentifier(octets, std::uint64_t{arcs_[0]} * 40 + arcs_[1]);
    for (std::size_t i = 2; i < arcs_.size(); ++i) putSubidentifier(octets, arcs_[i]);
}

bool OBJECT_IDENTIFIER::decodeCommon(char const* octets, unsigned count) {
    arcs_.clear();
    std::uint64_t value = 0;
    bool inSubidentifier = false;
    for (unsigned i = 0; i < count; ++i) {
        auto const octet = static_cast<unsigned char>(octets[i]);
        value = value * 128 + (octet & 0x7F);
        // The first subidentifier carries arc 2 plus 80, the others one arc each.
        std::uint64_t const limit = arcs_.empty() ? std::uint64_t{UINT32_MAX} + 80 : UINT32_MAX;
        if (value > limit) return false;
        inSubidentifier = (octet & 0x80) != 0;
        if (inSubidentifier) continue;
        if (!arcs_.empty()) {
            arcs_.push_back(static_cast<unsigned>(value));
        } else if (value < 40) {
            arcs_ = {0, static_cast<unsigned>(value)};
        } else if (value < 80) {
            arcs_ = {1, static_cast<unsigned>(value - 40)};
        } else {
            arcs_ = {2, static_cast<unsigned>(value - 80)};
        }
        value = 0;
    }
    return !inSubidentifier;
}

int OBJECT_IDENTIFIER::do_compare(AbstractData const& other) const {
    auto const& that = *boost::polymorphic_downcast<OBJECT_IDENTIFIER const*>(&other);
    std::size_t const common = std::min(arcs_.size(), that.arcs_.size());
    for (std::size_t i = 0; i < common; ++i)
        if (arcs_[i] != that.arcs_[i]) return detail::difference(arcs_[i], that.arcs_[i]);
    return detail::difference(static_cast<std::int64_t>(arcs_.size()), static_cast<std::int64_t>(that.arcs_.size()));
}

}  // namespace ASN1
