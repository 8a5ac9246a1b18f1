#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <iosfwd>
#include <string>
#include <vector>

namespace INet4 {

// An IPv4 socket address (the 16-byte sockaddr_in that socket calls take). Equality looks
// at the address and the port only.
class Addr {
public:
    Addr() { Reset(); }
    // Parses "a.b.c.d" or "a.b.c.d:port"; a text that does not parse leaves 0.0.0.0:0.
    explicit Addr(std::string const& text);
    explicit Addr(sockaddr_in const& sa) : sa_(sa) {}
    Addr(Addr const&) = default;
    Addr& operator=(Addr const&) = default;
    // As Assign(text, nullptr); a text that does not parse leaves the value unchanged.
    Addr& operator=(std::string const& text);

    void Reset();

    // Parses a dotted-quad address optionally followed by ":" and a decimal port from 0 to
    // 65535. On success stores them (the port only when given) and, when port is not null,
    // writes the port there (-1 when the text has none); returns true. A text that does not
    // parse changes nothing (neither the value nor *port) and returns false.
    bool Assign(char const* text, int* port);
    bool Assign(std::string const& text, int* port) { return Assign(text.c_str(), port); }
    // Stores the value, which is in network byte order, as the address; the port stays.
    void Assign(unsigned long networkOrderAddress);

    unsigned short port() const { return ntohs(sa_.sin_port); }
    void port(unsigned short p) { sa_.sin_port = htons(p); }

    bool IsEqual(Addr const& o) const
    {
        return sa_.sin_addr.s_addr == o.sa_.sin_addr.s_addr && sa_.sin_port == o.sa_.sin_port;
    }
    bool operator==(Addr const& o) const { return IsEqual(o); }
    bool operator!=(Addr const& o) const { return !IsEqual(o); }

    // The dotted address (the C library's static buffer, valid until its next use).
    char const* GetStrAddr() const;
    // The dotted address, ":" and the port in decimal.
    std::string GetString() const;
    // The four address bytes in network order.
    std::vector<char> GetVector() const;
    void Put(std::ostream& os) const;

    operator sockaddr*() { return reinterpret_cast<sockaddr*>(&sa_); }
    operator sockaddr const*() const { return reinterpret_cast<sockaddr const*>(&sa_); }
    socklen_t size() const { return sizeof sa_; }
    sockaddr_in const& raw() const { return sa_; }

private:
    sockaddr_in sa_;
};

std::ostream& operator<<(std::ostream& os, Addr const& a);

// An IPv4 address in network byte order as dotted text ("10.0.0.1").
std::string dotted(in_addr_t address);

}  // namespace INet4
