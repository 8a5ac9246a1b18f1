#pragma once

// Test fixture: a few controller-protocol types written by hand in the shape the class
// generator emits, so that the run-time can be tested before the generated modules exist.
// The records are defined in fixture/zgcp_fixture.cpp. Alternatives whose types belong to
// other parts of the protocol stand on `Fixture::StandIn`, an empty extensible SEQUENCE.

#include <string>
#include <vector>

#include "asn1/asn1.h"

namespace Fixture {

// Stands in for the parameter types these tests do not build.
class StandIn : public ASN1::Concrete<StandIn, ASN1::SEQUENCE> {
public:
    static InfoType const theInfo;
    StandIn() : Concrete(&theInfo) {}
    StandIn(StandIn const&) = default;
    StandIn& operator=(StandIn const&) = default;
    ~StandIn() override;
};

}  // namespace Fixture

namespace ZGCP {

using Slot = ASN1::Constrained_INTEGER<(ASN1::ConstraintType)2, 0, 1023>;

// ErrorCause ::= ENUMERATED { invalidParams, ..., destroyInProgress, ... }
class ErrorCause : public ASN1::Concrete<ErrorCause, ASN1::ENUMERATED> {
public:
    enum NamedNumber : int {
        invalidParams = 0,
        insufficientResources = 1,
        invalidSlot = 2,
        slotNotExists = 3,
        unexpectedMsgType = 4,
        internal = 5,
        unsupported = 6,
        reconnectionFail = 7,
        disconnectFail = 8,
        connectFail = 9,
        busError = 10,
        slotIdBusy = 11,
        destroyInProgress = 12
    };
    static InfoType const theInfo;

    ErrorCause() : Concrete(&theInfo) {}
    ErrorCause(NamedNumber value) : Concrete(&theInfo) { setFromInt(value); }
    ErrorCause(ErrorCause const&) = default;
    ErrorCause& operator=(ErrorCause const&) = default;
    ErrorCause& operator=(NamedNumber value) {
        setFromInt(value);
        return *this;
    }
    ~ErrorCause() override;
    operator NamedNumber() const { return static_cast<NamedNumber>(asInt()); }

    bool is_invalidParams() const { return asInt() == invalidParams; }
    void set_invalidParams() { setFromInt(invalidParams); }
    bool is_unexpectedMsgType() const { return asInt() == unexpectedMsgType; }
    void set_unexpectedMsgType() { setFromInt(unexpectedMsgType); }
    bool is_destroyInProgress() const { return asInt() == destroyInProgress; }
    void set_destroyInProgress() { setFromInt(destroyInProgress); }
};

// Response ::= CHOICE { success NULL, error ErrorCause }
class Response : public ASN1::Concrete<Response, ASN1::CHOICE> {
public:
    struct success { enum Id { id = 0 }; };
    struct error { enum Id { id = 1 }; };
    static InfoType const theInfo;

    Response() : Concrete(&theInfo) {}
    Response(error::Id, ErrorCause const& value) : Concrete(&theInfo, error::id, value.clone()) {}
    Response(Response const&) = default;
    Response& operator=(Response const&) = default;
    ~Response() override;

    ASN1::Null& select_success() { return selected<ASN1::Null>(success::id); }
    bool success_isSelected() const { return currentSelection() == success::id; }
    ErrorCause& select_error() { return selected<ErrorCause>(error::id); }
    ErrorCause& select_error(ErrorCause::NamedNumber value) { return select_error() = value; }
    ErrorCause const& get_error() const { return static_cast<ErrorCause const&>(*getSelection()); }
    ErrorCause& ref_error() { return static_cast<ErrorCause&>(*getSelection()); }
    bool error_isSelected() const { return currentSelection() == error::id; }

private:
    template <class T>
    T& selected(int index) {
        return static_cast<T&>(*setSelection(index, AbstractData::create(theInfo.selectionInfos[index])));
    }
};

// TrunkMode ::= ENUMERATED { slave, master }
class TrunkMode : public ASN1::Concrete<TrunkMode, ASN1::ENUMERATED> {
public:
    enum NamedNumber : int { slave = 0, master = 1 };
    static InfoType const theInfo;

    TrunkMode() : Concrete(&theInfo) {}
    TrunkMode(NamedNumber value) : Concrete(&theInfo) { setFromInt(value); }
    TrunkMode(TrunkMode const&) = default;
    TrunkMode& operator=(TrunkMode const&) = default;
    TrunkMode& operator=(NamedNumber value) {
        setFromInt(value);
        return *this;
    }
    ~TrunkMode() override;
    operator NamedNumber() const { return static_cast<NamedNumber>(asInt()); }

    bool is_slave() const { return asInt() == slave; }
    void set_slave() { setFromInt(slave); }
    bool is_master() const { return asInt() == master; }
    void set_master() { setFromInt(master); }
};

// TrunkCfg ::= SEQUENCE { trunk INTEGER, mode TrunkMode }
class TrunkCfg : public ASN1::Concrete<TrunkCfg, ASN1::SEQUENCE> {
public:
    static InfoType const theInfo;

    TrunkCfg() : Concrete(&theInfo) {}
    TrunkCfg(TrunkCfg const&) = default;
    TrunkCfg& operator=(TrunkCfg const&) = default;
    ~TrunkCfg() override;

    ASN1::INTEGER const& get_trunk() const { return static_cast<ASN1::INTEGER const&>(*getField(0)); }
    ASN1::INTEGER& set_trunk(int value) { return ref_trunk() = value; }
    ASN1::INTEGER& ref_trunk() { return static_cast<ASN1::INTEGER&>(*getField(0)); }
    TrunkMode const& get_mode() const { return static_cast<TrunkMode const&>(*getField(1)); }
    TrunkMode& set_mode(TrunkMode::NamedNumber value) { return ref_mode() = value; }
    TrunkMode& ref_mode() { return static_cast<TrunkMode&>(*getField(1)); }
};

// BpcTestMode ::= CHOICE { read NULL, write NULL, disconnect NULL }
class BpcTestMode : public ASN1::Concrete<BpcTestMode, ASN1::CHOICE> {
public:
    struct read { enum Id { id = 0 }; };
    struct write { enum Id { id = 1 }; };
    struct disconnect { enum Id { id = 2 }; };
    static InfoType const theInfo;

    BpcTestMode() : Concrete(&theInfo) {}
    BpcTestMode(BpcTestMode const&) = default;
    BpcTestMode& operator=(BpcTestMode const&) = default;
    ~BpcTestMode() override;

    ASN1::Null& select_read() { return selected<ASN1::Null>(read::id); }
    bool read_isSelected() const { return currentSelection() == read::id; }
    ASN1::Null& select_write() { return selected<ASN1::Null>(write::id); }
    bool write_isSelected() const { return currentSelection() == write::id; }
    ASN1::Null& select_disconnect() { return selected<ASN1::Null>(disconnect::id); }
    bool disconnect_isSelected() const { return currentSelection() == disconnect::id; }

private:
    template <class T>
    T& selected(int index) {
        return static_cast<T&>(*setSelection(index, AbstractData::create(theInfo.selectionInfos[index])));
    }
};

// BpcTestParams ::= SEQUENCE { bus INTEGER (0..15), seed INTEGER, mode BpcTestMode,
//                              timeslot-start INTEGER (0..127), timeslot-length INTEGER (0..127) }
class BpcTestParams : public ASN1::Concrete<BpcTestParams, ASN1::SEQUENCE> {
public:
    using Bus = ASN1::Constrained_INTEGER<(ASN1::ConstraintType)2, 0, 15>;
    using Timeslot = ASN1::Constrained_INTEGER<(ASN1::ConstraintType)2, 0, 127>;
    static InfoType const theInfo;

    BpcTestParams() : Concrete(&theInfo) {}
    BpcTestParams(BpcTestParams const&) = default;
    BpcTestParams& operator=(BpcTestParams const&) = default;
    ~BpcTestParams() override;

    Bus const& get_bus() const { return static_cast<Bus const&>(*getField(0)); }
    Bus& set_bus(unsigned value) { return ref_bus() = value; }
    Bus& ref_bus() { return static_cast<Bus&>(*getField(0)); }
    ASN1::INTEGER const& get_seed() const { return static_cast<ASN1::INTEGER const&>(*getField(1)); }
    ASN1::INTEGER& set_seed(int value) { return ref_seed() = value; }
    ASN1::INTEGER& ref_seed() { return static_cast<ASN1::INTEGER&>(*getField(1)); }
    BpcTestMode const& get_mode() const { return static_cast<BpcTestMode const&>(*getField(2)); }
    BpcTestMode& set_mode() { return ref_mode(); }
    BpcTestMode& set_mode(BpcTestMode const& value) { return ref_mode() = value; }
    BpcTestMode& ref_mode() { return static_cast<BpcTestMode&>(*getField(2)); }
    Timeslot const& get_timeslot_start() const { return static_cast<Timeslot const&>(*getField(3)); }
    Timeslot& set_timeslot_start(unsigned value) { return ref_timeslot_start() = value; }
    Timeslot& ref_timeslot_start() { return static_cast<Timeslot&>(*getField(3)); }
    Timeslot const& get_timeslot_length() const { return static_cast<Timeslot const&>(*getField(4)); }
    Timeslot& set_timeslot_length(unsigned value) { return ref_timeslot_length() = value; }
    Timeslot& ref_timeslot_length() { return static_cast<Timeslot&>(*getField(4)); }
};

// Command ::= CHOICE { query NULL, testBpc BpcTestParams, connect INTEGER (0..1023),
//   disconnect NULL, create CreateParams, destroy NULL, activate TermActivateParams,
//   deactivate NULL, userData OCTET STRING, ioctl IoctlParams, trunkCfg TrunkCfg,
//   clockCfg ClockCfg, ping NULL, display DisplayParams, protoZarn ProtoZarnPackets, ... }
// create, activate, ioctl, clockCfg, display and protoZarn stand on Fixture::StandIn.
class Command : public ASN1::Concrete<Command, ASN1::CHOICE> {
public:
    struct query { enum Id { id = 0 }; };
    struct testBpc { enum Id { id = 1 }; };
    struct connect { enum Id { id = 2 }; };
    struct disconnect { enum Id { id = 3 }; };
    struct create { enum Id { id = 4 }; };
    struct destroy { enum Id { id = 5 }; };
    struct activate { enum Id { id = 6 }; };
    struct deactivate { enum Id { id = 7 }; };
    struct userData { enum Id { id = 8 }; };
    struct ioctl { enum Id { id = 9 }; };
    struct trunkCfg { enum Id { id = 10 }; };
    struct clockCfg { enum Id { id = 11 }; };
    struct ping { enum Id { id = 12 }; };
    struct display { enum Id { id = 13 }; };
    struct protoZarn { enum Id { id = 14 }; };
    static InfoType const theInfo;

    Command() : Concrete(&theInfo) {}
    Command(connect::Id, unsigned value) : Concrete(&theInfo, connect::id, new Slot(value)) {}
    Command(trunkCfg::Id, TrunkCfg const& value) : Concrete(&theInfo, trunkCfg::id, value.clone()) {}
    Command(Command const&) = default;
    Command& operator=(Command const&) = default;
    ~Command() override;

    ASN1::Null& select_query() { return selected<ASN1::Null>(query::id); }
    bool query_isSelected() const { return currentSelection() == query::id; }
    BpcTestParams& select_testBpc() { return selected<BpcTestParams>(testBpc::id); }
    BpcTestParams const& get_testBpc() const { return static_cast<BpcTestParams const&>(*getSelection()); }
    BpcTestParams& ref_testBpc() { return static_cast<BpcTestParams&>(*getSelection()); }
    bool testBpc_isSelected() const { return currentSelection() == testBpc::id; }
    Slot& select_connect() { return selected<Slot>(connect::id); }
    Slot& select_connect(unsigned value) { return select_connect() = value; }
    Slot const& get_connect() const { return static_cast<Slot const&>(*getSelection()); }
    Slot& ref_connect() { return static_cast<Slot&>(*getSelection()); }
    bool connect_isSelected() const { return currentSelection() == connect::id; }
    ASN1::Null& select_disconnect() { return selected<ASN1::Null>(disconnect::id); }
    bool disconnect_isSelected() const { return currentSelection() == disconnect::id; }
    bool create_isSelected() const { return currentSelection() == create::id; }
    ASN1::Null& select_destroy() { return selected<ASN1::Null>(destroy::id); }
    bool destroy_isSelected() const { return currentSelection() == destroy::id; }
    bool activate_isSelected() const { return currentSelection() == activate::id; }
    ASN1::Null& select_deactivate() { return selected<ASN1::Null>(deactivate::id); }
    bool deactivate_isSelected() const { return currentSelection() == deactivate::id; }
    ASN1::OCTET_STRING& select_userData() { return selected<ASN1::OCTET_STRING>(userData::id); }
    ASN1::OCTET_STRING& select_userData(std::vector<char> const& value) { return select_userData() = value; }
    ASN1::OCTET_STRING const& get_userData() const { return static_cast<ASN1::OCTET_STRING const&>(*getSelection()); }
    bool userData_isSelected() const { return currentSelection() == userData::id; }
    bool ioctl_isSelected() const { return currentSelection() == ioctl::id; }
    TrunkCfg& select_trunkCfg() { return selected<TrunkCfg>(trunkCfg::id); }
    TrunkCfg const& get_trunkCfg() const { return static_cast<TrunkCfg const&>(*getSelection()); }
    bool trunkCfg_isSelected() const { return currentSelection() == trunkCfg::id; }
    bool clockCfg_isSelected() const { return currentSelection() == clockCfg::id; }
    ASN1::Null& select_ping() { return selected<ASN1::Null>(ping::id); }
    bool ping_isSelected() const { return currentSelection() == ping::id; }
    bool display_isSelected() const { return currentSelection() == display::id; }
    bool protoZarn_isSelected() const { return currentSelection() == protoZarn::id; }

private:
    template <class T>
    T& selected(int index) {
        return static_cast<T&>(*setSelection(index, AbstractData::create(theInfo.selectionInfos[index])));
    }
};

// PDU ::= CHOICE { command Command, response Response, signal Signal }
// signal stands on Fixture::StandIn.
class PDU : public ASN1::Concrete<PDU, ASN1::CHOICE> {
public:
    struct command { enum Id { id = 0 }; };
    struct response { enum Id { id = 1 }; };
    struct signal { enum Id { id = 2 }; };
    static InfoType const theInfo;

    PDU() : Concrete(&theInfo) {}
    PDU(command::Id, Command const& value) : Concrete(&theInfo, command::id, value.clone()) {}
    PDU(response::Id, Response const& value) : Concrete(&theInfo, response::id, value.clone()) {}
    PDU(PDU const&) = default;
    PDU& operator=(PDU const&) = default;
    ~PDU() override;

    Command& select_command() { return selected<Command>(command::id); }
    Command& select_command(Command const& value) { return select_command() = value; }
    Command const& get_command() const { return static_cast<Command const&>(*getSelection()); }
    Command& ref_command() { return static_cast<Command&>(*getSelection()); }
    bool command_isSelected() const { return currentSelection() == command::id; }
    Response& select_response() { return selected<Response>(response::id); }
    Response& select_response(Response const& value) { return select_response() = value; }
    Response const& get_response() const { return static_cast<Response const&>(*getSelection()); }
    Response& ref_response() { return static_cast<Response&>(*getSelection()); }
    bool response_isSelected() const { return currentSelection() == response::id; }
    bool signal_isSelected() const { return currentSelection() == signal::id; }

private:
    template <class T>
    T& selected(int index) {
        return static_cast<T&>(*setSelection(index, AbstractData::create(theInfo.selectionInfos[index])));
    }
};

// Message ::= SEQUENCE { seq INTEGER OPTIONAL, slot INTEGER (0..1023) OPTIONAL, pdu PDU }
class Message : public ASN1::Concrete<Message, ASN1::SEQUENCE> {
public:
    static InfoType const theInfo;

    Message() : Concrete(&theInfo) {}
    Message(Message const&) = default;
    Message& operator=(Message const&) = default;
    ~Message() override;

    ASN1::INTEGER const& get_seq() const { return static_cast<ASN1::INTEGER const&>(*getField(0)); }
    ASN1::INTEGER& set_seq() {
        includeOptionalField(0, 0);
        return static_cast<ASN1::INTEGER&>(*getField(0));
    }
    ASN1::INTEGER& set_seq(int value) { return set_seq() = value; }
    bool seq_isPresent() const { return hasOptionalField(0); }
    void omit_seq() { removeOptionalField(0); }

    Slot const& get_slot() const { return static_cast<Slot const&>(*getField(1)); }
    Slot& set_slot() {
        includeOptionalField(1, 1);
        return static_cast<Slot&>(*getField(1));
    }
    Slot& set_slot(unsigned value) { return set_slot() = value; }
    bool slot_isPresent() const { return hasOptionalField(1); }
    void omit_slot() { removeOptionalField(1); }

    PDU const& get_pdu() const { return static_cast<PDU const&>(*getField(2)); }
    PDU& set_pdu() { return ref_pdu(); }
    PDU& set_pdu(PDU const& value) { return ref_pdu() = value; }
    PDU& ref_pdu() { return static_cast<PDU&>(*getField(2)); }
};

}  // namespace ZGCP

namespace HSP {

// StandbyCommand ::= ENUMERATED { none(0), standby(8), active(16), ... }: a sparse
// enumeration, whose names do not stand at the positions of their values.
class StandbyCommand : public ASN1::Concrete<StandbyCommand, ASN1::ENUMERATED> {
public:
    enum NamedNumber : int { none = 0, standby = 8, active = 16 };
    static InfoType const theInfo;

    StandbyCommand() : Concrete(&theInfo) {}
    StandbyCommand(NamedNumber value) : Concrete(&theInfo) { setFromInt(value); }
    StandbyCommand(StandbyCommand const&) = default;
    StandbyCommand& operator=(StandbyCommand const&) = default;
    StandbyCommand& operator=(NamedNumber value) {
        setFromInt(value);
        return *this;
    }
    ~StandbyCommand() override;
    operator NamedNumber() const { return static_cast<NamedNumber>(asInt()); }

    bool is_none() const { return asInt() == none; }
    void set_none() { setFromInt(none); }
    bool is_standby() const { return asInt() == standby; }
    void set_standby() { setFromInt(standby); }
    bool is_active() const { return asInt() == active; }
    void set_active() { setFromInt(active); }
};

}  // namespace HSP

namespace Fixture {

// Kinds ::= SEQUENCE {
//   flag BOOLEAN, small INTEGER (-128..127), big INTEGER (0..4294967295),
//   number INTEGER OPTIONAL, cause ZGCP.ErrorCause, octets OCTET STRING,
//   name IA5String (SIZE (1..64)) OPTIONAL, bits BIT STRING OPTIONAL,
//   oid OBJECT IDENTIFIER OPTIONAL, time GeneralizedTime OPTIONAL, wide BMPString OPTIONAL,
//   list SEQUENCE OF INTEGER OPTIONAL, mode ZGCP.BpcTestMode,
//   ...,
//   later INTEGER (0..255), trunk ZGCP.TrunkCfg }
// Every kind the coders handle, for their tests and the fuzz target.
class Kinds : public ASN1::Concrete<Kinds, ASN1::SEQUENCE> {
public:
    using Small = ASN1::Constrained_INTEGER<(ASN1::ConstraintType)2, -128, 127>;
    using Big = ASN1::Constrained_INTEGER<(ASN1::ConstraintType)2, 0, 4294967295u>;
    using Later = ASN1::Constrained_INTEGER<(ASN1::ConstraintType)2, 0, 255>;
    using List = ASN1::SEQUENCE_OF<ASN1::INTEGER>;
    struct name {
        class value_type : public ASN1::Concrete<value_type, ASN1::IA5String> {
        public:
            static InfoType const theInfo;
            value_type() : Concrete(std::string(), &theInfo) {}
            value_type(value_type const&) = default;
            value_type& operator=(value_type const&) = default;
            using IA5String::operator=;
            ~value_type() override;
        };
    };
    static InfoType const theInfo;

    Kinds() : Concrete(&theInfo) {}
    Kinds(Kinds const&) = default;
    Kinds& operator=(Kinds const&) = default;
    ~Kinds() override;

    ASN1::BOOLEAN& ref_flag() { return field<ASN1::BOOLEAN>(0); }
    Small& ref_small() { return field<Small>(1); }
    Big& ref_big() { return field<Big>(2); }
    ASN1::INTEGER& set_number() { return optional<ASN1::INTEGER>(0, 3); }
    ZGCP::ErrorCause& ref_cause() { return field<ZGCP::ErrorCause>(4); }
    ASN1::OCTET_STRING& ref_octets() { return field<ASN1::OCTET_STRING>(5); }
    name::value_type& set_name() { return optional<name::value_type>(1, 6); }
    ASN1::BIT_STRING& set_bits() { return optional<ASN1::BIT_STRING>(2, 7); }
    ASN1::OBJECT_IDENTIFIER& set_oid() { return optional<ASN1::OBJECT_IDENTIFIER>(3, 8); }
    ASN1::GeneralizedTime& set_time() { return optional<ASN1::GeneralizedTime>(4, 9); }
    ASN1::BMPString& set_wide() { return optional<ASN1::BMPString>(5, 10); }
    List& set_list() { return optional<List>(6, 11); }
    ZGCP::BpcTestMode& ref_mode() { return field<ZGCP::BpcTestMode>(12); }
    Later& set_later() { return optional<Later>(7, 13); }
    bool later_isPresent() const { return hasOptionalField(7); }
    ZGCP::TrunkCfg& set_trunk() { return optional<ZGCP::TrunkCfg>(8, 14); }
    bool trunk_isPresent() const { return hasOptionalField(8); }

private:
    template <class T>
    T& field(unsigned index) { return static_cast<T&>(*getField(index)); }
    template <class T>
    T& optional(unsigned presence, unsigned index) {
        includeOptionalField(presence, index);
        return field<T>(index);
    }
};

// Versioned ::= SEQUENCE { a INTEGER (0..7), ..., b INTEGER (0..255) }
// VersionedLater is the same type in a later version that adds c OCTET STRING after b.
class Versioned : public ASN1::Concrete<Versioned, ASN1::SEQUENCE> {
public:
    using A = ASN1::Constrained_INTEGER<(ASN1::ConstraintType)2, 0, 7>;
    using B = ASN1::Constrained_INTEGER<(ASN1::ConstraintType)2, 0, 255>;
    static InfoType const theInfo;

    Versioned() : Concrete(&theInfo) {}
    Versioned(Versioned const&) = default;
    Versioned& operator=(Versioned const&) = default;
    ~Versioned() override;

    A& ref_a() { return static_cast<A&>(*getField(0)); }
    B& set_b() {
        includeOptionalField(0, 1);
        return static_cast<B&>(*getField(1));
    }
    B const& get_b() const { return static_cast<B const&>(*getField(1)); }
    bool b_isPresent() const { return hasOptionalField(0); }
};

class VersionedLater : public ASN1::Concrete<VersionedLater, ASN1::SEQUENCE> {
public:
    static InfoType const theInfo;

    VersionedLater() : Concrete(&theInfo) {}
    VersionedLater(VersionedLater const&) = default;
    VersionedLater& operator=(VersionedLater const&) = default;
    ~VersionedLater() override;

    Versioned::A& ref_a() { return static_cast<Versioned::A&>(*getField(0)); }
    Versioned::B& set_b() {
        includeOptionalField(0, 1);
        return static_cast<Versioned::B&>(*getField(1));
    }
    ASN1::OCTET_STRING& set_c() {
        includeOptionalField(1, 2);
        return static_cast<ASN1::OCTET_STRING&>(*getField(2));
    }
};

// Alternatives ::= CHOICE { x NULL, ..., y INTEGER (0..255) }
class Alternatives : public ASN1::Concrete<Alternatives, ASN1::CHOICE> {
public:
    struct x { enum Id { id = 0 }; };
    struct y { enum Id { id = 1 }; };
    static InfoType const theInfo;

    Alternatives() : Concrete(&theInfo) {}
    Alternatives(Alternatives const&) = default;
    Alternatives& operator=(Alternatives const&) = default;
    ~Alternatives() override;

    ASN1::Null& select_x() { return static_cast<ASN1::Null&>(*setSelection(x::id, ASN1::AbstractData::create(theInfo.selectionInfos[x::id]))); }
    Versioned::B& select_y() { return static_cast<Versioned::B&>(*setSelection(y::id, ASN1::AbstractData::create(theInfo.selectionInfos[y::id]))); }
    Versioned::B const& get_y() const { return static_cast<Versioned::B const&>(*getSelection()); }
};

// A Kinds value with every field and both extension additions present, in values that both
// the coder and the value notation carry exactly.
inline Kinds everyKind() {
    Kinds value;
    value.ref_flag() = true;
    value.ref_small().setValue(-3);
    value.ref_big() = 4000000000u;
    value.set_number() = -70000;
    value.ref_cause().setFromInt(20);
    value.ref_octets() = std::vector<char>(300, 'o');
    value.set_name() = "gate way";
    value.set_bits().resize(17);
    value.set_oid().append(2);
    value.set_oid().append(999);
    value.set_time().set("20240229235959.5+0130");
    value.set_wide().assign(L"ok", 2);
    value.set_list().push_back(ASN1::INTEGER(4));
    value.set_list().push_back(ASN1::INTEGER(-4));
    value.ref_mode().select_disconnect();
    value.set_later() = 200u;
    value.set_trunk().set_mode(ZGCP::TrunkMode::master);
    return value;
}

}  // namespace Fixture
