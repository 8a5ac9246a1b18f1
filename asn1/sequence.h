#pragma once

#include <memory>
#include <vector>

#include "asn1/abstract_data.h"
#include "asn1/bit_map.h"

namespace ASN1 {

// SEQUENCE: one slot per field (roots, then the known extension additions), the
// optional-field map (one bit per OPTIONAL root field) and the extension map (one bit per
// extension addition, empty in a new value).
//
// Presence of a field is its bit, never its slot: an omitted field keeps its value in the
// slot. Presence index p: below the optional-field map's count it is that map's bit p,
// otherwise extension bit p - count. A root field's presence index is its `fieldIds` entry;
// the k-th known extension addition's is numOptional + k.
//
// Field and presence indexes are checked against the type: an index the type does not
// have reads as null / absent and changes nothing.
class SEQUENCE : public Concrete<SEQUENCE, AbstractData> {
public:
    using InfoType = SequenceInfo;

    // Its address in a record's `tags` means "each field carries its own type's tag".
    static unsigned const defaultTag;

    // Owned fields; copying clones every field that exists.
    class FieldVector {
    public:
        FieldVector() = default;
        explicit FieldVector(unsigned size) : fields_(size) {}
        FieldVector(FieldVector const& other);
        FieldVector(FieldVector&&) = default;
        FieldVector& operator=(FieldVector const& other);
        FieldVector& operator=(FieldVector&&) = default;

        unsigned size() const { return static_cast<unsigned>(fields_.size()); }
        // Null for a field never created, or an index out of range.
        AbstractData* get(unsigned index) const { return index < size() ? fields_[index].get() : nullptr; }
        // Puts a new field (owned) into a slot, deleting what was there; a field for an
        // index out of range is deleted.
        void reset(unsigned index, AbstractData* field) {
            std::unique_ptr<AbstractData> owned(field);
            if (index < size()) fields_[index] = std::move(owned);
        }
        void swap(FieldVector& other) { fields_.swap(other.fields_); }

    private:
        std::vector<std::unique_ptr<AbstractData>> fields_;
    };

    using BitMap = ASN1::BitMap;

    // Sizes the slots for the type, creates every mandatory root field (and the extension
    // additions a preset marks present).
    explicit SEQUENCE(void const* info);
    // Same record; every existing field cloned (present or not); both maps copied.
    SEQUENCE(SEQUENCE const& other);
    // Replaces fields and maps by copies of the other's (a value of the same type).
    SEQUENCE& operator=(SEQUENCE const& other);
    void swap(SEQUENCE& other);

    static AbstractData* create(void const* info);

    InfoType const* info() const { return infoAs<SequenceInfo>(); }
    bool extendable() const { return info()->extendable; }
    // Root fields plus known extension additions.
    unsigned getFieldCount() const { return fields_.size(); }

    AbstractData* getField(unsigned index) { return fields_.get(index); }
    AbstractData const* getField(unsigned index) const { return fields_.get(index); }
    // The field, created from its record when its slot is empty; null for an index the type
    // does not have. Presence bits are not touched (for the decoders).
    AbstractData* ensureField(unsigned index);
    char const* getFieldName(int index) const;

    bool hasOptionalField(unsigned presence) const;
    // Sets the presence bit (an extension bit grows the extension map up to the type's known
    // extension additions) and creates the field in its slot when it has none.
    void includeOptionalField(unsigned presence, unsigned index);
    // Clears the presence bit; the field stays in its slot.
    void removeOptionalField(unsigned presence);

    // 0: automatic tags (context-specific, the field index); 1: a tag table; 2: each field
    // its own type's tag.
    int tagMode() const;
    // The field's tag word; 0 for an index the type does not have.
    int getFieldTag(int index) const;

    BitMap const& optionalFieldMap() const { return optionalMap_; }
    BitMap& optionalFieldMap() { return optionalMap_; }
    BitMap const& extensionMap() const { return extensionMap_; }
    BitMap& extensionMap() { return extensionMap_; }

protected:
    int do_compare(AbstractData const& other) const override;

private:
    FieldVector fields_;
    BitMap optionalMap_;
    BitMap extensionMap_;
};

}  // namespace ASN1
