#pragma once

#include <cassert>
#include <memory>
#include <vector>

#include <boost/iterator/iterator_adaptor.hpp>

#include "asn1/abstract_data.h"

namespace ASN1 {

// SEQUENCE OF (and SET OF): owned elements in order; none of them is null. The element
// type comes from the record.
class SEQUENCE_OF_Base : public Concrete<SEQUENCE_OF_Base, ConstrainedObject> {
public:
    using InfoType = SequenceOfInfo;
    using Container = std::vector<std::unique_ptr<AbstractData>>;
    using iterator = Container::iterator;
    using const_iterator = Container::const_iterator;

    // Makes a clone of a prototype on each call.
    class create_from0 {
    public:
        explicit create_from0(AbstractData const& prototype) : prototype_(prototype) {}
        AbstractData* operator()() const { return prototype_.clone(); }

    private:
        AbstractData const& prototype_;
    };
    // Makes a clone of the value it is called with.
    struct create_from_ptr {
        AbstractData* operator()(AbstractData const* value) const { return value->clone(); }
    };

    explicit SEQUENCE_OF_Base(void const* info) : Concrete(info) {}
    // Same record, a clone of each element in order.
    SEQUENCE_OF_Base(SEQUENCE_OF_Base const& other);
    // Replaces the elements by clones of the other's.
    SEQUENCE_OF_Base& operator=(SEQUENCE_OF_Base const& other);
    ~SEQUENCE_OF_Base() override { clear(); }

    static AbstractData* create(void const* info);

    InfoType const* info() const { return infoAs<SequenceOfInfo>(); }

    unsigned size() const { return static_cast<unsigned>(elements_.size()); }
    bool empty() const { return elements_.empty(); }
    iterator begin() { return elements_.begin(); }
    iterator end() { return elements_.end(); }
    const_iterator begin() const { return elements_.begin(); }
    const_iterator end() const { return elements_.end(); }

    void reserve(unsigned count) { elements_.reserve(count); }
    // Shrinks by deleting the elements from `count` on, or grows with new elements made
    // from the element record (stopping early should the record make nothing).
    void resize(unsigned count);
    void clear() { elements_.clear(); }
    // Takes ownership; a null element is not added.
    void push_back(AbstractData* element);
    // Inserts `count` clones of the prototype before `position`.
    void insert(iterator position, unsigned count, AbstractData const& prototype);
    // Inserts clones of the elements [first, last) before `position`.
    void insert(iterator position, const_iterator first, const_iterator last);
    // Deletes the elements [first, last); returns the position after them.
    iterator erase(iterator first, iterator last) { return elements_.erase(first, last); }

    // A new value of the element type, owned by the caller.
    AbstractData* createElement() const { return AbstractData::create(info()->elementInfo); }

    // At least the lower limit of elements, at most the upper one unless the constraint is
    // extensible, every element valid. Strictly: within both limits, every element
    // strictly valid.
    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    int do_compare(AbstractData const& other) const override;

private:
    Container elements_;
};

// The size constraint of every list type of the system: none.
struct EmptyConstraint {
    static constexpr ConstraintType type = Unconstrained;
    static constexpr int lowerLimit = 0;
    static constexpr unsigned upperLimit = 4294967295u;
};

// A typed list of T; one record per instance. T provides `theInfo` and a `clone()` that
// returns its own class.
template <class T, class Constraint = EmptyConstraint>
class SEQUENCE_OF : public Concrete<SEQUENCE_OF<T, Constraint>, SEQUENCE_OF_Base> {
    using Base = Concrete<SEQUENCE_OF<T, Constraint>, SEQUENCE_OF_Base>;

public:
    using InfoType = SEQUENCE_OF_Base::InfoType;
    static constexpr InfoType theInfo = {
        {{&createValue<SEQUENCE_OF>, 16}, Constraint::type, Constraint::lowerLimit, Constraint::upperLimit},
        &T::theInfo};

    class iterator : public boost::iterator_adaptor<iterator, SEQUENCE_OF_Base::iterator, T> {
    public:
        iterator() = default;
        explicit iterator(SEQUENCE_OF_Base::iterator position) : iterator::iterator_adaptor_(position) {}

    private:
        friend class boost::iterator_core_access;
        T& dereference() const { return static_cast<T&>(**this->base()); }
    };

    class const_iterator
        : public boost::iterator_adaptor<const_iterator, SEQUENCE_OF_Base::const_iterator, T const> {
    public:
        const_iterator() = default;
        explicit const_iterator(SEQUENCE_OF_Base::const_iterator position)
            : const_iterator::iterator_adaptor_(position) {}
        const_iterator(iterator position) : const_iterator::iterator_adaptor_(position.base()) {}

    private:
        friend class boost::iterator_core_access;
        T const& dereference() const { return static_cast<T const&>(**this->base()); }
    };

    SEQUENCE_OF() : Base(&theInfo) {}
    SEQUENCE_OF(SEQUENCE_OF const&) = default;
    SEQUENCE_OF& operator=(SEQUENCE_OF const&) = default;

    using SEQUENCE_OF_Base::push_back;
    // Appends a clone of the element.
    void push_back(T const& element) { SEQUENCE_OF_Base::push_back(element.clone()); }

    T const& operator[](unsigned index) const {
        assert(index < this->size());
        return static_cast<T const&>(**(SEQUENCE_OF_Base::begin() + index));
    }

    iterator begin() { return iterator(SEQUENCE_OF_Base::begin()); }
    iterator end() { return iterator(SEQUENCE_OF_Base::end()); }
    const_iterator begin() const { return const_iterator(SEQUENCE_OF_Base::begin()); }
    const_iterator end() const { return const_iterator(SEQUENCE_OF_Base::end()); }

    using SEQUENCE_OF_Base::erase;
    // Deletes the element at the position.
    void clean(iterator position) { position.base()->reset(); }
    // Deletes the element and removes its slot; returns the position of the next element.
    iterator erase(iterator position) {
        clean(position);
        return iterator(SEQUENCE_OF_Base::erase(position.base(), position.base() + 1));
    }

protected:
    explicit SEQUENCE_OF(void const* info) : Base(info) {}
};

// SET OF: a SEQUENCE OF with the universal tag 17.
template <class T, class Constraint = EmptyConstraint>
class SET_OF : public Concrete<SET_OF<T, Constraint>, SEQUENCE_OF<T, Constraint>> {
    using Base = Concrete<SET_OF<T, Constraint>, SEQUENCE_OF<T, Constraint>>;

public:
    using InfoType = SEQUENCE_OF_Base::InfoType;
    static constexpr InfoType theInfo = {
        {{&createValue<SET_OF>, 17}, Constraint::type, Constraint::lowerLimit, Constraint::upperLimit},
        &T::theInfo};

    SET_OF() : Base(&theInfo) {}
    SET_OF(SET_OF const&) = default;
    SET_OF& operator=(SET_OF const&) = default;
};

}  // namespace ASN1
