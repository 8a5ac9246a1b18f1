#pragma once

// What the far ends of the signalling links' fuzz targets share: frames, the sequence
// numbers they put in theirs, and what they expect of the messages the controller hands down.

#include "board/sim/read_failures.h"
#include "tests/fuzz_support.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace linkfuzz {

using Frame = std::vector<std::uint8_t>;
using Input = testsupport::FuzzInput;

// The octets in hexadecimal ("0a0b").
inline std::string hex(Frame const& octets)
{
    std::string text;
    for (std::uint8_t b : octets) {
        text += "0123456789abcdef"[b >> 4];
        text += "0123456789abcdef"[b & 15];
    }
    return text;
}

// The ways a far end's line ends, by an operand: it hangs up (none), or the next read fails
// with a fault of the board; the last two end nothing, the channel reads again.
using Fault = board::sim::ReadFault;
inline std::optional<Fault> const kLineEnds[] = {
    std::nullopt,
    Fault{Fault::Kind::eof, 0},
    Fault{Fault::Kind::hangup, 0},
    Fault{Fault::Kind::err, 0},
    Fault{Fault::Kind::error, EIO},
    Fault{Fault::Kind::error, EAGAIN},
    Fault{Fault::Kind::error, EINTR},
};
inline std::optional<Fault> const& lineEnd(std::uint8_t operand)
{
    return kLineEnds[operand % (sizeof kLineEnds / sizeof kLineEnds[0])];
}
// Whether the way ends the line.
inline bool ends(std::optional<Fault> const& way)
{
    return !way || way->kind != Fault::Kind::error || (way->error != EAGAIN && way->error != EINTR);
}

// A frame as a breach shows it: the octets in hexadecimal, a long one cut after 64 of them.
inline std::string shown(Frame const& octets)
{
    constexpr std::size_t kShown = 64;
    if (octets.size() <= kShown)
        return hex(octets);
    return hex(Frame(octets.begin(), octets.begin() + kShown)) + "... (" + std::to_string(octets.size()) + " octets)";
}

// A 7-bit sequence number by the two low bits of choice: the tracked one, one after it, one
// before it, or the input's next byte.
inline unsigned sequence(unsigned choice, unsigned tracked, Input& in)
{
    switch (choice & 3) {
    case 0: return tracked & 127;
    case 1: return (tracked + 1) & 127;
    case 2: return (tracked + 127) & 127;
    default: return in.byte() & 127u;
    }
}

// The messages the controller handed down as the far end expects them: each one the link
// sends is the next of them (the link may drop some on the way: what came before the one
// sent is then gone), and what a retransmission puts back comes again first, in order, unless
// a reset of the link let it go.
class FarMessages {
public:
    using Octets = Frame;

    void handedDown(Octets const& message)
    {
        if (!message.empty())
            pending_.push_back({message, false});
    }
    // Put back in front of what is pending: call it newest first.
    void putBack(Octets const& message) { pending_.push_front({message, true}); }
    // The link was set up again: what was put back may be dropped.
    void reset()
    {
        for (Pending& p : pending_)
            p.again = false;
    }
    void clear() { pending_.clear(); }
    // The link sent the message; empty when it is the one due, or else why it is not.
    std::string sent(Octets const& message)
    {
        if (!pending_.empty() && pending_.front().again) {
            if (pending_.front().message != message)
                return "a retransmission that carries another message than the one it repeats";
            pending_.pop_front();
            return {};
        }
        auto const at = std::find_if(pending_.begin(), pending_.end(),
                                     [&](Pending const& p) { return p.message == message; });
        if (at == pending_.end())
            return "a message the controller did not hand down, or one before what went already";
        pending_.erase(pending_.begin(), at + 1);
        return {};
    }

private:
    struct Pending {
        Octets message;
        bool again;
    };
    std::deque<Pending> pending_;
};

}  // namespace linkfuzz
