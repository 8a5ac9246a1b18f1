#pragma once

// A fixed ring of N elements (packet handles in practice). The queue holds a reference
// only to the elements it contains: every slot an element leaves, or that clear()
// empties, is reset to a default-constructed (null) element. Nothing allocates.
//
// T is a copyable handle whose default value holds nothing.
template <class T, unsigned int N>
class CleanQueue {
    static_assert(N > 0, "a queue needs room");

public:
    CleanQueue() = default;
    CleanQueue(CleanQueue const&) = delete;
    CleanQueue& operator=(CleanQueue const&) = delete;

    // Shares e into the tail; false when full.
    bool put(T const& e)
    {
        if (count_ >= N)
            return false;
        slots_[tail_] = e;
        tail_ = next(tail_);
        ++count_;
        return true;
    }

    // Shares e in front of the head, so that the next get returns it; false when full.
    bool append(T const& e)
    {
        if (count_ >= N)
            return false;
        head_ = prev(head_);
        slots_[head_] = e;
        ++count_;
        return true;
    }

    // Takes the head; false (and the target untouched) when empty.
    bool get(T& out)
    {
        if (count_ == 0)
            return false;
        out = slots_[head_];
        slots_[head_] = T();
        head_ = next(head_);
        --count_;
        return true;
    }
    bool get(T* out) { return out ? get(*out) : false; }

    // Takes the most recently put element; false when empty.
    bool get_last(T* out)
    {
        if (count_ == 0 || !out)
            return false;
        tail_ = prev(tail_);
        *out = slots_[tail_];
        slots_[tail_] = T();
        --count_;
        return true;
    }

    // Shares the head into the target (when given) without taking it; false when empty.
    bool preview(T* out) const
    {
        if (count_ == 0)
            return false;
        if (out)
            *out = slots_[head_];
        return true;
    }

    unsigned int count() const { return count_; }
    unsigned int size() const { return N; }
    bool empty() const { return count_ == 0; }

    // Drops every element held.
    void clear()
    {
        while (count_ > 0) {
            slots_[head_] = T();
            head_ = next(head_);
            --count_;
        }
        head_ = tail_ = 0;
    }

private:
    static unsigned int next(unsigned int i) { return i + 1 == N ? 0 : i + 1; }
    static unsigned int prev(unsigned int i) { return i == 0 ? N - 1 : i - 1; }

    T slots_[N] = {};
    unsigned int head_ = 0;
    unsigned int tail_ = 0;
    unsigned int count_ = 0;
};
