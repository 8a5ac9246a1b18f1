#pragma once

// Helpers of the BER tests: one-call encode and decode through a coder environment set to
// BER, with octets as hexadecimal text ("02 01 05"), and the records of a few types built
// for these tests only.

#include <iterator>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/per_test_support.h"

namespace ber_test {

using per_test::hex;
using per_test::octets;

// The encoding as hex, or "failed".
inline std::string encode(ASN1::AbstractData const& value) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::ber);
    std::vector<char> output;
    if (!ASN1::encode(value, &env, std::back_inserter(output))) return "failed";
    return hex(output);
}

inline bool decode(std::string const& hexText, ASN1::AbstractData& value, bool noEnvironment = true) {
    std::vector<char> const input = octets(hexText);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::ber);
    return ASN1::decode(input.data(), input.data() + input.size(), &env, value, noEnvironment);
}

// A SEQUENCE of two INTEGER fields, both mandatory, tagged by `tags` (null: automatic).
struct TwoIntegers {
    void const* fieldInfos[2] = {&ASN1::INTEGER::theInfo, &ASN1::INTEGER::theInfo};
    int fieldIds[2] = {-1, -1};
    char const* names[2] = {"low", "high"};
    ASN1::SequenceInfo info;

    explicit TwoIntegers(unsigned const* tags)
        : info{{&ASN1::SEQUENCE::create, 16}, false, fieldInfos, fieldIds, 2, 0, 0, nullptr, tags, names} {}

    ASN1::SEQUENCE make(int low, int high) const {
        ASN1::SEQUENCE value(&info);
        static_cast<ASN1::INTEGER&>(*value.getField(0)).setValue(low);
        static_cast<ASN1::INTEGER&>(*value.getField(1)).setValue(high);
        return value;
    }
};

}  // namespace ber_test
