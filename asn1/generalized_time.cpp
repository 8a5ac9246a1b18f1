#include "asn1/generalized_time.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

namespace {

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Reads one decimal field of at most `width` characters (sign included) after optional
// white space, as a "%<width>d" conversion does. False, with nothing consumed, when no
// digit is there.
bool scanField(char const*& text, int width, int& value) {
    char const* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    int used = 0;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
        ++used;
    }
    long number = 0;
    int digits = 0;
    for (; used < width && isDigit(*p); ++p, ++used, ++digits) number = number * 10 + (*p - '0');
    if (digits == 0) return false;
    value = static_cast<int>(negative ? -number : number);
    text = p;
    return true;
}

std::string format(char const* form, int value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, form, value);
    return buffer;
}

}  // namespace

GeneralizedTime::InfoType const GeneralizedTime::theInfo = {&GeneralizedTime::create, 24};

GeneralizedTime::GeneralizedTime(char const* text) : Concrete(&theInfo) { set(text); }

GeneralizedTime::GeneralizedTime(int year, int month, int day, int hour, int minute, int second,
                                 int millisec, int mindiff, bool utc)
    : Concrete(&theInfo),
      year_(year),
      month_(month),
      day_(day),
      hour_(hour),
      minute_(minute),
      second_(second),
      millisec_(millisec),
      mindiff_(mindiff),
      utc_(utc) {}

void GeneralizedTime::swap(GeneralizedTime& other) {
    std::swap(year_, other.year_);
    std::swap(month_, other.month_);
    std::swap(day_, other.day_);
    std::swap(hour_, other.hour_);
    std::swap(minute_, other.minute_);
    std::swap(second_, other.second_);
    std::swap(millisec_, other.millisec_);
    std::swap(mindiff_, other.mindiff_);
    std::swap(utc_, other.utc_);
}

AbstractData* GeneralizedTime::create(void const* info) { return new GeneralizedTime(info); }

void GeneralizedTime::set(char const* text) {
    if (!text) return;
    char const* p = text;
    int* const fields[] = {&year_, &month_, &day_, &hour_, &minute_, &second_};
    for (std::size_t i = 0; i < std::size(fields); ++i)
        if (!scanField(p, i == 0 ? 4 : 2, *fields[i])) break;

    std::size_t const length = std::strlen(text);
    if (length > 14 && text[14] == '.' && isDigit(text[15])) {
        // Milliseconds from the first three digits of the fraction, read as digits so that
        // ".123" is 123 exactly.
        int millisec = 0;
        char const* digit = text + 15;
        for (int place = 0; place < 3; ++place) millisec = millisec * 10 + (isDigit(*digit) ? *digit++ - '0' : 0);
        millisec_ = millisec;
    }

    if (length > 0 && text[length - 1] == 'Z') {
        utc_ = true;
    } else if (length >= 5 && (text[length - 5] == '+' || text[length - 5] == '-')) {
        char const* const zone = text + length - 4;
        if (isDigit(zone[0]) && isDigit(zone[1]) && isDigit(zone[2]) && isDigit(zone[3])) {
            int const minutes = ((zone[0] - '0') * 10 + (zone[1] - '0')) * 60 + (zone[2] - '0') * 10 + (zone[3] - '0');
            mindiff_ = text[length - 5] == '-' ? -minutes : minutes;
        }
    }
}

std::string GeneralizedTime::get() const {
    std::string text = format("%04d", year_) + format("%02d", month_) + format("%02d", day_) +
                       format("%02d", hour_) + format("%02d", minute_) + format("%02d", second_);
    if (millisec_ != 0) text += "." + format("%03d", millisec_);
    if (utc_) {
        text += "Z";
    } else if (mindiff_ != 0) {
        // The sign from the whole offset, so that -30 minutes is "-0030".
        long const magnitude = std::labs(static_cast<long>(mindiff_));
        text += mindiff_ < 0 ? "-" : "+";
        text += format("%02d", static_cast<int>(magnitude / 60)) + format("%02d", static_cast<int>(magnitude % 60));
    }
    return text;
}

std::time_t GeneralizedTime::get_time_t() const {
    std::tm broken{};
    broken.tm_year = year_ - 1900;
    broken.tm_mon = month_ - 1;
    broken.tm_mday = day_;
    broken.tm_hour = hour_;
    broken.tm_min = minute_;
    broken.tm_sec = second_;
    broken.tm_isdst = -1;  // let the conversion decide whether daylight saving applies
    return std::mktime(&broken);
}

void GeneralizedTime::set_time_t(std::time_t time) {
    std::tm broken{};
    if (!gmtime_r(&time, &broken)) return;
    year_ = broken.tm_year + 1900;
    month_ = broken.tm_mon + 1;
    day_ = broken.tm_mday;
    hour_ = broken.tm_hour;
    minute_ = broken.tm_min;
    second_ = broken.tm_sec;
}

bool GeneralizedTime::isStrictlyValid() const {
    return year_ > 0 && month_ >= 1 && month_ <= 12 && day_ >= 1 && day_ <= 31 && hour_ >= 0 && hour_ <= 24 &&
           minute_ >= 0 && minute_ <= 59 && second_ >= 0 && second_ <= 59 && mindiff_ >= -720 && mindiff_ <= 720;
}

int GeneralizedTime::do_compare(AbstractData const& other) const {
    auto const& that = *boost::polymorphic_downcast<GeneralizedTime const*>(&other);
    int const mine[] = {year_, month_, day_, hour_, minute_, second_, millisec_};
    int const theirs[] = {that.year_, that.month_, that.day_, that.hour_, that.minute_, that.second_, that.millisec_};
    for (std::size_t i = 0; i < std::size(mine); ++i)
        if (mine[i] != theirs[i]) return detail::difference(mine[i], theirs[i]);
    return static_cast<int>(utc_) - static_cast<int>(that.utc_);
}

}  // namespace ASN1
