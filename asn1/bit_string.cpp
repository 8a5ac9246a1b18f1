#include "asn1/bit_string.h"

#include <algorithm>

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

BIT_STRING::InfoType const BIT_STRING::theInfo = {{&BIT_STRING::create, 3}, Unconstrained, 0, 4294967295u};

AbstractData* BIT_STRING::create(void const* info) { return new BIT_STRING(info); }

int BIT_STRING::do_compare(AbstractData const& other) const {
    auto const& that = *boost::polymorphic_downcast<BIT_STRING const*>(&other);
    std::vector<char> const& mine = getData();
    std::vector<char> const& theirs = that.getData();
    // The octets both have decide first, then the number of bits.
    std::size_t const common = std::min(mine.size(), theirs.size());
    if (int const result = lexicographic_compare_bytes(mine.data(), mine.data() + common, theirs.data(),
                                                       theirs.data() + common))
        return result;
    return detail::difference(size(), that.size());
}

}  // namespace ASN1
