#pragma once

// A sequence number counted modulo Max + 1 (Max is 2^k - 1: values are masked with it),
// with the wrap-around range test a <= b <= x: walking forward from a, b is reached no
// later than x.
template <class T, T Max>
class Cyclic {
public:
    // The pending comparison a <= b, completed by <= x.
    class LessEqPair {
    public:
        LessEqPair(Cyclic a, Cyclic b) : a_(a), b_(b) {}
        bool operator<=(Cyclic x) const { return T(x - a_) >= T(b_ - a_); }

    private:
        Cyclic a_;
        Cyclic b_;
    };

    Cyclic() = default;
    Cyclic(T v) : v_(T(v & Max)) {}

    operator T() const { return v_; }

    Cyclic& operator++()
    {
        v_ = T((v_ + 1) & Max);
        return *this;
    }
    Cyclic operator++(int)
    {
        Cyclic old = *this;
        ++*this;
        return old;
    }
    Cyclic& operator--()
    {
        v_ = T((v_ - 1) & Max);
        return *this;
    }

    friend Cyclic operator+(Cyclic a, Cyclic b) { return Cyclic(T(a.v_ + b.v_)); }
    friend Cyclic operator-(Cyclic a, Cyclic b) { return Cyclic(T(a.v_ - b.v_)); }
    LessEqPair operator<=(Cyclic b) const { return LessEqPair(*this, b); }

private:
    T v_ = 0;
};
