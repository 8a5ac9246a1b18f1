#include "base/profile.h"

#include <ostream>

namespace Profile {

Point* mRoot = nullptr;

Point::Point(char const* name) : next_(mRoot), name_(name) { mRoot = this; }

Point::~Point()
{
    for (Point** p = &mRoot; *p; p = &(*p)->next_) {
        if (*p == this) {
            *p = next_;
            break;
        }
    }
}

void Point::put(std::ostream& os) const { os << '[' << name_ << "]: " << measure_; }

std::ostream& operator<<(std::ostream& os, Point const& p)
{
    p.put(os);
    return os;
}

void dump(std::ostream& os)
{
    for (Point const* p = mRoot; p; p = p->next())
        os << *p << std::endl;
}

}  // namespace Profile
