#pragma once

// Helpers of the PER tests: octets as hex text and back, and one-call encode / decode.

#include <cstdio>
#include <string>
#include <vector>

#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"
#include "asn1/abstract_data.h"

namespace per_test {

// "C0 01 05" style, upper case, one space between octets.
inline std::string hex(std::vector<char> const& octets) {
    std::string text;
    char buffer[4];
    for (char octet : octets) {
        std::snprintf(buffer, sizeof buffer, "%02X", static_cast<unsigned char>(octet));
        if (!text.empty()) text += ' ';
        text += buffer;
    }
    return text;
}

inline std::vector<char> octets(std::string const& hexText) {
    std::vector<char> result;
    for (std::size_t i = 0; i + 1 < hexText.size();) {
        if (hexText[i] == ' ') {
            ++i;
            continue;
        }
        result.push_back(static_cast<char>(std::stoi(hexText.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return result;
}

// The aligned encoding as hex, or "failed".
inline std::string encode(ASN1::AbstractData const& value) {
    std::vector<char> output;
    ASN1::PEREncoder encoder(output);
    if (!value.accept(encoder)) return "failed";
    return hex(output);
}

inline bool decode(std::string const& hexText, ASN1::AbstractData& value) {
    std::vector<char> const input = octets(hexText);
    ASN1::PERDecoder decoder(input.data(), input.data() + input.size());
    return value.accept(decoder);
}

}  // namespace per_test
