#include "asn1/visitor.h"

#include "asn1/asn1.h"

namespace ASN1 {

bool Visitor::do_visit(IntegerWithNamedNumber& value) { return visit(static_cast<INTEGER&>(value)); }

int Visitor::preVisitExtensionRoots(SEQUENCE&) { return Continue; }

int Visitor::visitExtensionRoot(SEQUENCE&, int, int) { return Fail; }

int Visitor::preVisitExtensions(SEQUENCE&) { return Continue; }

int Visitor::visitKnownExtension(SEQUENCE&, int, int) { return Fail; }

bool Visitor::visitUnknownExtensions(SEQUENCE&) { return true; }

bool Visitor::visit(SEQUENCE& value) {
    SequenceInfo const& type = *value.info();
    int result = preVisitExtensionRoots(value);
    if (result == Fail || result == Stop) return result == Stop;
    bool const intoExtensions = result != NoExtensions;

    int lastOptional = -1;
    for (unsigned i = 0; i < type.numFields; ++i) {
        int const presence = type.fieldIds[i];
        result = visitExtensionRoot(value, static_cast<int>(i), presence);
        if (result == Fail || result == Stop) return result == Stop;
        if (presence != -1) lastOptional = presence;
    }
    if (!intoExtensions) return true;

    result = preVisitExtensions(value);
    if (result != Continue) return result != Fail;
    for (unsigned i = type.numFields; i < value.getFieldCount(); ++i) {
        result = visitKnownExtension(value, static_cast<int>(i), ++lastOptional);
        if (result != Continue) return result != Fail;
    }
    return visitUnknownExtensions(value);
}

bool ConstVisitor::do_visit(AbstractData const&) { return true; }
bool ConstVisitor::do_visit(Null const& value) { return do_visit(static_cast<AbstractData const&>(value)); }
bool ConstVisitor::do_visit(BOOLEAN const& value) { return do_visit(static_cast<AbstractData const&>(value)); }
bool ConstVisitor::do_visit(INTEGER const& value) { return do_visit(static_cast<AbstractData const&>(value)); }
bool ConstVisitor::do_visit(IntegerWithNamedNumber const& value) {
    return do_visit(static_cast<INTEGER const&>(value));
}
bool ConstVisitor::do_visit(ENUMERATED const& value) { return do_visit(static_cast<AbstractData const&>(value)); }
bool ConstVisitor::do_visit(OBJECT_IDENTIFIER const& value) {
    return do_visit(static_cast<AbstractData const&>(value));
}
bool ConstVisitor::do_visit(BIT_STRING const& value) { return do_visit(static_cast<AbstractData const&>(value)); }
bool ConstVisitor::do_visit(OCTET_STRING const& value) { return do_visit(static_cast<AbstractData const&>(value)); }
bool ConstVisitor::do_visit(AbstractString const& value) {
    return do_visit(static_cast<AbstractData const&>(value));
}
bool ConstVisitor::do_visit(BMPString const& value) { return do_visit(static_cast<AbstractData const&>(value)); }
bool ConstVisitor::do_visit(CHOICE const& value) { return do_visit(static_cast<AbstractData const&>(value)); }
bool ConstVisitor::do_visit(OpenData const& value) { return do_visit(static_cast<AbstractData const&>(value)); }
bool ConstVisitor::do_visit(GeneralizedTime const& value) {
    return do_visit(static_cast<AbstractData const&>(value));
}
bool ConstVisitor::do_visit(SEQUENCE_OF_Base const& value) {
    return do_visit(static_cast<AbstractData const&>(value));
}

bool ConstVisitor::preVisitExtensionRoots(SEQUENCE const& value) {
    return do_visit(static_cast<AbstractData const&>(value));
}

bool ConstVisitor::visitExtensionRoot(SEQUENCE const&, int) { return false; }

bool ConstVisitor::preVisitExtensions(SEQUENCE const&) { return true; }

bool ConstVisitor::visitKnownExtension(SEQUENCE const&, int) { return false; }

bool ConstVisitor::afterVisitSequence(SEQUENCE const&) { return true; }

bool ConstVisitor::visit(SEQUENCE const& value) {
    SequenceInfo const& type = *value.info();
    if (!preVisitExtensionRoots(value)) return false;

    int lastOptional = -1;
    for (unsigned i = 0; i < type.numFields; ++i) {
        int const presence = type.fieldIds[i];
        bool const present = presence == -1 || value.hasOptionalField(static_cast<unsigned>(presence));
        if (present && !visitExtensionRoot(value, static_cast<int>(i))) return false;
        if (presence != -1) lastOptional = presence;
    }

    if (value.extensionMap().size() != 0) {
        if (!preVisitExtensions(value)) return false;
        for (unsigned i = type.numFields; i < value.getFieldCount(); ++i) {
            ++lastOptional;
            if (value.hasOptionalField(static_cast<unsigned>(lastOptional)) &&
                !visitKnownExtension(value, static_cast<int>(i)))
                return false;
        }
    }
    return afterVisitSequence(value);
}

}  // namespace ASN1
