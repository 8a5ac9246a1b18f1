// Fuzz target of the BER decoder, over the controller protocol's message type and over the
// fixture types that hold every other kind the coder handles.
//
// Any input must decode without a crash, a read outside the input or a runaway allocation.
// A value that decodes and encodes again must read back equal and encode to the same
// octets, and one that does not encode again must be one the validity checker refuses; its
// validity checks and the tracer must run through. The input also chooses a value of each
// type (asn1/fuzz/value_generator.h), which must go round BER unchanged: so a decoder that
// reads a value's own encoding as another one (a sign, a length form the round trip from
// the decoded value never makes) is seen too. A difference is printed on the error stream
// and aborts the run.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <sstream>

#include "asn1/asn1.h"
#include "asn1/fuzz/value_generator.h"
#include "asn1/zgcp_fixture.h"

namespace {

constexpr char kTarget[] = "ber_decode_fuzz";

template <class T>
void roundTrip(char const* begin, char const* end) {
    T value;
    if (fuzzvalues::roundTripDecoded(kTarget, begin, end, ASN1::CoderEnv::ber, value)) {
        // Its validity checks and the tracer run through, and agree.
        std::ostringstream trace;
        if (ASN1::trace_invalid(trace, "value", value) != trace.str().empty())
            fuzzvalues::breach(kTarget, "the tracer and the validity check disagree", value);
        if (value.isStrictlyValid() && !value.isValid())
            fuzzvalues::breach(kTarget, "a strictly valid value is not valid", value);
    }
    FuzzedDataProvider in(reinterpret_cast<std::uint8_t const*>(begin), std::size_t(end - begin));
    T chosen;
    fuzzvalues::roundTripChosen(kTarget, in, ASN1::CoderEnv::ber, chosen);
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
