// Validity of values for simple, constructed and open types: within the constraints
// (extensions admitted), strictly within their roots, and the invalid-value tracer's line,
// the path to the first invalid component and the reason.

#include "asn1/valid_checker.h"

#include "asn1/invalid_tracer.h"

#include <functional>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/zgcp_fixture.h"

namespace {

using ASN1::AbstractData;

struct OneToTwo {
    static constexpr ASN1::ConstraintType type = ASN1::FixedConstraint;
    static constexpr int lowerLimit = 1;
    static constexpr unsigned upperLimit = 2;
};
struct OneToTwoExtensible : OneToTwo {
    static constexpr ASN1::ConstraintType type = ASN1::ExtendableConstraint;
};
struct FourToTen : OneToTwo {
    static constexpr int lowerLimit = 4;
    static constexpr unsigned upperLimit = 10;
};
ASN1::ConstrainedInfo const octetsFourToTen = {{&ASN1::OCTET_STRING::create, 4}, ASN1::FixedConstraint, 4, 10};
ASN1::ConstrainedInfo const bitsFourToTen = {{&ASN1::BIT_STRING::create, 3}, ASN1::FixedConstraint, 4, 10};
ASN1::BMPStringInfo const lowerCaseOnly = {{{&ASN1::BMPString::create, 30}, ASN1::Unconstrained, 0, 4294967295u},
                                           'a', 'z', 5, 8};

// A list of n integers under the size constraint.
template <class Constraint, int n>
AbstractData* integers() {
    auto* list = new ASN1::SEQUENCE_OF<ASN1::INTEGER, Constraint>();
    for (int i = 0; i < n; ++i) list->push_back(ASN1::INTEGER(i));
    return list;
}

ZGCP::Message ping() {
    ZGCP::Message message;
    message.set_pdu().select_command().select_ping();
    return message;
}

AbstractData* alternativeY(unsigned y) {
    auto* value = new Fixture::Alternatives();
    value->select_y() = y;
    return value;
}

template <class Enumeration, int number>
AbstractData* enumerated() {
    auto* value = new Enumeration();
    value->setFromInt(number);
    return value;
}

TEST(ValidChecker, ValidStrictlyValidAndTheTracersLine) {
    struct Case {
        char const* what;
        std::function<AbstractData*()> make;
        bool valid;
        bool strictlyValid;
        char const* line;  // empty: the tracer finds nothing
    };
    Case const cases[] = {
        {"a ping", [] { return ping().clone(); }, true, true, ""},
        {"every kind, its cause an extension value", [] { return Fixture::everyKind().clone(); }, true, false,
         "msg.cause This ENUMERATED has invalid value 20"},
        {"a CHOICE from create", [] { return new ZGCP::Message(); }, false, false,
         "msg.pdu This CHOICE is not selected"},
        {"a known extension alternative", [] { return alternativeY(7); }, true, false, ""},
        {"an extension alternative out of range", [] { return alternativeY(256); }, false, false,
         "msg.y The INTEGER value 256 is greater than upper bound 255"},
        {"an unknown selection",
         [] {
             auto* mode = new ZGCP::BpcTestMode();
             mode->setSelection(ASN1::CHOICE::unknownSelection, nullptr);
             return mode;
         },
         false, false, "msg This selection is not understood by this decoder"},
        {"3 elements, extensible size 1..2", integers<OneToTwoExtensible, 3>, true, false, ""},
        {"3 elements, fixed size 1..2", integers<OneToTwo, 3>, false, false,
         "msg This SEQUENCE OF has size 3 greater than its upper bound 2"},
        {"1 element, fixed size 4..10", integers<FourToTen, 1>, false, false,
         "msg This SEQUENCE OF has size 1 smaller than its lower bound 4"},
        {"an empty open type", [] { return new ASN1::OpenData(); }, false, false,
         "msg This Open Type does not contain any valid data"},
        {"an open type holding octets only",
         [] {
             auto* value = new ASN1::OpenData();
             value->grab(new std::vector<char>{'\x05', '\x00'});
             return value;
         },
         true, true, ""},
        {"an open type holding an invalid value",
         [] { return new ASN1::OpenData(new ASN1::OBJECT_IDENTIFIER(), &ASN1::OpenData::theInfo); }, false, false,
         "msg This OBJECT IDENTIFIER is not assigned"},
        {"an absent OPTIONAL field out of range",
         [] {
             ZGCP::Message message = ping();
             message.set_slot(2000);
             message.omit_slot();
             return message.clone();
         },
         true, true, ""},
        {"a present OPTIONAL field out of range",
         [] {
             ZGCP::Message message = ping();
             message.set_slot(2000);
             return message.clone();
         },
         false, false, "msg.slot The INTEGER value 2000 is greater than upper bound 1023"},
        {"a field out of range in an alternative",
         [] {
             ZGCP::Message message;
             message.set_pdu().select_command().select_connect(2000);
             return message.clone();
         },
         false, false, "msg.pdu.command.connect The INTEGER value 2000 is greater than upper bound 1023"},
        {"a known extension addition out of range",
         [] {
             Fixture::Kinds value = Fixture::everyKind();
             value.ref_cause().setFromInt(0);
             value.set_later() = 300u;
             return value.clone();
         },
         false, false, "msg.later The INTEGER value 300 is greater than upper bound 255"},
        {"an empty string under size 1..",
         [] {
             Fixture::Kinds value = Fixture::everyKind();
             value.ref_cause().setFromInt(0);
             value.set_name() = "";
             return value.clone();
         },
         false, false, "msg.name This AbstractString has size 0 smaller than its lower bound 1"},
        {"11 in the extensible range 0..10",
         [] { return new ASN1::Constrained_INTEGER<ASN1::ExtendableConstraint, 0, 10>(11); }, true, false, ""},
        {"2^32-1 in the range 0..10",
         [] { return new ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 10>(0xFFFFFFFFu); }, false, false,
         "msg The INTEGER value 4294967295 is greater than upper bound 10"},
        {"4 in the range 5..10", [] { return new ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 5, 10>(4u); },
         false, false, "msg The INTEGER value 4 is smaller than lower bound 5"},
        {"200 in -128..127", [] { return new Fixture::Kinds::Small(200u); }, false, false,
         "msg The INTEGER value 200 is greater than upper bound 127"},
        {"-200 in -128..127", [] { return new Fixture::Kinds::Small(static_cast<unsigned>(-200)); }, false, false,
         "msg The INTEGER value -200 is smaller than lower bound -128"},
        {"13 in an extensible enumeration up to 12", enumerated<ZGCP::ErrorCause, 13>, true, false,
         "msg This ENUMERATED has invalid value 13"},
        {"2 in an enumeration up to 1", enumerated<ZGCP::TrunkMode, 2>, false, false,
         "msg This ENUMERATED has invalid value 2"},
        {"an OBJECT IDENTIFIER without arcs", [] { return new ASN1::OBJECT_IDENTIFIER(); }, false, false,
         "msg This OBJECT IDENTIFIER is not assigned"},
        {"11 bits under size 4..10",
         [] {
             auto* bits = new ASN1::BIT_STRING(&bitsFourToTen);
             bits->resize(11);
             return bits;
         },
         false, false, "msg This BIT STRING has size 11 greater than its upper bound 10"},
        {"3 octets under size 4..10", [] { return new ASN1::OCTET_STRING(3, 'o', &octetsFourToTen); }, false, false,
         "msg This OCTET STRING has size 3 smaller than its lower bound 4"},
        {"a character beyond IA5 in a list",
         [] {
             auto* list = new ASN1::SEQUENCE_OF<ASN1::IA5String>();
             for (char const* text : {"a", "b", "c\x80", "\x81"}) list->push_back(ASN1::IA5String(text));
             return list;
         },
         false, false, "msg[2] The character '\x80' is not valid for the string"},
        {"a character outside the permitted ones", [] { return new ASN1::BMPString(L"abZ", &lowerCaseOnly); }, false,
         false, "msg The character '90' is not valid for the string"},
        {"month 13", [] { return new ASN1::GeneralizedTime(2024, 13, 1, 0, 0, 0, 0, 0, true); }, false, false,
         "msg This GeneralizedTime is not valid"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<AbstractData> const value(c.make());
        EXPECT_EQ(c.valid, value->isValid());
        EXPECT_EQ(c.strictlyValid, value->isStrictlyValid());
        ASN1::ValidChecker valid;
        EXPECT_EQ(c.valid, value->accept(valid));
        ASN1::StrictlyValidChecker strict;
        EXPECT_EQ(c.strictlyValid, value->accept(strict));
        std::ostringstream out;
        std::string const expected = *c.line ? std::string(c.line) + "\n" : std::string();
        EXPECT_EQ(expected.empty(), ASN1::trace_invalid(out, "msg", *value));
        EXPECT_EQ(expected, out.str());
    }
}

}  // namespace
