#include "asn1/enumerated.h"

#include <charconv>

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

namespace {

// Walks the names of an enumeration in declaration order with the value of each; reads no
// entry past the record's count.
class NameWalk {
public:
    explicit NameWalk(EnumeratedInfo const& info) : info_(info) {}

    // Moves to the next entry; false after the last one.
    bool next() {
        if (!info_.names || index_ >= info_.nameCount) return false;
        std::string_view const entry = info_.names[index_++];
        std::size_t const eq = entry.find('=');
        name_ = entry.substr(0, eq);
        long long number = 0;
        if (eq != std::string_view::npos &&
            std::from_chars(entry.data() + eq + 1, entry.data() + entry.size(), number).ec == std::errc())
            value_ = static_cast<int>(number);
        else
            value_ = first_ ? 0 : static_cast<int>(static_cast<unsigned>(value_) + 1);
        first_ = false;
        return true;
    }

    // Moves to the first entry (from here on) that declares `value`.
    bool find(int value) {
        while (next())
            if (value_ == value) return true;
        return false;
    }

    int value() const { return value_; }
    std::string_view name() const { return name_; }

private:
    EnumeratedInfo const& info_;
    unsigned index_ = 0;
    bool first_ = true;
    int value_ = 0;
    std::string_view name_;
};

}  // namespace

AbstractData* ENUMERATED::create(void const* info) { return new ENUMERATED(info); }

std::string_view ENUMERATED::getName() const {
    NameWalk walk(*infoAs<EnumeratedInfo>());
    return walk.find(value_) ? walk.name() : std::string_view();
}

bool ENUMERATED::setFromName(std::string const& name) {
    NameWalk walk(*infoAs<EnumeratedInfo>());
    while (walk.next()) {
        if (walk.name() == name) {
            value_ = walk.value();
            return true;
        }
    }
    value_ = static_cast<int>(static_cast<unsigned>(getMaximum()) + 1);
    return false;
}

bool ENUMERATED::isStrictlyValid() const { return NameWalk(*infoAs<EnumeratedInfo>()).find(value_); }

bool ENUMERATED::isValid() const { return extendable() || isStrictlyValid(); }

int ENUMERATED::do_compare(AbstractData const& other) const {
    return detail::difference(value_, boost::polymorphic_downcast<ENUMERATED const*>(&other)->value_);
}

}  // namespace ASN1
