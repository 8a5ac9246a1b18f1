// Fuzz target of the PER decoder over the fixture types that hold every kind the coder
// handles (the controller's own message type has its target beside the controller server,
// control/fuzz/ctrl_server_fuzz.cpp, and its values messages/fuzz/zgcp_value_fuzz.cpp).
//
// Any input must decode without a crash, a read outside the input or a runaway allocation.
// A value that decodes and encodes again must read back equal and encode to the same
// octets; one that does not encode again must be one the validity checker refuses (a value
// outside its type), never a valid value the encoder cannot write. The input also chooses a
// value of each type (asn1/fuzz/value_generator.h), which must go round aligned PER
// unchanged: so a decoder that reads a value's own encoding as another one is seen too. A
// breach is printed on the error stream and aborts the run.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

#include "asn1/asn1.h"
#include "asn1/fuzz/value_generator.h"
#include "asn1/zgcp_fixture.h"

namespace {

constexpr char kTarget[] = "per_decode_fuzz";

// The input decoded as a T goes round the coder, then a T the input chooses does.
template <class T>
void roundTrip(char const* begin, char const* end) {
    T value;
    // Strings and times have texts that do not read back exactly; these are only printed.
    if (fuzzvalues::roundTripDecoded(kTarget, begin, end, ASN1::CoderEnv::per_Aligned, value))
        (void)value.asValueNotation();
    FuzzedDataProvider in(reinterpret_cast<std::uint8_t const*>(begin), std::size_t(end - begin));
    T chosen;
    fuzzvalues::roundTripChosen(kTarget, in, ASN1::CoderEnv::per_Aligned, chosen);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    char const* const begin = reinterpret_cast<char const*>(data);
    char const* const end = begin + size;
    roundTrip<Fixture::Kinds>(begin, end);
    roundTrip<Fixture::Versioned>(begin, end);
    roundTrip<Fixture::Alternatives>(begin, end);
    return 0;
}
