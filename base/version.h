#pragma once

#include <iosfwd>

// The build's version record. Printing a version prints its tag only.
class Version {
public:
    enum Type { snapshot = 0, test = 1, release = 2, unit_test = 3 };

    constexpr Version(Type type, int number, char const* label, char const* user, char const* date,
                      char const* tag, char const* arch)
        : type_(type), number_(number), label_(label), user_(user), date_(date), tag_(tag), arch_(arch)
    {
        update();
    }

    // The record of this build.
    static Version const current;

    void put(std::ostream& os) const;
    char const* tag() const { return tag_; }
    Type type() const { return type_; }
    int number() const { return number_; }
    char const* label() const { return label_; }
    char const* user() const { return user_; }
    char const* date() const { return date_; }
    char const* arch() const { return arch_; }

private:
    constexpr void update() {}

    Type type_;
    int number_;
    char const* label_;
    char const* user_;
    char const* date_;
    char const* tag_;
    char const* arch_;
};

std::ostream& operator<<(std::ostream& os, Version const& v);

// "snapshot", "test", "release", "unit-test"; "unknown" for any other value.
char const* version_string(Version::Type type);
// "S", "T", "R", "T" (unit-test shares the test letter); "U" for any other value.
char const* version_suffix(Version::Type type);
std::ostream& operator<<(std::ostream& os, Version::Type type);
