#pragma once

#include "base/smart_ptr_assertion.h"

template <class T>
class Smart_pointer;

// How Smart_pointer reaches the reference count that T carries, deletes an object whose
// count dropped to 0, and prepares an object for a change through a non-const access.
// The default expects a member `unsigned int ref_count` (0 in a new object), deletes with
// `delete` (a virtual destructor or a class-specific operator delete applies) and changes
// in place; a type with other needs specialises this template.
template <class T>
struct Smart_pointer_traits {
    static unsigned int& count(T* p) { return p->ref_count; }
    static void destroy(T* p) { delete p; }
    static void prepare_for_modify(Smart_pointer<T>&) {}
};

// An intrusive reference-counting pointer: each Smart_pointer that holds an object counts
// once in the object's own count; the last one to let go deletes it. Dereferencing a null
// pointer is fatal (SmartPtrAssertion).
template <class T>
class Smart_pointer {
    typedef Smart_pointer_traits<T> Traits;

public:
    Smart_pointer(T* p = nullptr) : p_(p) { acquire(); }
    Smart_pointer(Smart_pointer const& o) : p_(o.p_) { acquire(); }
    ~Smart_pointer() { remove_current(); }

    Smart_pointer& operator=(Smart_pointer const& o) { return *this = o.p_; }
    // The new object is counted before the old one is let go, so that dropping the old one
    // cannot delete the new one even when the old one held the only other reference.
    Smart_pointer& operator=(T* p)
    {
        if (p != p_) {
            T* old = p_;
            p_ = p;
            acquire();
            release(old);
        }
        return *this;
    }

    // Lets go of the object (deleting it when this was the last holder); null afterwards.
    void remove_current()
    {
        T* p = p_;
        p_ = nullptr;
        release(p);
    }
    void clean() { remove_current(); }

    T const* operator->() const
    {
        check();
        return p_;
    }
    T* operator->()
    {
        check();
        Traits::prepare_for_modify(*this);
        return p_;
    }
    T* get() const { return p_; }

    explicit operator bool() const { return p_ != nullptr; }
    bool operator!() const { return p_ == nullptr; }
    bool null() const { return p_ == nullptr; }

private:
    void acquire()
    {
        if (p_)
            ++Traits::count(p_);
    }
    static void release(T* p)
    {
        if (!p)
            return;
        unsigned int& c = Traits::count(p);
        if (c > 0)
            --c;
        if (c == 0)
            Traits::destroy(p);
    }
    void check() const
    {
        if (!p_)
            SmartPtrAssertion();
    }

    T* p_;
};
