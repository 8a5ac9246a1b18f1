#pragma once

#include <iosfwd>

// The error number of the last failing call, captured when made, printed as its text.
class Errno {
public:
    Errno();
    int value() const { return value_; }
    void Put(std::ostream& os) const;

private:
    int value_;
};

std::ostream& operator<<(std::ostream& os, Errno const& e);
