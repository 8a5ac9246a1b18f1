#pragma once

#include <memory>

#include "asn1/abstract_data.h"

namespace ASN1 {

// CHOICE: the selected alternative (owned, may be null) and its index among the type's
// alternatives (roots first, then the known extension alternatives), or -1 (nothing
// selected, the state of a new value) or -2 (an alternative the type does not list, or one
// that could not be made).
//
// Everything indexed by the selection (names, tags, records) is checked against the type.
class CHOICE : public Concrete<CHOICE, AbstractData> {
public:
    using InfoType = ChoiceInfo;

    static constexpr int noSelection = -1;
    static constexpr int unknownSelection = -2;

    // Takes ownership of the value.
    explicit CHOICE(void const* info, int selection = noSelection, AbstractData* value = nullptr);
    // Same record, a clone of the value, the same selection.
    CHOICE(CHOICE const& other);
    // Replaces value and selection by copies of the other's (a value of the same type).
    CHOICE& operator=(CHOICE const& other);
    void swap(CHOICE& other);

    // Nothing selected.
    static AbstractData* create(void const* info);

    InfoType const* info() const { return infoAs<ChoiceInfo>(); }
    bool extendable() const { return info()->extendable; }
    unsigned getNumChoices() const { return info()->numChoices; }

    int currentSelection() const { return selection_; }
    AbstractData* getSelection() { return value_.get(); }
    AbstractData const* getSelection() const { return value_.get(); }
    // Stores the index as given, takes ownership of the value (deleting the one held, unless
    // it is the same) and returns it.
    AbstractData* setSelection(int index, AbstractData* value);
    // Keeps everything when `index` is already selected; otherwise selects it and makes a
    // fresh value (createSelection).
    bool select(int index);
    // Makes a fresh value for the current selection when the type lists it; otherwise the
    // selection becomes unknown (-2) with no value, and the result is false.
    bool createSelection();
    bool isUnknownSelection() const { return selection_ == unknownSelection; }

    // The selected alternative's name; null when the selection is not one the type lists.
    char const* getSelectionName() const;
    // The selected alternative's tag word: context-specific with the index under automatic
    // tags, else the tag table's entry for a root alternative; 0 when there is none.
    int getSelectionTag() const;
    // Selects the alternative carrying the tag (BER): false when none does (then unknown).
    bool setID(unsigned tagNumber, unsigned tagClass);

    // A selected value that is valid, in a root alternative or, when the type is
    // extensible, an extension one. Strictly: a root alternative, strictly valid.
    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    int do_compare(AbstractData const& other) const override;

private:
    bool listed(int index) const { return index >= 0 && static_cast<unsigned>(index) < info()->numKnownChoices; }

    std::unique_ptr<AbstractData> value_;
    int selection_;
};

}  // namespace ASN1
