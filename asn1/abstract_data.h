#pragma once

// The base of every ASN.1 value, the base of the constrained kinds, and the helpers that
// every value class uses.

#include <cstddef>
#include <cstdint>
#include <ios>
#include <iosfwd>
#include <string>

#include "asn1/type_info.h"
#include "asn1/visitor.h"

namespace ASN1 {

// Decoder limits: the largest string size (bits, octets or characters) and the most
// SEQUENCE OF elements or SEQUENCE extension bits a decoded value may have.
constexpr unsigned MaximumStringSize = 16384;
constexpr unsigned MaximumArraySize = 128;

// A value of an ASN.1 type. It holds the pointer to its type-information record, set at
// construction and never changed (assignment copies contents, never records).
class AbstractData {
public:
    using InfoType = AbstractInfo;

    virtual ~AbstractData() = default;

    // A new value made by the record's factory, owned by the caller; null for a null record.
    static AbstractData* create(void const* info);

    // 0 when equal; otherwise the sign tells the order. `other` must be of the same class
    // and type.
    int compare(AbstractData const& other) const { return do_compare(other); }
    bool operator==(AbstractData const& other) const { return compare(other) == 0; }
    bool operator!=(AbstractData const& other) const { return compare(other) != 0; }

    // A deep copy of the same class and record, owned by the caller.
    AbstractData* clone() const { return do_clone(); }

    // Every component within its type's constraints, extensions admitted; strictly: within
    // the roots of the constraints (valid_checker.cpp). Value classes with tests of their
    // own hide these with the same answers.
    bool isValid() const;
    bool isStrictlyValid() const;

    bool accept(Visitor& visitor) { return do_accept(visitor); }
    bool accept(ConstVisitor& visitor) const { return do_accept(visitor); }

    // Value notation (value_notation.cpp). print_on prints the value and answers the stream
    // state to add: goodbit, or failbit when the value cannot be printed (what was printed
    // stays). asValueNotation returns the printed text, also when printing failed part way.
    std::ios_base::iostate print_on(std::ostream& out) const;
    std::string asValueNotation() const;
    // Parses the value from the text; goodbit or failbit. What was filled in before a
    // failure stays.
    std::ios_base::iostate get_from(std::istream& in);
    bool setFromValueNotation(std::string const& text);

    void const* info() const { return info_; }
    int getTag() const { return static_cast<int>(static_cast<AbstractInfo const*>(info_)->tag); }

protected:
    explicit AbstractData(void const* info) : info_(info) {}
    AbstractData(AbstractData const&) = default;
    AbstractData& operator=(AbstractData const&) { return *this; }

    template <class Info>
    Info const* infoAs() const { return static_cast<Info const*>(info_); }

    virtual int do_compare(AbstractData const& other) const = 0;
    virtual AbstractData* do_clone() const = 0;
    virtual bool do_accept(Visitor& visitor) = 0;
    virtual bool do_accept(ConstVisitor& visitor) const = 0;

private:
    void const* const info_;
};

// Base of the kinds whose record begins with a constraint part (INTEGER, the strings,
// SEQUENCE OF).
class ConstrainedObject : public AbstractData {
public:
    using InfoType = ConstrainedInfo;

    ConstraintType getConstraintType() const { return constraint().constraintType; }
    int getLowerLimit() const { return constraint().lowerLimit; }
    unsigned getUpperLimit() const { return constraint().upperLimit; }
    bool constrained() const { return getConstraintType() != Unconstrained; }
    bool extendable() const { return getConstraintType() == ExtendableConstraint; }

protected:
    explicit ConstrainedObject(void const* info) : AbstractData(info) {}
    ConstrainedObject(ConstrainedObject const&) = default;
    ConstrainedObject& operator=(ConstrainedObject const&) = default;

    ConstrainedInfo const& constraint() const { return *infoAs<ConstrainedInfo>(); }
    // lower <= size <= upper, with the size and the lower limit read as unsigned numbers.
    bool sizeWithinLimits(std::size_t size) const;
    // The size test of `isValid`: the lower limit always; the upper one only for a fixed
    // constraint when `upperOnlyWhenFixed`, otherwise for every constraint but an extensible
    // one.
    bool sizeValid(std::size_t size, bool upperOnlyWhenFixed) const;
};

// Implements the copy and visit slots of a concrete value class Derived on its base: a
// clone is a Derived (same record, same contents) and a visitor sees a Derived. Every value
// class of the run-time and every generated message class derives through it.
//
// The virtual members are defined out of the class, so that an explicit instantiation
// declaration (`extern template class Concrete<D, B>;`, as the generated headers make for
// their classes) keeps every other file from instantiating them.
template <class Derived, class Base>
class Concrete : public Base {
public:
    // The typed copy: a new Derived owned by the caller.
    Derived* clone() const { return static_cast<Derived*>(this->do_clone()); }
    ~Concrete() override;

protected:
    using Base::Base;

    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;
};

template <class Derived, class Base>
Concrete<Derived, Base>::~Concrete() = default;

template <class Derived, class Base>
AbstractData* Concrete<Derived, Base>::do_clone() const {
    return new Derived(static_cast<Derived const&>(*this));
}

template <class Derived, class Base>
bool Concrete<Derived, Base>::do_accept(Visitor& visitor) {
    return visitor.visit(static_cast<Derived&>(*this));
}

template <class Derived, class Base>
bool Concrete<Derived, Base>::do_accept(ConstVisitor& visitor) const {
    return visitor.visit(static_cast<Derived const&>(*this));
}

// The factory a record names for a class whose values are always bound to the class's own
// record `T::theInfo`: the generated message classes, the Constrained_INTEGER instances and
// the SEQUENCE OF instances. Values made from the record then really are of class T, so the
// typed accessors of the generated classes may view them as T.
template <class T>
AbstractData* createValue(void const*) {
    return new T();
}

// The number of bits a PER bit-field needs to number n values: 32 for n = 0, otherwise the
// least b in 0..31 with 2^b >= n, and 32 above 2^31.
unsigned CountBits(unsigned n);

// Compares two octet ranges: the first differing octets' difference (as unsigned octets),
// or -1 / 1 when one range is a prefix of the other, 0 when equal.
int lexicographic_compare_bytes(char const* begin1, char const* end1, char const* begin2,
                                char const* end2);

namespace detail {

// a - b as a comparison result: the exact difference when it fits an int, otherwise the
// int of the same sign nearest to it (so the sign of a comparison never wraps).
int difference(std::int64_t a, std::int64_t b);

// Copy assignment by copy and swap: `self` becomes a copy of `other` (which may be itself).
template <class T>
T& assignCopy(T& self, T const& other) {
    if (&self != &other) {
        T copy(other);
        self.swap(copy);
    }
    return self;
}

// Compares two components that may be missing; a missing one sorts first.
int compareComponents(AbstractData const* a, AbstractData const* b);

}  // namespace detail

}  // namespace ASN1
