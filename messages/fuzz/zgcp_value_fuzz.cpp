// Fuzz target of the controller protocol's values: the input chooses a ZGCP::Message (every
// alternative, optional field, size and character the type allows, double quotes often in
// strings; asn1/fuzz/value_generator.h), which must go round aligned PER and value notation
// unchanged: it encodes; the octets decode to an equal value that encodes to the same octets;
// its printed form reads back to an equal value that prints the same. A difference is printed
// on the error stream and aborts the run.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "asn1/asn1.h"
#include "asn1/fuzz/value_generator.h"
#include "messages/zgcp.h"

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    ZGCP::Message message;
    if (!fuzzvalues::roundTripChosen("zgcp_value_fuzz", in, ASN1::CoderEnv::per_Aligned, message)) return 0;

    std::string const text = message.asValueNotation();
    ZGCP::Message parsed;
    if (!parsed.setFromValueNotation(text) || parsed != message || parsed.asValueNotation() != text)
        fuzzvalues::breach("zgcp_value_fuzz", "the value notation does not read back", message);
    return 0;
}
