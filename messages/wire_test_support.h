#pragma once

// Helpers of the message tests: a value's aligned PER octets as the links produce them
// (through a coder environment), written as hexadecimal text ("80 01 01 18") with the
// run-time's test helpers, and the decoding of such text.

#include <iterator>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/per_test_support.h"

namespace MessagesTest {

using per_test::hex;
using per_test::octets;

// Aligned PER through a coder environment, as the controller and agent links encode.
inline bool encode(ASN1::AbstractData const& value, std::vector<char>& out) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    return ASN1::encode(value, &env, std::back_inserter(out));
}

// The encoding as hexadecimal text, or "no encoding" when the encoder refuses the value.
inline std::string encodedHex(ASN1::AbstractData const& value) {
    std::vector<char> out;
    return encode(value, out) ? hex(out) : std::string("no encoding");
}

// Decodes the octets given as hexadecimal text into the value, as the links decode.
inline bool decodeHex(std::string const& hexText, ASN1::AbstractData& value) {
    std::vector<char> const data = octets(hexText);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    return ASN1::decode(data.data(), data.data() + data.size(), &env, value, true);
}

}  // namespace MessagesTest
