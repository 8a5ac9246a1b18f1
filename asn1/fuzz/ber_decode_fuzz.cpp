// Fuzz target of the BER decoder, over the controller protocol's message type and over the
// fixture types that hold every other kind the coder handles.
//
// Any input must decode without a crash, a read outside the input or a runaway allocation.
// A value that decodes and encodes again must read back equal and encode to the same
// octets, and one that does not encode again must be one the validity checker refuses; its
// validity checks and the tracer must run through. A difference aborts the run.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/zgcp_fixture.h"

namespace {

template <class T>
void roundTrip(char const* begin, char const* end) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::ber);
    T value;
    if (!ASN1::decode(begin, end, &env, value)) return;

    std::ostringstream trace;
    if (ASN1::trace_invalid(trace, "value", value) != trace.str().empty()) std::abort();
    if (value.isStrictlyValid() && !value.isValid()) std::abort();

    std::vector<char> encoded;
    if (!ASN1::encode(value, &env, std::back_inserter(encoded))) {
        // What does not encode again must be a value outside its type.
        if (value.isValid()) std::abort();
        return;
    }
    T again;
    if (!ASN1::decode(encoded.data(), encoded.data() + encoded.size(), &env, again) || again != value)
        std::abort();
    std::vector<char> reencoded;
    if (!ASN1::encode(again, &env, std::back_inserter(reencoded)) || reencoded != encoded) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    char const* const begin = reinterpret_cast<char const*>(data);
    char const* const end = begin + size;
    roundTrip<ZGCP::Message>(begin, end);
    roundTrip<Fixture::Kinds>(begin, end);
    roundTrip<Fixture::Versioned>(begin, end);
    roundTrip<Fixture::Alternatives>(begin, end);
    return 0;
}
