#pragma once

// Values the fuzz input chooses, for the coders' fuzz targets: ValueGenerator fills a fresh
// value of any kind the run-time handles (every alternative, optional field, size and
// character its type allows, double quotes often in strings, now and then an enumeration
// value past the listed ones); roundTripChosen() sends one round a coder, roundTripDecoded()
// one the coder decoded from the input.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "asn1/asn1.h"

namespace fuzzvalues {

// Longest strings and lists made beyond a type's lower size bound.
constexpr unsigned kExtraLength = 24;
constexpr unsigned kExtraElements = 3;

class ValueGenerator {
public:
    explicit ValueGenerator(FuzzedDataProvider& in) : in_(in) {}

    // Fills a fresh value of any kind the controller's messages hold.
    bool fill(ASN1::AbstractData& value) {
        if (auto* sequence = dynamic_cast<ASN1::SEQUENCE*>(&value)) return fillSequence(*sequence);
        if (auto* choice = dynamic_cast<ASN1::CHOICE*>(&value)) return fillChoice(*choice);
        if (auto* list = dynamic_cast<ASN1::SEQUENCE_OF_Base*>(&value)) return fillList(*list);
        if (auto* enumerated = dynamic_cast<ASN1::ENUMERATED*>(&value)) return fillEnumerated(*enumerated);
        if (auto* integer = dynamic_cast<ASN1::INTEGER*>(&value)) return fillInteger(*integer);
        if (auto* boolean = dynamic_cast<ASN1::BOOLEAN*>(&value)) return (*boolean = in_.ConsumeBool(), true);
        if (auto* octets = dynamic_cast<ASN1::OCTET_STRING*>(&value)) return fillOctets(*octets);
        if (auto* bits = dynamic_cast<ASN1::BIT_STRING*>(&value)) return fillBits(*bits);
        if (auto* text = dynamic_cast<ASN1::AbstractString*>(&value)) return fillText(*text);
        if (auto* wide = dynamic_cast<ASN1::BMPString*>(&value)) return fillWide(*wide);
        if (auto* oid = dynamic_cast<ASN1::OBJECT_IDENTIFIER*>(&value)) return fillOid(*oid);
        if (auto* time = dynamic_cast<ASN1::GeneralizedTime*>(&value)) return fillTime(*time);
        return dynamic_cast<ASN1::Null*>(&value) != nullptr;
    }

private:
    bool fillSequence(ASN1::SEQUENCE& value) {
        ASN1::SequenceInfo const& info = *value.info();
        for (unsigned i = 0; i < info.numFields; ++i) {
            int const presence = info.fieldIds[i];
            if (presence >= 0 && !in_.ConsumeBool()) continue;
            if (presence >= 0) value.includeOptionalField(static_cast<unsigned>(presence), i);
            if (!fill(*value.getField(i))) return false;
        }
        for (unsigned k = 0; k < info.knownExtensions; ++k) {
            unsigned const presence = info.numOptional + k;
            if (!value.hasOptionalField(presence) && !in_.ConsumeBool()) continue;
            value.includeOptionalField(presence, info.numFields + k);
            if (!fill(*value.getField(info.numFields + k))) return false;
        }
        return true;
    }

    bool fillChoice(ASN1::CHOICE& value) {
        ASN1::ChoiceInfo const& info = *value.info();
        if (info.numKnownChoices == 0) return false;
        int const n = in_.ConsumeIntegralInRange<int>(0, static_cast<int>(info.numKnownChoices) - 1);
        value.setSelection(n, ASN1::AbstractData::create(info.selectionInfos[n]));
        return value.getSelection() && fill(*value.getSelection());
    }

    // A size within the constraint, at most `extra` above its lower bound.
    bool size(ASN1::ConstrainedInfo const& c, unsigned extra, unsigned& n) {
        unsigned const lower = c.lowerLimit > 0 ? static_cast<unsigned>(c.lowerLimit) : 0;
        if (lower > 1024) return false;
        unsigned upper = lower + extra;
        if (c.constraintType == ASN1::FixedConstraint || c.constraintType == ASN1::ExtendableConstraint)
            upper = std::min(upper, c.upperLimit);
        n = in_.ConsumeIntegralInRange<unsigned>(lower, std::max(lower, upper));
        return true;
    }

    static ASN1::ConstrainedInfo const& constraint(ASN1::AbstractData const& value) {
        return *static_cast<ASN1::ConstrainedInfo const*>(value.info());
    }

    bool fillList(ASN1::SEQUENCE_OF_Base& value) {
        unsigned n = 0;
        if (!size(constraint(value), kExtraElements, n)) return false;
        value.resize(n);
        for (auto& element : value) {
            if (!fill(*element)) return false;
        }
        return true;
    }

    bool fillEnumerated(ASN1::ENUMERATED& value) {
        auto const& info = *static_cast<ASN1::EnumeratedInfo const*>(value.info());
        if (info.extendable && in_.ConsumeIntegralInRange<int>(0, 7) == 0) {
            value.setFromInt(info.maximum + in_.ConsumeIntegralInRange<int>(1, 3));
            return true;
        }
        // Items of negative value are not coded (the coder's contract): the first item from
        // the chosen one on that is not negative.
        if (info.nameCount == 0) return false;
        unsigned const first = in_.ConsumeIntegralInRange<unsigned>(0, info.nameCount - 1);
        for (unsigned i = 0; i < info.nameCount; ++i) {
            std::string const name = info.names[(first + i) % info.nameCount];
            if (value.setFromName(name.substr(0, name.find('='))) && value.asInt() >= 0) return true;
        }
        return false;
    }

    bool fillInteger(ASN1::INTEGER& value) {
        ASN1::ConstrainedInfo const& c = constraint(value);
        bool const bounded = c.constraintType == ASN1::FixedConstraint ||
                             (c.constraintType == ASN1::ExtendableConstraint && in_.ConsumeBool());
        if (c.constraintType == ASN1::Unconstrained || (c.constraintType == ASN1::ExtendableConstraint && !bounded))
            value.setValue(in_.ConsumeIntegral<int>());
        else if (c.lowerLimit >= 0)
            value.setValue(static_cast<int>(in_.ConsumeIntegralInRange<unsigned>(
                static_cast<unsigned>(c.lowerLimit), bounded ? c.upperLimit : 0xFFFFFFFFu)));
        else
            value.setValue(in_.ConsumeIntegralInRange<int>(c.lowerLimit, bounded ? static_cast<int>(c.upperLimit)
                                                                                   : 0x7FFFFFFF));
        return true;
    }

    bool fillOctets(ASN1::OCTET_STRING& value) {
        unsigned n = 0;
        if (!size(constraint(value), kExtraLength, n)) return false;
        std::vector<char> octets(n);
        for (char& c : octets) c = static_cast<char>(in_.ConsumeIntegral<std::uint8_t>());
        value = octets;
        return true;
    }

    bool fillBits(ASN1::BIT_STRING& value) {
        unsigned n = 0;
        if (!size(constraint(value), kExtraLength * 8, n)) return false;
        value.resize(n);
        std::vector<char>& bytes = value.getData();
        for (char& c : bytes) c = static_cast<char>(in_.ConsumeIntegral<std::uint8_t>());
        // The bits after the last are not part of the value.
        if (n % 8 != 0) bytes.back() = static_cast<char>(bytes.back() & (0xFF << (8 - n % 8)));
        return true;
    }

    // Characters of the type's set, a double quote one time in four when the set has it.
    bool fillText(ASN1::AbstractString& value) {
        unsigned n = 0;
        if (!size(constraint(value), kExtraLength, n)) return false;
        char const* const set = value.getCharacterSet();
        unsigned const count = value.getCharacterSetSize();
        bool const quotes = count == 0 || std::find(set, set + count, '"') != set + count;
        std::string text;
        for (unsigned i = 0; i < n; ++i) {
            if (quotes && in_.ConsumeIntegralInRange<int>(0, 3) == 0)
                text.push_back('"');
            else
                text.push_back(count == 0 ? static_cast<char>(in_.ConsumeIntegral<std::uint8_t>())
                                          : set[in_.ConsumeIntegralInRange<unsigned>(0, count - 1)]);
        }
        value.assign(text);
        return true;
    }

    bool fillWide(ASN1::BMPString& value) {
        auto const& info = *static_cast<ASN1::BMPStringInfo const*>(value.info());
        unsigned n = 0;
        if (!size(info.constraint, kExtraLength, n)) return false;
        for (unsigned i = 0; i < n; ++i)
            value.push_back(static_cast<wchar_t>(in_.ConsumeIntegralInRange<unsigned>(info.firstChar, info.lastChar)));
        return true;
    }

    bool fillOid(ASN1::OBJECT_IDENTIFIER& value) {
        value.append(in_.ConsumeIntegralInRange<unsigned>(0, 2));
        value.append(in_.ConsumeIntegralInRange<unsigned>(0, 39));
        for (int more = in_.ConsumeIntegralInRange<int>(0, 3); more > 0; --more)
            value.append(in_.ConsumeIntegral<std::uint32_t>() >> 4);
        return true;
    }

    // A valid time: calendar fields, milliseconds, an offset of whole quarter hours or UTC.
    bool fillTime(ASN1::GeneralizedTime& value) {
        int const year = in_.ConsumeIntegralInRange<int>(1, 9999), month = in_.ConsumeIntegralInRange<int>(1, 12);
        int const day = in_.ConsumeIntegralInRange<int>(1, 28), hour = in_.ConsumeIntegralInRange<int>(0, 23);
        int const minute = in_.ConsumeIntegralInRange<int>(0, 59), second = in_.ConsumeIntegralInRange<int>(0, 59);
        int const millisec = in_.ConsumeIntegralInRange<int>(0, 999);
        bool const utc = in_.ConsumeBool();
        int const offset = utc ? 0 : in_.ConsumeIntegralInRange<int>(-48, 48) * 15;
        value = ASN1::GeneralizedTime(year, month, day, hour, minute, second, millisec, offset, utc);
        return true;
    }

    FuzzedDataProvider& in_;
};

// Prints the breach on the error stream with the target's name and the value, and aborts.
[[noreturn]] inline void breach(char const* target, char const* what, ASN1::AbstractData const& value)
{
    std::fprintf(stderr, "%s: %s: %s\n", target, what, value.asValueNotation().c_str());
    std::abort();
}

// A value the input chooses goes round the coder unchanged: it encodes, its octets decode
// to an equal value, which encodes to the same octets. False when the input makes no value.
template <class T>
bool roundTripChosen(char const* target, FuzzedDataProvider& in, ASN1::CoderEnv::EncodingRules rule, T& value)
{
    if (!ValueGenerator(in).fill(value))
        return false;
    ASN1::CoderEnv env;
    env.set_encodingRule(rule);
    std::vector<char> octets;
    T decoded;
    std::vector<char> again;
    if (!ASN1::encode(value, &env, std::back_inserter(octets)))
        breach(target, "a value made within its type does not encode", value);
    if (!ASN1::decode(octets.data(), octets.data() + octets.size(), &env, decoded) || decoded != value)
        breach(target, "a value does not decode from its octets as it was", value);
    if (!ASN1::encode(decoded, &env, std::back_inserter(again)) || again != octets)
        breach(target, "a decoded value does not encode to the octets it came from", value);
    return true;
}

// The input decodes as a T (false when it does not), and the value goes round the coder:
// one that encodes again reads back equal and encodes to the same octets; one that does not
// is one the validity checker refuses (a value outside its type).
template <class T>
bool roundTripDecoded(char const* target, char const* begin, char const* end, ASN1::CoderEnv::EncodingRules rule,
                      T& value)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(rule);
    if (!ASN1::decode(begin, end, &env, value))
        return false;
    std::vector<char> encoded;
    if (!ASN1::encode(value, &env, std::back_inserter(encoded))) {
        if (value.isValid())
            breach(target, "a valid value does not encode", value);
        return true;
    }
    T again;
    std::vector<char> reencoded;
    if (!ASN1::decode(encoded.data(), encoded.data() + encoded.size(), &env, again) || again != value
        || !ASN1::encode(again, &env, std::back_inserter(reencoded)) || reencoded != encoded)
        breach(target, "the value does not go round the coder", value);
    return true;
}

}  // namespace fuzzvalues
