// Fuzz target of the PER decoder over the fixture types that hold every kind the coder
// handles (the controller's own message type has its target beside the controller server,
// control/fuzz/ctrl_server_fuzz.cpp).
//
// Any input must decode without a crash, a read outside the input or a runaway allocation.
// A value that decodes and encodes again must read back equal and encode to the same
// octets; one that does not encode again must be one the validity checker refuses (a value
// outside its type), never a valid value the encoder cannot write. A breach aborts the run.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/zgcp_fixture.h"

namespace {

// Decodes the input as a T; on success checks the value against the coder. Answers whether
// it decoded.
template <class T>
bool roundTrip(char const* begin, char const* end, T& value) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    if (!ASN1::decode(begin, end, &env, value)) return false;

    std::vector<char> encoded;
    if (!ASN1::encode(value, &env, std::back_inserter(encoded))) {
        if (value.isValid()) {
            std::cerr << "per_decode_fuzz: a valid value does not encode: " << value.asValueNotation() << std::endl;
            std::abort();
        }
        return true;
    }
    T again;
    std::vector<char> reencoded;
    if (!ASN1::decode(encoded.data(), encoded.data() + encoded.size(), &env, again) || again != value ||
        !ASN1::encode(again, &env, std::back_inserter(reencoded)) || reencoded != encoded) {
        std::cerr << "per_decode_fuzz: the value does not go round the coder: " << value.asValueNotation() << std::endl;
        std::abort();
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    char const* const begin = reinterpret_cast<char const*>(data);
    char const* const end = begin + size;

    // Strings and times have texts that do not read back exactly; these are only printed.
    Fixture::Kinds kinds;
    if (roundTrip(begin, end, kinds)) (void)kinds.asValueNotation();
    Fixture::Versioned versioned;
    roundTrip(begin, end, versioned);
    Fixture::Alternatives alternatives;
    roundTrip(begin, end, alternatives);
    return 0;
}
