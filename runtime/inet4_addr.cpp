#include "runtime/inet4_addr.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstring>
#include <ostream>

namespace INet4 {

namespace {

// A decimal port from 0 to 65535 filling the whole text.
bool parsePort(char const* text, unsigned short& port)
{
    if (*text == '\0')
        return false;
    unsigned long v = 0;
    for (char const* p = text; *p; ++p) {
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            return false;
        v = v * 10 + static_cast<unsigned long>(*p - '0');
        if (v > 65535)
            return false;
    }
    port = static_cast<unsigned short>(v);
    return true;
}

// inet_aton's forms, without the trailing blanks and text it lets through.
bool parseAddress(std::string const& text, in_addr& addr)
{
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)))
            return false;
    }
    return ::inet_aton(text.c_str(), &addr) != 0;
}

}  // namespace

Addr::Addr(std::string const& text)
{
    Reset();
    Assign(text.c_str(), nullptr);
}

Addr& Addr::operator=(std::string const& text)
{
    Assign(text.c_str(), nullptr);
    return *this;
}

void Addr::Reset()
{
    std::memset(&sa_, 0, sizeof sa_);
    sa_.sin_family = AF_INET;
}

bool Addr::Assign(char const* text, int* port)
{
    if (!text)
        return false;
    char const* colon = std::strchr(text, ':');
    std::string const address = colon ? std::string(text, colon) : std::string(text);
    unsigned short p = 0;
    if (colon && !parsePort(colon + 1, p))
        return false;
    in_addr a;
    if (!parseAddress(address, a))
        return false;
    sa_.sin_addr = a;
    if (colon)
        sa_.sin_port = htons(p);
    if (port)
        *port = colon ? int(p) : -1;
    return true;
}

void Addr::Assign(unsigned long networkOrderAddress)
{
    sa_.sin_addr.s_addr = static_cast<in_addr_t>(networkOrderAddress);
}

char const* Addr::GetStrAddr() const { return ::inet_ntoa(sa_.sin_addr); }

std::string Addr::GetString() const { return std::string(GetStrAddr()) + ":" + std::to_string(port()); }

std::vector<char> Addr::GetVector() const
{
    char const* b = reinterpret_cast<char const*>(&sa_.sin_addr.s_addr);
    return std::vector<char>(b, b + 4);
}

void Addr::Put(std::ostream& os) const { os << GetStrAddr() << ':' << std::dec << port(); }

std::ostream& operator<<(std::ostream& os, Addr const& a)
{
    a.Put(os);
    return os;
}

std::string dotted(in_addr_t address)
{
    in_addr a{};
    a.s_addr = address;
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

}  // namespace INet4
