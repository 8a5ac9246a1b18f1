#pragma once

#include "base/measure.h"

#include <iosfwd>

// Named duration statistics kept around a piece of code and listed in the status dump.
// A point is usually a function-local static: it joins the list the first time its code
// runs, and the newest point is listed first.
namespace Profile {

class Point {
public:
    explicit Point(char const* name);
    ~Point();
    Point(Point const&) = delete;
    Point& operator=(Point const&) = delete;

    void begin() { measure_.begin(); }
    void end() { measure_.end(); }

    // "[", the name, "]: " and the statistics as Measure prints them.
    void put(std::ostream& os) const;

    char const* name() const { return name_; }
    Measure const& measure() const { return measure_; }
    Point* next() const { return next_; }

private:
    Point* next_;
    char const* name_;
    Measure measure_;
};

// The head of the list of points (null when no point exists).
extern Point* mRoot;

std::ostream& operator<<(std::ostream& os, Point const& p);

// Every point, one line each, newest first.
void dump(std::ostream& os);

}  // namespace Profile
