#pragma once

#include <string>

#include "asn1/abstract_data.h"

namespace ASN1 {

// INTEGER: one 32-bit two's-complement value, constrained by its record. Setters store any
// value; only the validity tests and the coders look at the range.
class INTEGER : public Concrete<INTEGER, ConstrainedObject> {
public:
    static InfoType const theInfo;

    explicit INTEGER(void const* info = &theInfo) : Concrete(info) {}
    explicit INTEGER(int value, void const* info = &theInfo) : Concrete(info), value_(value) {}
    INTEGER(INTEGER const&) = default;
    INTEGER& operator=(INTEGER const&) = default;

    static AbstractData* create(void const* info);

    int getValue() const { return value_; }
    void setValue(int value) { value_ = value; }
    INTEGER& operator=(int value) {
        value_ = value;
        return *this;
    }
    // Compares the values only, not the records.
    bool operator==(INTEGER const& other) const { return value_ == other.value_; }
    bool operator!=(INTEGER const& other) const { return value_ != other.value_; }
    using AbstractData::operator==;
    using AbstractData::operator!=;

    // Whether the stored bits are read as an unsigned number: a range that starts at 0 or
    // above (such as 0..4294967295); otherwise they are a signed number.
    bool isUnsigned() const { return constrained() && getLowerLimit() >= 0; }
    // The number the value stands for, as its type reads the stored bits.
    long long number() const {
        return isUnsigned() ? static_cast<long long>(static_cast<unsigned>(value_)) : static_cast<long long>(value_);
    }

    // Within lower..upper: read as unsigned numbers when the lower limit is not negative,
    // as signed ones otherwise. Unconstrained: always; lower bound only: that bound.
    bool isStrictValid() const;
    // Strictly valid, or any value of an extensible constraint.
    bool isValid() const;

protected:
    int do_compare(AbstractData const& other) const override;

private:
    int value_ = 0;
};

// An INTEGER with a range fixed by the template; one record per instance. Its value is read
// and written as an unsigned number (ranges of the system reach 4294967295).
template <ConstraintType type, int lower, unsigned upper>
class Constrained_INTEGER : public Concrete<Constrained_INTEGER<type, lower, upper>, INTEGER> {
    using Base = Concrete<Constrained_INTEGER<type, lower, upper>, INTEGER>;

public:
    using InfoType = INTEGER::InfoType;
    static constexpr InfoType theInfo = {{&createValue<Constrained_INTEGER>, 2}, type, lower, upper};

    Constrained_INTEGER() : Base(&theInfo) {}
    explicit Constrained_INTEGER(unsigned value) : Base(static_cast<int>(value), &theInfo) {}
    Constrained_INTEGER(Constrained_INTEGER const&) = default;
    Constrained_INTEGER& operator=(Constrained_INTEGER const&) = default;

    unsigned getValue() const { return static_cast<unsigned>(INTEGER::getValue()); }
    Constrained_INTEGER& operator=(unsigned value) {
        this->setValue(static_cast<int>(value));
        return *this;
    }
};

inline unsigned operator+(unsigned n, Constrained_INTEGER<FixedConstraint, 0, 127> const& value) {
    return n + value.getValue();
}

// An INTEGER whose record names some of its values; it prints and parses by name.
class IntegerWithNamedNumber : public Concrete<IntegerWithNamedNumber, INTEGER> {
public:
    using InfoType = NamedIntegerInfo;
    using NameEntry = ASN1::NameEntry;
    // Orders the sorted name table against a value.
    struct NameEntryCmp {
        bool operator()(NameEntry const& entry, int value) const { return entry.value < value; }
    };

    explicit IntegerWithNamedNumber(void const* info) : Concrete(info) {}
    IntegerWithNamedNumber(int value, void const* info) : Concrete(value, info) {}
    IntegerWithNamedNumber(IntegerWithNamedNumber const&) = default;
    IntegerWithNamedNumber& operator=(IntegerWithNamedNumber const&) = default;
    using INTEGER::operator=;

    static AbstractData* create(void const* info);

    // The name of the value: true and `name` set, or false with `name` unchanged.
    bool getName(std::string& name) const;
    // Stores the value of the first entry named exactly `name`; false (value unchanged)
    // when there is none.
    bool setFromName(std::string const& name);
};

}  // namespace ASN1
