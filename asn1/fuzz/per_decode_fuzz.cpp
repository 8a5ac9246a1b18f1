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
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/fuzz/value_generator.h"
#include "asn1/zgcp_fixture.h"

namespace {

constexpr char kTarget[] = "per_decode_fuzz";

[[noreturn]] void breach(char const* what, ASN1::AbstractData const& value) {
    std::fprintf(stderr, "%s: %s: %s\n", kTarget, what, value.asValueNotation().c_str());
    std::abort();
}

// Decodes the input as a T; on success checks the value against the coder. Then a T the
// input chooses goes round the coder.
template <class T>
void roundTrip(char const* begin, char const* end) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    T value;
    if (ASN1::decode(begin, end, &env, value)) {
        std::vector<char> encoded;
        if (!ASN1::encode(value, &env, std::back_inserter(encoded))) {
            if (value.isValid()) breach("a valid value does not encode", value);
        } else {
            T again;
            std::vector<char> reencoded;
            if (!ASN1::decode(encoded.data(), encoded.data() + encoded.size(), &env, again) || again != value ||
                !ASN1::encode(again, &env, std::back_inserter(reencoded)) || reencoded != encoded)
                breach("the value does not go round the coder", value);
        }
        // Strings and times have texts that do not read back exactly; these are only printed.
        (void)value.asValueNotation();
    }
    FuzzedDataProvider in(reinterpret_cast<std::uint8_t const*>(begin), std::size_t(end - begin));
    T chosen;
    fuzzvalues::roundTrip(kTarget, in, ASN1::CoderEnv::per_Aligned, chosen);
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
