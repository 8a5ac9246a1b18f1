#include "asn1/choice.h"

#include <algorithm>
#include <cassert>

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

CHOICE::CHOICE(void const* info, int selection, AbstractData* value)
    : Concrete(info), value_(value), selection_(selection) {}

CHOICE::CHOICE(CHOICE const& other)
    : Concrete(other), value_(other.value_ ? other.value_->clone() : nullptr), selection_(other.selection_) {}

CHOICE& CHOICE::operator=(CHOICE const& other) {
    assert(info() == other.info() && "assignment between CHOICEs of different types");
    return detail::assignCopy(*this, other);
}

void CHOICE::swap(CHOICE& other) {
    value_.swap(other.value_);
    std::swap(selection_, other.selection_);
}

AbstractData* CHOICE::create(void const* info) { return new CHOICE(info); }

AbstractData* CHOICE::setSelection(int index, AbstractData* value) {
    if (value != value_.get()) value_.reset(value);
    selection_ = index;
    return value;
}

bool CHOICE::select(int index) {
    if (index == selection_) return true;
    selection_ = index;
    return createSelection();
}

bool CHOICE::createSelection() {
    if (listed(selection_) && info()->selectionInfos[selection_]) {
        value_.reset(AbstractData::create(info()->selectionInfos[selection_]));
        return true;
    }
    selection_ = unknownSelection;
    value_.reset();
    return false;
}

char const* CHOICE::getSelectionName() const {
    if (!listed(selection_) || !info()->selectionNames) return nullptr;
    return info()->selectionNames[selection_];
}

int CHOICE::getSelectionTag() const {
    if (selection_ < 0) return 0;
    unsigned const* const tags = info()->tags;
    if (!tags) return static_cast<int>(ContextSpecificTagClass | static_cast<unsigned>(selection_));
    // The tag table covers the root alternatives only.
    if (static_cast<unsigned>(selection_) >= info()->numChoices) return 0;
    return static_cast<int>(tags[selection_]);
}

bool CHOICE::setID(unsigned tagNumber, unsigned tagClass) {
    unsigned const* const tags = info()->tags;
    if (!tags) {
        selection_ = static_cast<int>(tagNumber);
        return createSelection();
    }
    unsigned const wanted = (tagClass << 16) | tagNumber;
    unsigned const roots = info()->numChoices;
    unsigned const* const found = std::lower_bound(tags, tags + roots, wanted);
    if (found != tags + roots && *found == wanted) {
        selection_ = static_cast<int>(found - tags);
        return createSelection();
    }
    // An untagged CHOICE as the first alternative carries the tags of its own alternatives.
    if (roots > 0 && tags[0] == 0) {
        selection_ = 0;
        if (createSelection()) {
            auto* const inner = dynamic_cast<CHOICE*>(value_.get());
            if (inner && inner->setID(tagNumber, tagClass)) return true;
        }
    }
    selection_ = unknownSelection;
    value_.reset();
    return false;
}

int CHOICE::do_compare(AbstractData const& other) const {
    auto const& that = *boost::polymorphic_downcast<CHOICE const*>(&other);
    if (selection_ < 0 || selection_ != that.selection_) return detail::difference(selection_, that.selection_);
    return detail::compareComponents(value_.get(), that.value_.get());
}

}  // namespace ASN1
