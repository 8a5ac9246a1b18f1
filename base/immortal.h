#pragma once

// Storage for an object that is built and never destroyed: process-wide objects that
// others may still use while the process exits, whatever the order of destruction.
template <class T>
union Immortal {
    T value;
    Immortal() : value() {}
    ~Immortal() {}
};
