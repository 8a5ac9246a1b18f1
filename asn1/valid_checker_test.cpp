// Validity of values: within the constraints (extensions admitted) and strictly within their
// roots, for simple, constructed and open types.

#include "asn1/valid_checker.h"

#include <functional>
#include <memory>

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

// A list of three integers under the size constraint.
template <class Constraint>
AbstractData* threeIntegers() {
    auto* list = new ASN1::SEQUENCE_OF<ASN1::INTEGER, Constraint>();
    for (int i = 0; i < 3; ++i) list->push_back(ASN1::INTEGER(i));
    return list;
}

ZGCP::Message ping() {
    ZGCP::Message message;
    message.set_pdu().select_command().select_ping();
    return message;
}

TEST(ValidChecker, ValidAndStrictlyValid) {
    struct Case {
        char const* what;
        std::function<AbstractData*()> make;
        bool valid;
        bool strictlyValid;
    };
    Case const cases[] = {
        {"every kind, its cause an extension value", [] { return Fixture::everyKind().clone(); }, true, false},
        {"a CHOICE from create", [] { return new ZGCP::BpcTestMode(); }, false, false},
        {"a known extension alternative",
         [] {
             auto* value = new Fixture::Alternatives();
             value->select_y() = 7u;
             return value;
         },
         true, false},
        {"an extension alternative out of range",
         [] {
             auto* value = new Fixture::Alternatives();
             value->select_y() = 256u;
             return value;
         },
         false, false},
        {"3 elements, extensible size 1..2", threeIntegers<OneToTwoExtensible>, true, false},
        {"3 elements, fixed size 1..2", threeIntegers<OneToTwo>, false, false},
        {"an empty open type", [] { return new ASN1::OpenData(); }, false, false},
        {"an open type holding octets only",
         [] {
             auto* value = new ASN1::OpenData();
             value->grab(new std::vector<char>{'\x05', '\x00'});
             return value;
         },
         true, true},
        {"an open type holding an invalid value",
         [] { return new ASN1::OpenData(new ZGCP::BpcTestMode(), &ASN1::OpenData::theInfo); }, false, false},
        {"an absent OPTIONAL field out of range",
         [] {
             ZGCP::Message message = ping();
             message.set_slot(2000);
             message.omit_slot();
             return message.clone();
         },
         true, true},
        {"a present OPTIONAL field out of range",
         [] {
             ZGCP::Message message = ping();
             message.set_slot(2000);
             return message.clone();
         },
         false, false},
        {"a known extension addition out of range",
         [] {
             Fixture::Kinds value = Fixture::everyKind();
             value.set_later() = 300u;
             return value.clone();
         },
         false, false},
        {"11 in the extensible range 0..10",
         [] { return new ASN1::Constrained_INTEGER<ASN1::ExtendableConstraint, 0, 10>(11); }, true, false},
        {"13 in an extensible enumeration up to 12",
         [] {
             auto* cause = new ZGCP::ErrorCause();
             cause->setFromInt(13);
             return cause;
         },
         true, false},
        {"2 in an enumeration up to 1",
         [] {
             auto* mode = new ZGCP::TrunkMode();
             mode->setFromInt(2);
             return mode;
         },
         false, false},
    };
    for (Case const& c : cases) {
        std::unique_ptr<AbstractData> const value(c.make());
        EXPECT_EQ(c.valid, value->isValid()) << c.what;
        EXPECT_EQ(c.strictlyValid, value->isStrictlyValid()) << c.what;
        ASN1::ValidChecker valid;
        EXPECT_EQ(c.valid, value->accept(valid)) << c.what;
        ASN1::StrictlyValidChecker strict;
        EXPECT_EQ(c.strictlyValid, value->accept(strict)) << c.what;
    }
}

}  // namespace
