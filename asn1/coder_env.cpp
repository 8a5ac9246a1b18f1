#include "asn1/coder_env.h"

#include <sstream>

#include "asn1/avn_decoder.h"
#include "asn1/avn_encoder.h"
#include "asn1/ber_decoder.h"
#include "asn1/ber_encoder.h"
#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"

namespace ASN1 {

bool CoderEnv::encodeInto(AbstractData const& value, EncodingRules rule, std::vector<char>& octets) const {
    switch (rule) {
    case per_Aligned: {
        PEREncoder encoder(octets, true);
        return value.accept(encoder);
    }
    case ber: {
        BEREncoder encoder(octets);
        return value.accept(encoder);
    }
    case avn: {
        std::ostringstream text;
        AVNEncoder encoder(text);
        if (!value.accept(encoder)) return false;
        std::string const printed = text.str();
        octets.assign(printed.begin(), printed.end());
        return true;
    }
    default:
        return false;
    }
}

bool CoderEnv::encode(AbstractData const& value, std::vector<char>& octets) const {
    if (encodeInto(value, rule_, octets)) return true;
    octets.clear();
    return false;
}

bool CoderEnv::decode(char const* begin, char const* end, AbstractData& value, bool noEnvironment) {
    switch (rule_) {
    case per_Aligned: {
        PERDecoder decoder(begin, end, noEnvironment ? nullptr : this, true);
        return value.accept(decoder);
    }
    case ber: {
        BERDecoder decoder(begin, end, noEnvironment ? nullptr : this);
        return value.accept(decoder);
    }
    case avn: {
        std::istringstream text(std::string(begin, end < begin ? begin : end));
        AVNDecoder decoder(text);
        return value.accept(decoder);
    }
    default:
        return false;
    }
}

}  // namespace ASN1
