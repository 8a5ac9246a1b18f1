// Fuzz target of the PER decoder over the controller protocol's message type.
//
// Any input must decode without a crash, a read outside the input or a runaway allocation.
// A message that decodes and encodes again must read back equal and encode to the same
// octets, and its value notation must read back equal: a difference aborts the run.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/zgcp_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    char const* const begin = reinterpret_cast<char const*>(data);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);

    ZGCP::Message message;
    if (!ASN1::decode(begin, begin + size, &env, message)) return 0;

    std::vector<char> encoded;
    if (ASN1::encode(message, &env, std::back_inserter(encoded))) {
        ZGCP::Message again;
        if (!ASN1::decode(encoded.data(), encoded.data() + encoded.size(), &env, again) || again != message)
            std::abort();
        std::vector<char> reencoded;
        if (!ASN1::encode(again, &env, std::back_inserter(reencoded)) || reencoded != encoded) std::abort();
    }

    std::ostringstream text;
    if (message.print_on(text) == std::ios_base::goodbit) {
        ZGCP::Message parsed;
        if (!parsed.setFromValueNotation(text.str()) || parsed != message) std::abort();
    }
    return 0;
}
