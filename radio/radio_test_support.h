#pragma once

// Shared by the tests of the radio codecs and their users: octets from text and records
// packed into them.

#include "radio/r2s_proto.h"
#include "radio/sig_proto.h"

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace radiotest {

using Bytes = std::vector<std::uint8_t>;

// "3a 80 00 00" as octets.
inline Bytes hex(std::string const& text)
{
    Bytes out;
    std::istringstream in(text);
    for (std::string octet; in >> octet;)
        out.push_back(std::uint8_t(std::stoul(octet, nullptr, 16)));
    return out;
}

// The packet a packer writes into a buffer of the size; none when it fails.
template <class Record>
Bytes packed(Record const& rec, int (*packer)(Record const*, std::uint8_t*, std::size_t), std::size_t size)
{
    Bytes buf(size);
    int n = packer(&rec, buf.data(), buf.size());
    buf.resize(n > 0 ? std::size_t(n) : 0);
    return buf;
}

inline Bytes pack(sig_proto const& rec, std::size_t size = 1024) { return packed(rec, sig_proto_pack, size); }
inline Bytes pack(r2s_proto const& rec, std::size_t size = 1024) { return packed(rec, r2s_proto_pack, size); }

}  // namespace radiotest
