#include "asn1/sequence.h"

#include <cassert>

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

unsigned const SEQUENCE::defaultTag = 0;

SEQUENCE::FieldVector::FieldVector(FieldVector const& other) : fields_(other.fields_.size()) {
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (other.fields_[i]) fields_[i].reset(other.fields_[i]->clone());
}

SEQUENCE::FieldVector& SEQUENCE::FieldVector::operator=(FieldVector const& other) {
    return detail::assignCopy(*this, other);
}

SEQUENCE::SEQUENCE(void const* info)
    : Concrete(info),
      fields_(infoAs<SequenceInfo>()->numFields + infoAs<SequenceInfo>()->knownExtensions),
      optionalMap_(infoAs<SequenceInfo>()->numOptional) {
    InfoType const& type = *this->info();
    for (unsigned i = 0; i < type.numFields; ++i)
        if (type.fieldIds[i] == -1) fields_.reset(i, AbstractData::create(type.fieldInfos[i]));
    if (type.extensionPreset && type.knownExtensions) {
        extensionMap_.resize(type.knownExtensions);
        for (unsigned k = 0; k < type.knownExtensions; ++k) {
            if (!((static_cast<unsigned char>(type.extensionPreset[k / 8]) >> (7 - k % 8)) & 1)) continue;
            extensionMap_.set(k);
            fields_.reset(type.numFields + k, AbstractData::create(type.fieldInfos[type.numFields + k]));
        }
    }
}

SEQUENCE::SEQUENCE(SEQUENCE const& other) = default;

SEQUENCE& SEQUENCE::operator=(SEQUENCE const& other) {
    assert(info() == other.info() && "assignment between SEQUENCEs of different types");
    return detail::assignCopy(*this, other);
}

void SEQUENCE::swap(SEQUENCE& other) {
    fields_.swap(other.fields_);
    optionalMap_.swap(other.optionalMap_);
    extensionMap_.swap(other.extensionMap_);
}

AbstractData* SEQUENCE::create(void const* info) { return new SEQUENCE(info); }

AbstractData* SEQUENCE::ensureField(unsigned index) {
    if (index >= fields_.size()) return nullptr;
    if (!fields_.get(index)) fields_.reset(index, AbstractData::create(info()->fieldInfos[index]));
    return fields_.get(index);
}

char const* SEQUENCE::getFieldName(int index) const {
    if (index < 0 || static_cast<unsigned>(index) >= fields_.size() || !info()->fieldNames) return nullptr;
    return info()->fieldNames[index];
}

bool SEQUENCE::hasOptionalField(unsigned presence) const {
    if (presence < optionalMap_.size()) return optionalMap_[presence];
    return extensionMap_[presence - optionalMap_.size()];
}

void SEQUENCE::includeOptionalField(unsigned presence, unsigned index) {
    if (presence < optionalMap_.size()) {
        optionalMap_.set(presence);
    } else {
        unsigned const extension = presence - optionalMap_.size();
        if (extension >= extensionMap_.size() && extension < info()->knownExtensions)
            extensionMap_.resize(extension + 1);
        extensionMap_.set(extension);
    }
    ensureField(index);
}

void SEQUENCE::removeOptionalField(unsigned presence) {
    if (presence < optionalMap_.size())
        optionalMap_.clear(presence);
    else
        extensionMap_.clear(presence - optionalMap_.size());
}

int SEQUENCE::tagMode() const {
    unsigned const* const tags = info()->tags;
    if (!tags) return 0;
    return tags == &defaultTag ? 2 : 1;
}

int SEQUENCE::getFieldTag(int index) const {
    if (index < 0 || static_cast<unsigned>(index) >= fields_.size()) return 0;
    switch (tagMode()) {
    case 0:
        return static_cast<int>(ContextSpecificTagClass | static_cast<unsigned>(index));
    case 2:
        return static_cast<int>(static_cast<AbstractInfo const*>(info()->fieldInfos[index])->tag);
    default:
        return static_cast<int>(info()->tags[index]);
    }
}

int SEQUENCE::do_compare(AbstractData const& other) const {
    auto const& that = *boost::polymorphic_downcast<SEQUENCE const*>(&other);
    InfoType const& type = *info();
    // Present in both, or mandatory: the fields decide; otherwise presence does.
    auto compareField = [&](unsigned index, int presence) {
        if (presence != -1) {
            int const mine = hasOptionalField(static_cast<unsigned>(presence));
            int const theirs = that.hasOptionalField(static_cast<unsigned>(presence));
            if (!mine || !theirs) return mine - theirs;
        }
        return detail::compareComponents(getField(index), that.getField(index));
    };
    int lastOptional = -1;
    for (unsigned i = 0; i < type.numFields; ++i) {
        int const presence = type.fieldIds[i];
        if (int const result = compareField(i, presence)) return result;
        if (presence != -1) lastOptional = presence;
    }
    for (unsigned i = type.numFields; i < fields_.size(); ++i)
        if (int const result = compareField(i, ++lastOptional)) return result;
    return 0;
}

}  // namespace ASN1
