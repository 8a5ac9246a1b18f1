#pragma once

#include <cstddef>
#include <cstring>

namespace Containers {

// A node of an intrusive circular list. A node alone is linked to itself; a list is a
// node of its owner (the head, never a member), and members are nodes embedded in other
// objects. Destroying a node unlinks it.
class CyclicList {
public:
    template <class Ref, class Ptr>
    class TIterator {
    public:
        explicit TIterator(Ptr p) : p_(p) {}
        TIterator& operator++()
        {
            p_ = p_->next_;
            return *this;
        }
        Ref operator*() const { return *p_; }
        Ptr operator->() const { return p_; }
        bool operator==(TIterator const& o) const { return p_ == o.p_; }
        bool operator!=(TIterator const& o) const { return p_ != o.p_; }

    private:
        Ptr p_;
    };
    typedef TIterator<CyclicList&, CyclicList*> iterator;

    CyclicList() : next_(this), prev_(this) {}
    ~CyclicList() { unlink(); }
    CyclicList(CyclicList const&) = delete;
    CyclicList& operator=(CyclicList const&) = delete;

    // Moves the node out of whatever ring holds it and makes it the last member of this one.
    void AddToTail(CyclicList* node)
    {
        node->unlink();
        node->next_ = this;
        node->prev_ = prev_;
        prev_->next_ = node;
        prev_ = node;
    }

    // Takes this node out of the ring that holds it; a node alone stays alone.
    void Remove() { unlink(); }

    iterator begin() { return iterator(next_); }
    iterator end() { return iterator(this); }
    bool empty() const { return next_ == this; }

private:
    void unlink()
    {
        prev_->next_ = next_;
        next_->prev_ = prev_;
        next_ = prev_ = this;
    }

    CyclicList* next_;
    CyclicList* prev_;
};

// The object that holds the member node: the node's address less the member's position.
// The position is read from the pointer to member itself (the ABI's representation of a
// data member pointer is the member's offset), so no object is touched to learn it.
template <class Owner>
Owner* offset(CyclicList* node, CyclicList Owner::*member)
{
    static_assert(sizeof(member) == sizeof(std::ptrdiff_t), "data member pointer is an offset");
    std::ptrdiff_t pos;
    std::memcpy(&pos, &member, sizeof pos);
    return reinterpret_cast<Owner*>(reinterpret_cast<char*>(node) - pos);
}

}  // namespace Containers
