#pragma once

#include <ctime>
#include <string>

#include "asn1/abstract_data.h"

namespace ASN1 {

// GeneralizedTime: calendar fields, milliseconds, the offset from UTC in minutes and the
// UTC flag ("Z").
class GeneralizedTime : public Concrete<GeneralizedTime, AbstractData> {
public:
    static InfoType const theInfo;

    // 0001-01-01 00:00:00, no offset, not UTC.
    GeneralizedTime() : Concrete(&theInfo) {}
    explicit GeneralizedTime(void const* info) : Concrete(info) {}
    // The defaults, then `set(text)`.
    explicit GeneralizedTime(char const* text);
    GeneralizedTime(int year, int month, int day, int hour, int minute, int second, int millisec,
                    int mindiff, bool utc);
    GeneralizedTime(GeneralizedTime const&) = default;
    // Copies the fields, not the record.
    GeneralizedTime& operator=(GeneralizedTime const&) = default;
    void swap(GeneralizedTime& other);

    static AbstractData* create(void const* info);

    // Reads the text form "YYYYMMDDhhmmss[.fff][Z|+hhmm|-hhmm]"; fields the text does not
    // reach keep their values. The fraction is read as decimal digits (milliseconds,
    // truncated).
    void set(char const* text);
    // The text form: the six fields run together, ".fff" when millisec is not 0, then "Z"
    // when UTC, else the signed offset "+hhmm" / "-hhmm" when it is not 0.
    std::string get() const;

    // The calendar fields read as local time.
    std::time_t get_time_t() const;
    // The calendar fields of a time broken down as UTC; the rest unchanged.
    void set_time_t(std::time_t time);

    bool isStrictlyValid() const;
    bool isValid() const { return isStrictlyValid(); }

protected:
    int do_compare(AbstractData const& other) const override;

private:
    int year_ = 1;
    int month_ = 1;
    int day_ = 1;
    int hour_ = 0;
    int minute_ = 0;
    int second_ = 0;
    int millisec_ = 0;
    int mindiff_ = 0;
    bool utc_ = false;
};

}  // namespace ASN1
