#include "asn1/sequence_of.h"

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

SEQUENCE_OF_Base::SEQUENCE_OF_Base(SEQUENCE_OF_Base const& other) : Concrete(other) {
    insert(elements_.end(), other.begin(), other.end());
}

SEQUENCE_OF_Base& SEQUENCE_OF_Base::operator=(SEQUENCE_OF_Base const& other) {
    if (this != &other) {
        Container copies;
        copies.reserve(other.elements_.size());
        for (auto const& element : other.elements_) copies.emplace_back(element->clone());
        elements_.swap(copies);
    }
    return *this;
}

AbstractData* SEQUENCE_OF_Base::create(void const* info) { return new SEQUENCE_OF_Base(info); }

void SEQUENCE_OF_Base::resize(unsigned count) {
    if (elements_.size() > count) {
        elements_.resize(count);
        return;
    }
    elements_.reserve(count);
    while (elements_.size() < count) {
        std::unique_ptr<AbstractData> element(createElement());
        if (!element) return;
        elements_.push_back(std::move(element));
    }
}

void SEQUENCE_OF_Base::push_back(AbstractData* element) {
    if (element) elements_.emplace_back(element);
}

void SEQUENCE_OF_Base::insert(iterator position, unsigned count, AbstractData const& prototype) {
    Container clones;
    clones.reserve(count);
    create_from0 const make(prototype);
    for (unsigned i = 0; i < count; ++i) clones.emplace_back(make());
    elements_.insert(position, std::make_move_iterator(clones.begin()), std::make_move_iterator(clones.end()));
}

void SEQUENCE_OF_Base::insert(iterator position, const_iterator first, const_iterator last) {
    Container clones;
    clones.reserve(static_cast<std::size_t>(last - first));
    create_from_ptr const make;
    for (; first != last; ++first) clones.emplace_back(make(first->get()));
    elements_.insert(position, std::make_move_iterator(clones.begin()), std::make_move_iterator(clones.end()));
}

int SEQUENCE_OF_Base::do_compare(AbstractData const& other) const {
    auto const& that = *boost::polymorphic_downcast<SEQUENCE_OF_Base const*>(&other);
    std::size_t const common = std::min(elements_.size(), that.elements_.size());
    for (std::size_t i = 0; i < common; ++i)
        if (int const result = elements_[i]->compare(*that.elements_[i])) return result;
    return detail::difference(static_cast<std::int64_t>(elements_.size()), static_cast<std::int64_t>(that.elements_.size()));
}

}  // namespace ASN1
