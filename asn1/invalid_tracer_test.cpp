// The invalid-value tracer: the path to the first invalid component and the reason, for
// every kind of value.

#include "asn1/invalid_tracer.h"

#include <functional>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/zgcp_fixture.h"

namespace {

using ASN1::AbstractData;

template <class T>
AbstractData* holding(T value) {
    return new T(value);
}

// Records with constraints the system's types do not have.
struct SizeFourToTen {
    static constexpr ASN1::ConstraintType type = ASN1::FixedConstraint;
    static constexpr int lowerLimit = 4;
    static constexpr unsigned upperLimit = 10;
};
ASN1::ConstrainedInfo const octetsFourToTen = {{&ASN1::OCTET_STRING::create, 4}, ASN1::FixedConstraint, 4, 10};
ASN1::ConstrainedInfo const bitsFourToTen = {{&ASN1::BIT_STRING::create, 3}, ASN1::FixedConstraint, 4, 10};
ASN1::BMPStringInfo const lowerCaseOnly = {{{&ASN1::BMPString::create, 30}, ASN1::Unconstrained, 0, 4294967295u},
                                           'a', 'z', 5, 8};

ZGCP::Message ping() {
    ZGCP::Message message;
    message.set_pdu().select_command().select_ping();
    return message;
}

TEST(InvalidTracer, TheLineNamesThePathAndTheReason) {
    struct Case {
        std::function<AbstractData*()> make;
        char const* line;  // empty: valid, nothing written
    };
    Case const cases[] = {
        {[] { return ping().clone(); }, ""},
        {[] {
             ZGCP::Message message = ping();
             message.set_slot(2000);
             return message.clone();
         },
         "msg.slot The INTEGER value 2000 is greater than upper bound 1023"},
        {[] { return new ZGCP::Message(); }, "msg.pdu This CHOICE is not selected"},
        {[] {
             ZGCP::Message message;
             message.set_pdu().select_command().select_connect(2000);
             return message.clone();
         },
         "msg.pdu.command.connect The INTEGER value 2000 is greater than upper bound 1023"},
        {[] { return new ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 10>(0xFFFFFFFFu); },
         "msg The INTEGER value 4294967295 is greater than upper bound 10"},
        {[] { return new ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 5, 10>(4u); },
         "msg The INTEGER value 4 is smaller than lower bound 5"},
        {[] { return new Fixture::Kinds::Small(200u); }, "msg The INTEGER value 200 is greater than upper bound 127"},
        {[] { return new Fixture::Kinds::Small(static_cast<unsigned>(-200)); },
         "msg The INTEGER value -200 is smaller than lower bound -128"},
        {[] { return new ASN1::Constrained_INTEGER<ASN1::ExtendableConstraint, 0, 10>(11); }, ""},
        {[] {
             auto* cause = new ZGCP::ErrorCause();
             cause->setFromInt(13);
             return cause;
         },
         "msg This ENUMERATED has invalid value 13"},
        {[] { return new ASN1::OBJECT_IDENTIFIER(); }, "msg This OBJECT IDENTIFIER is not assigned"},
        {[] {
             auto* bits = new ASN1::BIT_STRING(&bitsFourToTen);
             bits->resize(11);
             return bits;
         },
         "msg This BIT STRING has size 11 greater than its upper bound 10"},
        {[] { return new ASN1::OCTET_STRING(3, 'o', &octetsFourToTen); },
         "msg This OCTET STRING has size 3 smaller than its lower bound 4"},
        {[] {
             Fixture::Kinds value = Fixture::everyKind();
             value.ref_cause().setFromInt(0);
             value.set_name() = "";
             return value.clone();
         },
         "msg.name This AbstractString has size 0 smaller than its lower bound 1"},
        {[] {
             auto* list = new ASN1::SEQUENCE_OF<ASN1::IA5String>();
             for (char const* text : {"a", "b", "c\x80", "\x81"}) list->push_back(ASN1::IA5String(text));
             return list;
         },
         "msg[2] The character '\x80' is not valid for the string"},
        {[] { return new ASN1::BMPString(L"abZ", &lowerCaseOnly); }, "msg The character '90' is not valid for the string"},
        {[] { return new ASN1::GeneralizedTime(2024, 13, 1, 0, 0, 0, 0, 0, true); },
         "msg This GeneralizedTime is not valid"},
        {[] {
             auto* mode = new ZGCP::BpcTestMode();
             mode->setSelection(ASN1::CHOICE::unknownSelection, nullptr);
             return mode;
         },
         "msg This selection is not understood by this decoder"},
        {[] { return new ASN1::OpenData(); }, "msg This Open Type does not contain any valid data"},
        {[] { return new ASN1::OpenData(new ASN1::OBJECT_IDENTIFIER(), &ASN1::OpenData::theInfo); },
         "msg This OBJECT IDENTIFIER is not assigned"},
        {[] {
             auto* list = new ASN1::SEQUENCE_OF<ASN1::INTEGER, SizeFourToTen>();
             list->push_back(ASN1::INTEGER(1));
             return list;
         },
         "msg This SEQUENCE OF has size 1 smaller than its lower bound 4"},
    };
    for (Case const& c : cases) {
        std::unique_ptr<AbstractData> const value(c.make());
        std::ostringstream out;
        bool const valid = ASN1::trace_invalid(out, "msg", *value);
        std::string const expected = *c.line ? std::string(c.line) + "\n" : std::string();
        EXPECT_EQ(expected, out.str());
        EXPECT_EQ(expected.empty(), valid) << c.line;
    }
}

}  // namespace
