#pragma once

// Intrusive doubly linked lists: the members carry their own links, so linking and
// unlinking never allocates. A list never owns its members; a member sits in at most one
// list of its item type at a time, and no operation checks that a member belongs to the
// list it is given to.

template <class T>
class F_dual_list;

// Base of every list member: the links, both null while unlinked.
template <class T>
class F_dual_list_item {
public:
    F_dual_list_item() = default;
    // A copy gets no links: links belong to the place in a list, not to the value.
    F_dual_list_item(F_dual_list_item const&) {}
    F_dual_list_item& operator=(F_dual_list_item const&) { return *this; }

    T* get_next() const { return next_; }
    T* get_prev() const { return prev_; }

private:
    friend class F_dual_list<T>;
    T* next_ = nullptr;
    T* prev_ = nullptr;
};

template <class T>
class F_dual_list {
public:
    class iterator {
    public:
        iterator(T* p = nullptr) : p_(p) {}
        iterator& operator++()
        {
            p_ = p_->get_next();
            return *this;
        }
        iterator operator++(int)
        {
            iterator old = *this;
            p_ = p_->get_next();
            return old;
        }
        T* operator*() const { return p_; }
        T* operator->() const { return p_; }
        bool operator!=(iterator const& o) const { return p_ != o.p_; }
        bool operator==(iterator const& o) const { return p_ == o.p_; }
        bool good() const { return p_ != nullptr; }
        bool operator!() const { return p_ == nullptr; }

    private:
        T* p_;
    };

    constexpr F_dual_list() = default;
    // Links the n elements of the array in array order (a pool's free list).
    F_dual_list(T* array, unsigned int n)
    {
        for (unsigned int i = 0; i < n; ++i)
            insert_to_tail(&array[i]);
    }
    F_dual_list(F_dual_list const&) = delete;
    F_dual_list& operator=(F_dual_list const&) = delete;

    T* insert_to_tail(T* m)
    {
        link(m).next_ = nullptr;
        link(m).prev_ = tail_;
        if (tail_)
            link(tail_).next_ = m;
        else
            head_ = m;
        tail_ = m;
        ++count_;
        return m;
    }
    T* push_back(T* m) { return insert_to_tail(m); }

    T* insert_to_head(T* m)
    {
        link(m).prev_ = nullptr;
        link(m).next_ = head_;
        if (head_)
            link(head_).prev_ = m;
        else
            tail_ = m;
        head_ = m;
        ++count_;
        return m;
    }

    // Puts m directly after pos, which is in this list.
    T* insert_after(T* pos, T* m)
    {
        T* next = link(pos).next_;
        link(m).prev_ = pos;
        link(m).next_ = next;
        link(pos).next_ = m;
        if (next)
            link(next).prev_ = m;
        else
            tail_ = m;
        ++count_;
        return m;
    }

    // Unlinks m; its own links are left as they were.
    T* remove(T* m)
    {
        T* prev = link(m).prev_;
        T* next = link(m).next_;
        if (prev)
            link(prev).next_ = next;
        else
            head_ = next;
        if (next)
            link(next).prev_ = prev;
        else
            tail_ = prev;
        --count_;
        return m;
    }

    T* remove_from_head() { return head_ ? remove(head_) : nullptr; }
    T* remove_from_tail() { return tail_ ? remove(tail_) : nullptr; }

    // Exchanges the contents of the two lists.
    void merge(F_dual_list& other)
    {
        T* h = head_;
        T* t = tail_;
        unsigned int c = count_;
        head_ = other.head_;
        tail_ = other.tail_;
        count_ = other.count_;
        other.head_ = h;
        other.tail_ = t;
        other.count_ = c;
    }

    unsigned int count() const { return count_; }
    unsigned int size() const { return count_; }
    bool empty() const { return count_ == 0; }
    T* head() const { return head_; }
    T* tail() const { return tail_; }

    iterator begin() const { return iterator(head_); }
    iterator end() const { return iterator(); }
    iterator last() const { return iterator(tail_); }

private:
    static F_dual_list_item<T>& link(T* m) { return *static_cast<F_dual_list_item<T>*>(m); }

    T* head_ = nullptr;
    T* tail_ = nullptr;
    unsigned int count_ = 0;
};

// A list kept in ascending order of T::compare (negative: the member is earlier).
template <class T>
class F_sorted_list : public F_dual_list<T> {
public:
    // Inserts m after the last member that is not later than m: members with equal keys
    // keep their insertion order, and appending in ascending order costs one comparison.
    T* insert_to_tail_by_grown(T* m)
    {
        for (T* e = this->tail(); e; e = e->get_prev()) {
            if (e->compare(m) <= 0)
                return this->insert_after(e, m);
        }
        return this->insert_to_head(m);
    }
};
