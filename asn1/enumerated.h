#pragma once

#include <string>
#include <string_view>

#include "asn1/abstract_data.h"

namespace ASN1 {

// ENUMERATED: the declared number of an item (not its position among the names). Setters
// store any number; the names and the maximum come from the record.
class ENUMERATED : public Concrete<ENUMERATED, AbstractData> {
public:
    using InfoType = EnumeratedInfo;

    explicit ENUMERATED(void const* info) : Concrete(info) {}
    ENUMERATED(ENUMERATED const&) = default;
    // Copies the value only; this value keeps its record.
    ENUMERATED& operator=(ENUMERATED const&) = default;

    static AbstractData* create(void const* info);

    int asInt() const { return value_; }
    void setFromInt(int value) { value_ = value; }
    int getMaximum() const { return infoAs<EnumeratedInfo>()->maximum; }
    bool extendable() const { return infoAs<EnumeratedInfo>()->extendable; }

    // The identifier of the first item declared with the value (without "=" and number);
    // empty when no item has it. A view into the record: it lives as long as the program.
    std::string_view getName() const;
    // Stores the value of the first item whose identifier is exactly `name` and returns
    // true; otherwise stores maximum + 1 and returns false.
    bool setFromName(std::string const& name);

    // The value is one that an item declares.
    bool isStrictlyValid() const;
    // Any value of an extensible type; otherwise strictly valid.
    bool isValid() const;

protected:
    int do_compare(AbstractData const& other) const override;

private:
    int value_ = 0;
};

}  // namespace ASN1
