#pragma once

#include <ostream>

// Small output wrappers made and streamed within one output expression. They hold
// pointers to what they print and must not outlive it.
namespace ext {

// The object's line prefix, written by its const member PutHeader(std::ostream&).
template <class T>
struct OutObjHeader {
    T const* object;
    void Put(std::ostream& os) const { object->PutHeader(os); }
};

template <class T>
OutObjHeader<T> header(T const* object)
{
    return OutObjHeader<T>{object};
}

template <class T>
std::ostream& operator<<(std::ostream& os, OutObjHeader<T> const& h)
{
    h.Put(os);
    return os;
}

// The object's short information, written by its const member PutShortInfo(std::ostream&).
template <class T>
struct OutShortInfo {
    T const* object;
    void Put(std::ostream& os) const { object->PutShortInfo(os); }
};

template <class T>
OutShortInfo<T> shortinfo(T const* object)
{
    return OutShortInfo<T>{object};
}

template <class T>
std::ostream& operator<<(std::ostream& os, OutShortInfo<T> const& s)
{
    s.Put(os);
    return os;
}

// The value between double quotes (nothing inside is escaped).
template <class T>
struct OutQuoted {
    T const* value;
};

template <class T>
OutQuoted<T> quoted(T const& value)
{
    return OutQuoted<T>{&value};
}

template <class T>
std::ostream& operator<<(std::ostream& os, OutQuoted<T> const& q)
{
    return os << '"' << *q.value << '"';
}

// Bytes as two upper-case hex digits and a blank each.
struct OutBufInHex {
    unsigned char const* begin;
    unsigned char const* end;
};

// "0x" and the value in upper-case hex, zero-filled to at least width digits.
struct OutUnsignedInHex {
    unsigned int value;
    unsigned int width;
};

inline OutBufInHex hex(unsigned char const* begin, unsigned char const* end)
{
    return OutBufInHex{begin, end};
}
inline OutBufInHex hex(char const* data, unsigned int length)
{
    auto p = reinterpret_cast<unsigned char const*>(data);
    return OutBufInHex{p, p + length};
}
inline OutUnsignedInHex hex(unsigned int value, unsigned int width)
{
    return OutUnsignedInHex{value, width};
}
// Keeps hex(0, 0) and hex(octet, 0) from being taken for the buffer forms.
inline OutUnsignedInHex hex(int value, unsigned int width)
{
    return OutUnsignedInHex{static_cast<unsigned int>(value), width};
}

std::ostream& operator<<(std::ostream& os, OutBufInHex const& h);
std::ostream& operator<<(std::ostream& os, OutUnsignedInHex const& h);

}  // namespace ext
