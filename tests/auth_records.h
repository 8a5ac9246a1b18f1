#pragma once

// Records of the local authentication link as its client writes and reads them: 32-bit
// words in the processor's own byte order, then the body.

#include "tests/tcp_client.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

namespace testsupport {

inline Bytes words(std::initializer_list<std::uint32_t> values)
{
    Bytes out;
    out.reserve(values.size() * 4);
    for (std::uint32_t v : values) {
        std::uint8_t b[4];
        std::memcpy(b, &v, sizeof v);
        out.insert(out.end(), b, b + 4);
    }
    return out;
}

// A text in a field of the size, NUL-padded (cut when longer).
inline Bytes field(std::string const& text, std::size_t size)
{
    Bytes out(size, 0);
    std::memcpy(out.data(), text.data(), std::min(size, text.size()));
    return out;
}

inline Bytes operator+(Bytes a, Bytes const& b)
{
    a.reserve(a.size() + b.size());
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The 140-byte authentication request.
inline Bytes authRequest(std::int32_t session, std::string const& user, std::string const& password)
{
    return words({140, 1, std::uint32_t(session)}) + field(user, 64) + field(password, 64);
}

// The 64-byte accounting record with octets out, octets in, packets out, packets in (high
// and low words each) and the session time.
inline Bytes accounting(std::int32_t session, std::initializer_list<std::uint32_t> counters)
{
    return words({64, 4, std::uint32_t(session)}) + Bytes(12, 0) + words(counters) + Bytes(4, 0);
}

// A record of the size word given, with type and session when it has room for them, the
// rest zeros.
inline Bytes record(std::uint32_t size, std::uint32_t type, std::int32_t session)
{
    Bytes out = words({size, type, std::uint32_t(session)});
    out.resize(std::max<std::size_t>(size, 4), 0);
    return out;
}

}  // namespace testsupport
