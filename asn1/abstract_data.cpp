#include "asn1/abstract_data.h"

namespace ASN1 {

AbstractData* AbstractData::create(void const* info) {
    if (!info) return nullptr;
    return static_cast<AbstractInfo const*>(info)->create(info);
}

bool ConstrainedObject::sizeWithinLimits(std::size_t size) const {
    return size >= static_cast<unsigned>(getLowerLimit()) && size <= getUpperLimit();
}

bool ConstrainedObject::sizeValid(std::size_t size, bool upperOnlyWhenFixed) const {
    if (size < static_cast<unsigned>(getLowerLimit())) return false;
    bool const upperApplies = upperOnlyWhenFixed ? getConstraintType() == FixedConstraint
                                                 : getConstraintType() != ExtendableConstraint;
    return !upperApplies || size <= getUpperLimit();
}

unsigned CountBits(unsigned n) {
    if (n == 0) return 32;
    for (unsigned b = 0; b < 32; ++b)
        if ((std::uint64_t{1} << b) >= n) return b;
    return 32;
}

int lexicographic_compare_bytes(char const* begin1, char const* end1, char const* begin2,
                                char const* end2) {
    for (; begin1 != end1 && begin2 != end2; ++begin1, ++begin2) {
        int const a = static_cast<unsigned char>(*begin1);
        int const b = static_cast<unsigned char>(*begin2);
        if (a != b) return a - b;
    }
    if (begin1 == end1) return begin2 == end2 ? 0 : -1;
    return 1;
}

namespace detail {

int difference(std::int64_t a, std::int64_t b) {
    std::int64_t const d = a - b;
    if (d > INT32_MAX) return INT32_MAX;
    if (d < -INT32_MAX) return -INT32_MAX;
    return static_cast<int>(d);
}

int compareComponents(AbstractData const* a, AbstractData const* b) {
    if (a && b) return a->compare(*b);
    return static_cast<int>(a != nullptr) - static_cast<int>(b != nullptr);
}

}  // namespace detail

}  // namespace ASN1
