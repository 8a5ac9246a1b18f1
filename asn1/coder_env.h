#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <loki/AssocVector.h>

#include "asn1/abstract_data.h"

namespace ASN1 {

class Module;

// The one entry point that turns a value into octets and back, by the encoding rules it is
// set to. The links build one on the stack per message:
//
//     ASN1::CoderEnv env;
//     env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
//     std::vector<char> frame;
//     if (!ASN1::encode(message, &env, std::back_inserter(frame))) ...   // nothing appended
//     ZGCP::Message received;
//     if (!ASN1::decode(data, data + length, &env, received)) ...        // discard it
//
// Every failure is a false result; nothing is thrown or logged here (the callers log).
class CoderEnv {
public:
    enum EncodingRules : int {
        avn = 0,         // value notation (text)
        ber = 1,         // basic encoding rules, definite-length form
        per_Aligned = 2  // packed encoding rules, aligned variant: the rule of both links
    };

    // Orders module names by their text.
    struct StringListeralCmp {
        using first_argument_type = char const*;
        using second_argument_type = char const*;
        using result_type = bool;
        bool operator()(char const* a, char const* b) const { return std::strcmp(a, b) < 0; }
    };
    using ModuleRegistry = Loki::AssocVector<char const*, Module*, StringListeralCmp>;

    // An empty module registry; the rule is aligned PER until set otherwise.
    CoderEnv() = default;
    CoderEnv(CoderEnv const&) = delete;
    CoderEnv& operator=(CoderEnv const&) = delete;

    void set_encodingRule(EncodingRules rule) { rule_ = rule; }
    EncodingRules get_encodingRule() const { return rule_; }

    // Encodes the value by the rule and writes every octet through `out`; on failure
    // nothing at all is written.
    template <class OutputIterator>
    bool encode(AbstractData const& value, OutputIterator out) const;
    // Encodes the value by the rule into the octets (what they held goes; their room is
    // kept, so a buffer used again allocates nothing); on failure they are left empty.
    bool encode(AbstractData const& value, std::vector<char>& octets) const;
    template <class OutputIterator>
    bool encodePER(AbstractData const& value, OutputIterator out) const;
    template <class OutputIterator>
    bool encodeBER(AbstractData const& value, OutputIterator out) const;
    // The value notation text, without a terminating zero.
    template <class OutputIterator>
    bool encodeAVN(AbstractData const& value, OutputIterator out) const;

    // Fills the value from [begin, end) by the rule; octets after the value are ignored. A
    // failure leaves the value partly filled. `noEnvironment`: the decoder is not handed
    // this environment (it only passes it on to open types decoded later).
    bool decode(char const* begin, char const* end, AbstractData& value, bool noEnvironment = true);

private:
    // The octets of the value by a rule; false when it cannot be encoded (or the rule is
    // unknown).
    bool encodeInto(AbstractData const& value, EncodingRules rule, std::vector<char>& octets) const;

    template <class OutputIterator>
    static bool copyOut(std::vector<char> const& octets, OutputIterator out) {
        std::copy(octets.begin(), octets.end(), out);
        return true;
    }

    EncodingRules rule_ = per_Aligned;
    ModuleRegistry modules_;  // empty: nothing registers a module
};

template <class OutputIterator>
bool CoderEnv::encode(AbstractData const& value, OutputIterator out) const {
    std::vector<char> octets;
    return encodeInto(value, rule_, octets) && copyOut(octets, out);
}

template <class OutputIterator>
bool CoderEnv::encodePER(AbstractData const& value, OutputIterator out) const {
    std::vector<char> octets;
    return encodeInto(value, per_Aligned, octets) && copyOut(octets, out);
}

template <class OutputIterator>
bool CoderEnv::encodeBER(AbstractData const& value, OutputIterator out) const {
    std::vector<char> octets;
    return encodeInto(value, ber, octets) && copyOut(octets, out);
}

template <class OutputIterator>
bool CoderEnv::encodeAVN(AbstractData const& value, OutputIterator out) const {
    std::vector<char> octets;
    return encodeInto(value, avn, octets) && copyOut(octets, out);
}

// The environment's encode of the value into `out`; false for a null environment.
template <class OutputIterator>
bool encode(AbstractData const& value, CoderEnv* env, OutputIterator out) {
    return env && env->encode(value, out);
}

// The environment's decode of [begin, end) into the value; false for a null environment.
inline bool decode(char const* begin, char const* end, CoderEnv* env, AbstractData& value,
                   bool noEnvironment = true) {
    return env && env->decode(begin, end, value, noEnvironment);
}

}  // namespace ASN1
