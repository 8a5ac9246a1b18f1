#include "base/version.h"

#include <ostream>

#ifndef GW_VERSION_TYPE
#error "the build passes the version record (GW_VERSION_*)"
#endif

Version const Version::current(static_cast<Version::Type>(GW_VERSION_TYPE), GW_VERSION_NUMBER, "",
                               GW_VERSION_USER, GW_VERSION_DATE, GW_VERSION_TAG, GW_VERSION_ARCH);

void Version::put(std::ostream& os) const { os << tag_; }

std::ostream& operator<<(std::ostream& os, Version const& v)
{
    v.put(os);
    return os;
}

char const* version_string(Version::Type type)
{
    switch (type) {
    case Version::snapshot:
        return "snapshot";
    case Version::test:
        return "test";
    case Version::release:
        return "release";
    case Version::unit_test:
        return "unit-test";
    }
    return "unknown";
}

char const* version_suffix(Version::Type type)
{
    switch (type) {
    case Version::snapshot:
        return "S";
    case Version::test:
    case Version::unit_test:
        return "T";
    case Version::release:
        return "R";
    }
    return "U";
}

std::ostream& operator<<(std::ostream& os, Version::Type type) { return os << version_string(type); }
