// Fuzz target of the PER decoder, over the controller protocol's message type and over the
// fixture types that hold every other kind the coder handles.
//
// Any input must decode without a crash, a read outside the input or a runaway allocation.
// A value that decodes and encodes again must read back equal and encode to the same
// octets; a message's value notation must read back equal. A difference aborts the run.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/zgcp_fixture.h"

namespace {

// Decodes the input as a T; on success checks that the value goes round the coder intact.
// Answers the decoded value's printing state.
template <class T>
bool roundTrip(char const* begin, char const* end, T& value) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    if (!ASN1::decode(begin, end, &env, value)) return false;

    std::vector<char> encoded;
    if (ASN1::encode(value, &env, std::back_inserter(encoded))) {
        T again;
        if (!ASN1::decode(encoded.data(), encoded.data() + encoded.size(), &env, again) || again != value)
            std::abort();
        std::vector<char> reencoded;
        if (!ASN1::encode(again, &env, std::back_inserter(reencoded)) || reencoded != encoded) std::abort();
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    char const* const begin = reinterpret_cast<char const*>(data);
    char const* const end = begin + size;

    ZGCP::Message message;
    if (roundTrip(begin, end, message)) {
        std::ostringstream text;
        if (message.print_on(text) == std::ios_base::goodbit) {
            ZGCP::Message parsed;
            if (!parsed.setFromValueNotation(text.str()) || parsed != message) std::abort();
        }
    }

    // Strings and times have texts that do not read back exactly; these are only printed.
    Fixture::Kinds kinds;
    if (roundTrip(begin, end, kinds)) (void)kinds.asValueNotation();
    Fixture::Versioned versioned;
    roundTrip(begin, end, versioned);
    Fixture::Alternatives alternatives;
    roundTrip(begin, end, alternatives);
    return 0;
}
