#pragma once

// The two visitor bases through which every coder, printer and checker walks a value.
//
// A visitor is started with `value.accept(visitor)`; the value's class calls the matching
// `visit`, which calls the visitor's hook for that class. Hooks descend by calling `accept`
// on components. `visit(SEQUENCE)` is not a hook but the walk over the fields, which calls
// the SEQUENCE hooks below.

namespace ASN1 {

class CoderEnv;
class AbstractData;
class Null;
class BOOLEAN;
class INTEGER;
class IntegerWithNamedNumber;
class ENUMERATED;
class OBJECT_IDENTIFIER;
class BIT_STRING;
class OCTET_STRING;
class AbstractString;
class BMPString;
class GeneralizedTime;
class CHOICE;
class SEQUENCE;
class SEQUENCE_OF_Base;
class OpenData;
class TypeConstrainedOpenData;

// A visitor that may change the value (the decoders fill values in place).
class Visitor {
public:
    // Step results of the SEQUENCE hooks.
    enum StepResult : int {
        Fail = 0,         // the walk ends with false
        Stop = 1,         // the walk ends with true
        NoExtensions = 2, // from preVisitExtensionRoots: visit the roots, then end with true;
                          // from visitExtensionRoot: next field; from the extension hooks:
                          // end with true
        Continue = 3      // go on, into the extension additions too
    };

    explicit Visitor(CoderEnv* env = nullptr) : env_(env) {}
    virtual ~Visitor() = default;

    CoderEnv* get_env() const { return env_; }

    bool visit(Null& value) { return do_visit(value); }
    bool visit(BOOLEAN& value) { return do_visit(value); }
    bool visit(INTEGER& value) { return do_visit(value); }
    bool visit(IntegerWithNamedNumber& value) { return do_visit(value); }
    bool visit(ENUMERATED& value) { return do_visit(value); }
    bool visit(OBJECT_IDENTIFIER& value) { return do_visit(value); }
    bool visit(BIT_STRING& value) { return do_visit(value); }
    bool visit(OCTET_STRING& value) { return do_visit(value); }
    bool visit(AbstractString& value) { return do_visit(value); }
    bool visit(BMPString& value) { return do_visit(value); }
    bool visit(GeneralizedTime& value) { return do_visit(value); }
    bool visit(CHOICE& value) { return do_visit(value); }
    bool visit(SEQUENCE_OF_Base& value) { return do_visit(value); }
    bool visit(OpenData& value) { return do_visit(value); }
    bool visit(TypeConstrainedOpenData& value) { return do_visit(value); }
    // The walk: preVisitExtensionRoots; every root field offered to visitExtensionRoot
    // (present or not, with its presence index, -1 for a mandatory field); then, unless
    // told otherwise, preVisitExtensions, each known extension addition to
    // visitKnownExtension, and visitUnknownExtensions.
    bool visit(SEQUENCE& value);

protected:
    virtual bool do_visit(Null& value) = 0;
    virtual bool do_visit(BOOLEAN& value) = 0;
    virtual bool do_visit(INTEGER& value) = 0;
    // Handled as an INTEGER unless overridden.
    virtual bool do_visit(IntegerWithNamedNumber& value);
    virtual bool do_visit(ENUMERATED& value) = 0;
    virtual bool do_visit(OBJECT_IDENTIFIER& value) = 0;
    virtual bool do_visit(OCTET_STRING& value) = 0;
    virtual bool do_visit(BIT_STRING& value) = 0;
    virtual bool do_visit(AbstractString& value) = 0;
    virtual bool do_visit(BMPString& value) = 0;
    virtual bool do_visit(CHOICE& value) = 0;
    virtual bool do_visit(SEQUENCE_OF_Base& value) = 0;
    virtual bool do_visit(OpenData& value) = 0;
    // A second pass that decodes an open type's held octets into its held value.
    virtual bool do_revisit(OpenData& value) = 0;
    virtual bool do_visit(TypeConstrainedOpenData& value) = 0;
    virtual bool do_visit(GeneralizedTime& value) = 0;

    virtual int preVisitExtensionRoots(SEQUENCE& value);
    virtual int visitExtensionRoot(SEQUENCE& value, int index, int presence);
    virtual int preVisitExtensions(SEQUENCE& value);
    virtual int visitKnownExtension(SEQUENCE& value, int index, int presence);
    virtual bool visitUnknownExtensions(SEQUENCE& value);

private:
    CoderEnv* env_;
};

// A visitor that only reads the value. Every hook falls back on do_visit(AbstractData),
// which answers true.
class ConstVisitor {
public:
    ConstVisitor() = default;
    virtual ~ConstVisitor() = default;

    bool visit(Null const& value) { return do_visit(value); }
    bool visit(BOOLEAN const& value) { return do_visit(value); }
    bool visit(INTEGER const& value) { return do_visit(value); }
    bool visit(IntegerWithNamedNumber const& value) { return do_visit(value); }
    bool visit(ENUMERATED const& value) { return do_visit(value); }
    bool visit(OBJECT_IDENTIFIER const& value) { return do_visit(value); }
    bool visit(BIT_STRING const& value) { return do_visit(value); }
    bool visit(OCTET_STRING const& value) { return do_visit(value); }
    bool visit(AbstractString const& value) { return do_visit(value); }
    bool visit(BMPString const& value) { return do_visit(value); }
    bool visit(GeneralizedTime const& value) { return do_visit(value); }
    bool visit(CHOICE const& value) { return do_visit(value); }
    bool visit(SEQUENCE_OF_Base const& value) { return do_visit(value); }
    bool visit(OpenData const& value) { return do_visit(value); }
    // The walk: preVisitExtensionRoots; visitExtensionRoot for every mandatory and every
    // present OPTIONAL root field; when the extension map has any bit, preVisitExtensions
    // and visitKnownExtension for every present known extension addition; then
    // afterVisitSequence, whose answer is the walk's.
    bool visit(SEQUENCE const& value);

protected:
    virtual bool do_visit(AbstractData const& value);
    virtual bool do_visit(Null const& value);
    virtual bool do_visit(BOOLEAN const& value);
    virtual bool do_visit(INTEGER const& value);
    // Handled as an INTEGER unless overridden.
    virtual bool do_visit(IntegerWithNamedNumber const& value);
    virtual bool do_visit(ENUMERATED const& value);
    virtual bool do_visit(OBJECT_IDENTIFIER const& value);
    virtual bool do_visit(BIT_STRING const& value);
    virtual bool do_visit(OCTET_STRING const& value);
    virtual bool do_visit(AbstractString const& value);
    virtual bool do_visit(BMPString const& value);
    virtual bool do_visit(CHOICE const& value);
    virtual bool do_visit(OpenData const& value);
    virtual bool do_visit(GeneralizedTime const& value);
    virtual bool do_visit(SEQUENCE_OF_Base const& value);

    virtual bool preVisitExtensionRoots(SEQUENCE const& value);
    virtual bool visitExtensionRoot(SEQUENCE const& value, int index);
    virtual bool preVisitExtensions(SEQUENCE const& value);
    virtual bool visitKnownExtension(SEQUENCE const& value, int index);
    virtual bool afterVisitSequence(SEQUENCE const& value);
};

}  // namespace ASN1
