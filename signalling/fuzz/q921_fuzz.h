#pragma once

// Shared by the fuzz targets of both sides of the Q.921 data link in their PSTN slot: the
// frames of a far end (lapd_far.h), and the trace decoder's reading of a frame the link wrote.

#include "signalling/fuzz/lapd_far.h"
#include "signalling/fuzz/link_bench.h"
#include "signalling/lapd.h"
#include "signalling/q931_trace.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace linkfuzz {

// The trace decoder reads the frame (sent towards the user side or away from it) with the
// text given in it.
inline void decodedAs(Frame const& f, bool towardsUser, std::string const& part)
{
    char text[ISDN::kLogBufSize];
    ISDN::dlogframe(f.data(), unsigned(f.size()), towardsUser ? 1 : 0, text, sizeof text);
    if (std::strstr(text, part.c_str()) == nullptr)
        bad(f, "decoded as \"" + std::string(text) + "\"");
}

}  // namespace linkfuzz
