#pragma once

#include <ostream>

namespace ASync {

// Names an object's peer in a log line: writing it calls the object's
// PutAddr(std::ostream&) const.
template <class T>
struct Host {
    T const* object;
};

template <class T>
Host<T> host(T const* object)
{
    return Host<T>{object};
}

template <class T>
std::ostream& operator<<(std::ostream& os, Host<T> const& h)
{
    h.object->PutAddr(os);
    return os;
}

}  // namespace ASync
