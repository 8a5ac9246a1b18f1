#include "asn1/visitor.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/zgcp_fixture.h"

namespace {

using ASN1::INTEGER;
using ASN1::SEQUENCE;

// SEQUENCE { f0 INTEGER, f1 INTEGER OPTIONAL, f2 INTEGER, f3 INTEGER OPTIONAL, ..., e4, e5 }
void const* const infos[] = {&INTEGER::theInfo, &INTEGER::theInfo, &INTEGER::theInfo,
                             &INTEGER::theInfo, &INTEGER::theInfo, &INTEGER::theInfo};
int const mixedIds[] = {-1, 0, -1, 1, 0, 0};
char const* const names[] = {"f0", "f1", "f2", "f3", "e4", "e5"};
SEQUENCE::InfoType const mixed = {{&SEQUENCE::create, 16}, true, infos, mixedIds, 4, 2, 2, nullptr, nullptr, names};
int const mandatoryIds[] = {-1, -1};
SEQUENCE::InfoType const noOptional = {{&SEQUENCE::create, 16}, true, infos, mandatoryIds, 2, 2, 0, nullptr, nullptr,
                                       names};
SEQUENCE::InfoType const empty = {{&SEQUENCE::create, 16}, false, nullptr, nullptr, 0, 0, 0, nullptr, nullptr, nullptr};

// Records every hook it is called with, and answers the SEQUENCE hooks as told.
class RecordingVisitor : public ASN1::Visitor {
public:
    std::vector<std::string> calls;
    int rootsAnswer = Continue;
    int rootAnswer = Continue;
    int extensionsAnswer = Continue;
    int knownAnswer = Continue;

protected:
    bool note(std::string const& what) {
        calls.push_back(what);
        return true;
    }
    bool do_visit(ASN1::Null&) override { return note("Null"); }
    bool do_visit(ASN1::BOOLEAN&) override { return note("BOOLEAN"); }
    bool do_visit(INTEGER&) override { return note("INTEGER"); }
    bool do_visit(ASN1::ENUMERATED&) override { return note("ENUMERATED"); }
    bool do_visit(ASN1::OBJECT_IDENTIFIER&) override { return note("OBJECT_IDENTIFIER"); }
    bool do_visit(ASN1::OCTET_STRING&) override { return note("OCTET_STRING"); }
    bool do_visit(ASN1::BIT_STRING&) override { return note("BIT_STRING"); }
    bool do_visit(ASN1::AbstractString&) override { return note("AbstractString"); }
    bool do_visit(ASN1::BMPString&) override { return note("BMPString"); }
    bool do_visit(ASN1::CHOICE&) override { return note("CHOICE"); }
    bool do_visit(ASN1::SEQUENCE_OF_Base&) override { return note("SEQUENCE_OF"); }
    bool do_visit(ASN1::OpenData&) override { return note("OpenData"); }
    bool do_revisit(ASN1::OpenData&) override { return note("revisit"); }
    bool do_visit(ASN1::TypeConstrainedOpenData&) override { return note("TypeConstrainedOpenData"); }
    bool do_visit(ASN1::GeneralizedTime&) override { return note("GeneralizedTime"); }

    int preVisitExtensionRoots(SEQUENCE&) override {
        note("roots");
        return rootsAnswer;
    }
    int visitExtensionRoot(SEQUENCE&, int index, int presence) override {
        note("root " + std::to_string(index) + " " + std::to_string(presence));
        return rootAnswer;
    }
    int preVisitExtensions(SEQUENCE&) override {
        note("extensions");
        return extensionsAnswer;
    }
    int visitKnownExtension(SEQUENCE&, int index, int presence) override {
        note("known " + std::to_string(index) + " " + std::to_string(presence));
        return knownAnswer;
    }
    bool visitUnknownExtensions(SEQUENCE&) override { return note("unknown"); }
};

using Calls = std::vector<std::string>;

TEST(VisitorWalk, PreambleCanEndTheWalk) {
    SEQUENCE value(&mixed);
    RecordingVisitor stop;
    stop.rootsAnswer = ASN1::Visitor::Stop;
    EXPECT_TRUE(value.accept(stop));
    EXPECT_EQ(Calls{"roots"}, stop.calls);
    RecordingVisitor fail;
    fail.rootsAnswer = ASN1::Visitor::Fail;
    EXPECT_FALSE(value.accept(fail));
    EXPECT_EQ(Calls{"roots"}, fail.calls);
}

TEST(VisitorWalk, OffersEveryRootFieldWithItsPresenceIndex) {
    SEQUENCE value(&mixed);
    RecordingVisitor visitor;
    visitor.rootsAnswer = ASN1::Visitor::NoExtensions;
    EXPECT_TRUE(value.accept(visitor));
    EXPECT_EQ((Calls{"roots", "root 0 -1", "root 1 0", "root 2 -1", "root 3 1"}), visitor.calls);
}

TEST(VisitorWalk, GivesExtensionAdditionsThePresenceIndexesAfterTheRoots) {
    SEQUENCE value(&mixed);
    RecordingVisitor visitor;
    visitor.rootAnswer = ASN1::Visitor::NoExtensions;  // "next field" for a root
    EXPECT_TRUE(value.accept(visitor));
    EXPECT_EQ((Calls{"roots", "root 0 -1", "root 1 0", "root 2 -1", "root 3 1", "extensions", "known 4 2",
                     "known 5 3", "unknown"}),
              visitor.calls);

    SEQUENCE plain(&noOptional);
    RecordingVisitor first;
    EXPECT_TRUE(plain.accept(first));
    EXPECT_EQ((Calls{"roots", "root 0 -1", "root 1 -1", "extensions", "known 2 0", "known 3 1", "unknown"}),
              first.calls);
}

TEST(VisitorWalk, AnExtensionHookAnsweringOtherThanContinueEndsTheWalk) {
    SEQUENCE value(&mixed);
    RecordingVisitor known;
    known.knownAnswer = ASN1::Visitor::NoExtensions;
    EXPECT_TRUE(value.accept(known));
    EXPECT_EQ("known 4 2", known.calls.back()) << "neither the next addition nor the unknown ones";

    RecordingVisitor failing;
    failing.extensionsAnswer = ASN1::Visitor::Fail;
    EXPECT_FALSE(value.accept(failing));
    EXPECT_EQ("extensions", failing.calls.back());

    RecordingVisitor root;
    root.rootAnswer = ASN1::Visitor::Fail;
    EXPECT_FALSE(value.accept(root));
    EXPECT_EQ((Calls{"roots", "root 0 -1"}), root.calls);
}

// Records the fields it is offered; every hook succeeds.
class RecordingConstVisitor : public ASN1::ConstVisitor {
public:
    std::vector<std::string> calls;

protected:
    bool visitExtensionRoot(SEQUENCE const&, int index) override {
        calls.push_back("root " + std::to_string(index));
        return true;
    }
    bool preVisitExtensions(SEQUENCE const&) override {
        calls.push_back("extensions");
        return true;
    }
    bool visitKnownExtension(SEQUENCE const&, int index) override {
        calls.push_back("known " + std::to_string(index));
        return true;
    }
};

TEST(ConstVisitorWalk, OffersMandatoryAndPresentFieldsOnly) {
    SEQUENCE value(&mixed);
    value.includeOptionalField(1, 3);
    RecordingConstVisitor visitor;
    EXPECT_TRUE(static_cast<SEQUENCE const&>(value).accept(visitor));
    EXPECT_EQ((Calls{"root 0", "root 2", "root 3"}), visitor.calls) << "no extension bit: no extension hook";

    value.includeOptionalField(3, 5);
    EXPECT_EQ(2u, value.extensionMap().size());
    RecordingConstVisitor withExtension;
    EXPECT_TRUE(static_cast<SEQUENCE const&>(value).accept(withExtension));
    EXPECT_EQ((Calls{"root 0", "root 2", "root 3", "extensions", "known 5"}), withExtension.calls);
}

TEST(ConstVisitorWalk, DefaultsAcceptSimpleValuesAndRefuseFields) {
    ASN1::ConstVisitor visitor;
    EXPECT_TRUE(static_cast<INTEGER const&>(INTEGER(3)).accept(visitor));
    EXPECT_TRUE(static_cast<ASN1::AbstractData const&>(ASN1::OCTET_STRING()).accept(visitor));
    EXPECT_TRUE(static_cast<SEQUENCE const&>(SEQUENCE(&empty)).accept(visitor));
    EXPECT_FALSE(static_cast<SEQUENCE const&>(SEQUENCE(&mixed)).accept(visitor));
}

ASN1::NamedIntegerInfo const namedInfo = {{{&ASN1::IntegerWithNamedNumber::create, 2}, ASN1::Unconstrained, 0, 4294967295u},
                                          nullptr, 0};

class IntegerOnlyConstVisitor : public ASN1::ConstVisitor {
public:
    int integers = 0;

protected:
    bool do_visit(INTEGER const&) override {
        ++integers;
        return true;
    }
};

TEST(Dispatch, NamedIntegersFallBackOnTheIntegerHook) {
    ASN1::IntegerWithNamedNumber named(4, &namedInfo);
    RecordingVisitor visitor;
    EXPECT_TRUE(named.accept(visitor));
    EXPECT_EQ(Calls{"INTEGER"}, visitor.calls);
    IntegerOnlyConstVisitor reader;
    EXPECT_TRUE(static_cast<ASN1::AbstractData const&>(named).accept(reader));
    EXPECT_EQ(1, reader.integers);
}

TEST(Dispatch, EveryValueReachesTheHookOfItsClass) {
    ASN1::TypeConstrainedOpenInfo const contained = {{&ASN1::TypeConstrainedOpenData::create, 0}, &INTEGER::theInfo};
    std::vector<std::unique_ptr<ASN1::AbstractData>> values;
    for (void const* record :
         {static_cast<void const*>(&ASN1::Null::theInfo), static_cast<void const*>(&ASN1::BOOLEAN::theInfo),
          static_cast<void const*>(&INTEGER::theInfo), static_cast<void const*>(&ZGCP::ErrorCause::theInfo),
          static_cast<void const*>(&ASN1::OBJECT_IDENTIFIER::theInfo),
          static_cast<void const*>(&ASN1::OCTET_STRING::theInfo), static_cast<void const*>(&ASN1::BIT_STRING::theInfo),
          static_cast<void const*>(&ASN1::IA5String::theInfo), static_cast<void const*>(&ASN1::BMPString::theInfo),
          static_cast<void const*>(&ZGCP::PDU::theInfo), static_cast<void const*>(&ASN1::SEQUENCE_OF<INTEGER>::theInfo),
          static_cast<void const*>(&ASN1::OpenData::theInfo), static_cast<void const*>(&contained),
          static_cast<void const*>(&ASN1::GeneralizedTime::theInfo)})
        values.emplace_back(ASN1::AbstractData::create(record));
    RecordingVisitor visitor;
    for (auto& value : values) EXPECT_TRUE(value->accept(visitor));
    EXPECT_EQ((Calls{"Null", "BOOLEAN", "INTEGER", "ENUMERATED", "OBJECT_IDENTIFIER", "OCTET_STRING", "BIT_STRING",
                     "AbstractString", "BMPString", "CHOICE", "SEQUENCE_OF", "OpenData", "TypeConstrainedOpenData",
                     "GeneralizedTime"}),
              visitor.calls);
}

// Names the class each const hook sees.
class NamingConstVisitor : public ASN1::ConstVisitor {
public:
    std::string seen;

protected:
    bool do_visit(ASN1::OpenData const&) override {
        seen = "OpenData";
        return true;
    }
};

TEST(Dispatch, AConstVisitorSeesATypeConstrainedOpenTypeAsAnOpenType) {
    ASN1::TypeConstrainedOpenInfo const contained = {{&ASN1::TypeConstrainedOpenData::create, 0}, &INTEGER::theInfo};
    std::unique_ptr<ASN1::AbstractData> open(ASN1::AbstractData::create(&contained));
    NamingConstVisitor visitor;
    EXPECT_TRUE(static_cast<ASN1::AbstractData const&>(*open).accept(visitor));
    EXPECT_EQ("OpenData", visitor.seen);
}

}  // namespace
