// Fuzz target of the trace decoder: any frame must decode without a read outside the frame
// or a write outside the output buffer, and the text must end inside the buffer. Every
// renderer of the element tables gets the same octets as an element.

#include "signalling/q931_trace.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Output buffer sizes: the log buffer's and a small one that cuts nearly every text.
constexpr std::size_t kSmall = 48;

void checkText(std::vector<char> const& out, std::size_t size)
{
    if (std::memchr(out.data(), '\0', size) == nullptr)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    // An exact copy, so the address checker sees every read past the frame.
    std::vector<unsigned char> frame(data, data + size);
    for (std::size_t outSize : {ISDN::kLogBufSize, kSmall}) {
        std::vector<char> out(outSize);
        ISDN::dlogframe(frame.data(), unsigned(frame.size()), 1, out.data(), outSize);
        checkText(out, outSize);
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
        checkText(out, out.size());
    }
    return 0;
}
