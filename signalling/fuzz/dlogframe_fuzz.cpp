// Fuzz target of the trace decoder: any frame must decode without a read outside the frame
// or a write outside the output buffer, and the text must end inside the buffer. The text is
// checked against the frame as the target reads it itself: the octets in hexadecimal, the
// direction, the layer-2 line (its kind by SAPI, TEI and control field, the TEI and SAPI, the
// octets of a supervisory or unnumbered frame) and, for an I-frame or a broadcast, the
// protocol discriminator, the call reference with its flag, the size and the message type;
// a text cut by a small buffer is the same text cut at the buffer's end. Every renderer of the
// element tables gets the same octets as an element.

#include "signalling/q931_trace.h"

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void breach(std::string const& what)
{
    std::fprintf(stderr, "dlogframe_fuzz: %s\n", what.c_str());
    std::abort();
}

// Output buffer sizes: the log buffer's and a small one that cuts nearly every text.
constexpr std::size_t kSmall = 48;

// The Q.931 message types and their names.
struct Type {
    unsigned char value;
    char const* name;
};
Type const kTypes[] = {
    {0x01, "ALERTING"}, {0x02, "CALL PROCEEDING"}, {0x07, "CONNECT"}, {0x0F, "CONNECT ACKNOWLEDGE"},
    {0x03, "PROGRESS"}, {0x05, "SETUP"}, {0x0D, "SETUP ACKNOWLEDGE"}, {0x24, "HOLD"}, {0x28, "HOLD ACKNOWLEDGE"},
    {0x30, "HOLD REJECT"}, {0x31, "RETRIEVE"}, {0x33, "RETRIEVE ACKNOWLEDGE"}, {0x37, "RETRIEVE REJECT"},
    {0x26, "RESUME"}, {0x2E, "RESUME ACKNOWLEDGE"}, {0x22, "RESUME REJECT"}, {0x25, "SUSPEND"},
    {0x2D, "SUSPEND ACKNOWLEDGE"}, {0x21, "SUSPEND REJECT"}, {0x20, "USER INFORMATION"}, {0x45, "DISCONNECT"},
    {0x4D, "RELEASE"}, {0x5A, "RELEASE COMPLETE"}, {0x46, "RESTART"}, {0x4E, "RESTART ACKNOWLEDGE"},
    {0x60, "SEGMENT"}, {0x79, "CONGESTION CONTROL"}, {0x7B, "INFORMATION"}, {0x62, "FACILITY"}, {0x6E, "NOTIFY"},
    {0x7D, "STATUS"}, {0x75, "STATUS ENQUIRY"},
};

std::string format(char const* f, unsigned long a, unsigned long b = 0)
{
    char line[64];
    std::snprintf(line, sizeof line, f, a, b);
    return line;
}

// The text of the frame as far as the target reads it, and whether the text ends there (no
// information elements follow).
struct Expected {
    std::string text;
    bool whole = true;
};

// The call reference line of a layer-3 message from start on.
void message(std::vector<unsigned char> const& f, std::size_t start, Expected& e)
{
    if (f[start] != 8) {
        e.text += format("Unknown protocol %lx!", f[start]);
        return;
    }
    std::size_t const refLength = start + 1 < f.size() ? f[start + 1] & 0x0F : 0;
    if (start + 2 + refLength >= f.size()) {
        e.text += "frame too short\n";
        return;
    }
    unsigned long reference = 0;
    bool called = false;
    for (std::size_t k = 0; k < refLength; ++k) {
        unsigned char const o = f[start + 2 + k];
        if (k == 0)
            called = o & 0x80;
        reference = k == 0 ? o & 0x7Fu : (reference << 8 | o) & 0xFFFFFFFFul;
    }
    std::size_t const at = start + 2 + refLength;
    e.text += format("callref %lu ", reference) + (called ? "called" : "caller") + format(" size %lu ", f.size() - start);
    unsigned char const type = f[at];
    char const* name = nullptr;
    for (Type const& t : kTypes)
        if (t.value == type && name == nullptr)
            name = t.name;
    e.text += name ? std::string("message type ") + name + "\n" : format("unknown message type %lx!\n", type);
    e.whole = at + 1 == f.size();
}

Expected expected(std::vector<unsigned char> const& f, bool towardsUser)
{
    Expected e;
    if (f.size() < 3)
        return e;
    for (unsigned char o : f)
        e.text += format(" %02lX", o);
    e.text += std::string("\nframe ") + (towardsUser ? "network->user " : "user->network ");
    unsigned const sapi = f[0] >> 2, tei = f[1] >> 1, control = f[2];
    std::size_t start = 0;
    if (tei == 127 && sapi != 0)
        e.text += sapi < 63 ? format("unknown sapi %lu broadcast\n", sapi) : "tei management:\n";
    else if (tei == 127 && control != 0x03)
        e.text += "no UI broadcast\n";
    else if (tei == 127)
        e.text += "broadcast\n", start = 3;
    else if (sapi != 0)
        e.text += format("unknown sapi = %lu; tei = %lu\n", sapi, tei);
    else if (control & 0x01) {
        e.text += format("SFrame tei = %lu (", tei);
        for (std::size_t i = 2; i < f.size(); ++i)
            e.text += format("%02lX ", f[i]);
        e.text += ")\n";
    } else {
        e.text += format("IFrame tei = %lu\n", tei), start = 4;
    }
    if (start == 0)
        return e;
    if (start >= f.size())
        e.text += "frame too short\n";
    else
        message(f, start, e);
    return e;
}

void checkText(std::vector<unsigned char> const& frame, std::vector<char> const& out, bool towardsUser)
{
    if (std::memchr(out.data(), '\0', out.size()) == nullptr)
        breach("a text that does not end inside its buffer");
    std::string const text(out.data());
    Expected const e = expected(frame, towardsUser);
    std::size_t const compared = std::min(e.text.size(), text.size());
    bool same = text.compare(0, compared, e.text, 0, compared) == 0;
    if (text.size() < e.text.size())
        same = same && text.size() == out.size() - 1;  // cut at the buffer's end
    else if (e.whole)
        same = same && text.size() == e.text.size();
    if (!same)
        breach("the text \"" + text + "\" is not the frame's \"" + e.text + "\"");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    // An exact copy, so the address checker sees every read past the frame.
    std::vector<unsigned char> frame(data, data + size);
    for (std::size_t outSize : {ISDN::kLogBufSize, kSmall})
        for (int direction : {0, 1}) {
            std::vector<char> out(outSize);
            ISDN::dlogframe(frame.data(), unsigned(frame.size()), direction, out.data(), outSize);
            checkText(frame, out, direction != 0);
        }
    if (frame.empty())
        return 0;
    ISDN::Renderer const renderers[] = {
        ISDN::general,  ISDN::prbearer, ISDN::prbearer_ni1, ISDN::prcause,      ISDN::prcause_1tr6,
        ISDN::prchident, ISDN::prcalled, ISDN::prcalling,   ISDN::prcharge,     ISDN::prtext,
        ISDN::prfeatureind, ISDN::disptext_ni1, ISDN::display, ISDN::prfacility,
    };
    for (ISDN::Renderer render : renderers) {
        std::vector<char> out(kSmall);
        ISDN::TraceText text(out.data(), out.size());
        render(text, ISDN::Element(frame.data(), frame.size()));
        if (std::memchr(out.data(), '\0', out.size()) == nullptr)
            breach("a renderer's text does not end inside its buffer");
    }
    return 0;
}
