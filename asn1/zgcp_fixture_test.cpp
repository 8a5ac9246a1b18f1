// Records of the hand-written fixture types (as the class generator emits them), and the
// tests of the generated-class shape that stands on the run-time.

#include "asn1/zgcp_fixture.h"

#include <memory>
#include <typeinfo>

#include <gtest/gtest.h>

using ASN1::createValue;
using ASN1::FixedConstraint;

namespace Fixture {

StandIn::InfoType const StandIn::theInfo = {{&createValue<StandIn>, 16}, true, nullptr, nullptr, 0, 0, 0,
                                            nullptr, nullptr, nullptr};
StandIn::~StandIn() = default;

}  // namespace Fixture

namespace ZGCP {

namespace {

char const* const ErrorCause_enum_names__[] = {
    "invalidParams",    "insufficientResources", "invalidSlot",    "slotNotExists", "unexpectedMsgType",
    "internal",         "unsupported",           "reconnectionFail", "disconnectFail", "connectFail",
    "busError",         "slotIdBusy",            "destroyInProgress"};

void const* const Response_selectionInfos[] = {&ASN1::Null::theInfo, &ErrorCause::theInfo};
char const* const Response_selectionNames[] = {"success", "error"};

char const* const TrunkMode_enum_names__[] = {"slave", "master"};

void const* const TrunkCfg_fieldInfos[] = {&ASN1::INTEGER::theInfo, &TrunkMode::theInfo};
int const TrunkCfg_fieldIds[] = {-1, -1};
char const* const TrunkCfg_fieldNames[] = {"trunk", "mode"};

void const* const BpcTestMode_selectionInfos[] = {&ASN1::Null::theInfo, &ASN1::Null::theInfo, &ASN1::Null::theInfo};
char const* const BpcTestMode_selectionNames[] = {"read", "write", "disconnect"};

void const* const BpcTestParams_fieldInfos[] = {&BpcTestParams::Bus::theInfo, &ASN1::INTEGER::theInfo,
                                                &BpcTestMode::theInfo, &BpcTestParams::Timeslot::theInfo,
                                                &BpcTestParams::Timeslot::theInfo};
int const BpcTestParams_fieldIds[] = {-1, -1, -1, -1, -1};
char const* const BpcTestParams_fieldNames[] = {"bus", "seed", "mode", "timeslot-start", "timeslot-length"};

void const* const Command_selectionInfos[] = {
    &ASN1::Null::theInfo,         &BpcTestParams::theInfo, &Slot::theInfo,
    &ASN1::Null::theInfo,         &Fixture::StandIn::theInfo, &ASN1::Null::theInfo,
    &Fixture::StandIn::theInfo,   &ASN1::Null::theInfo,       &ASN1::OCTET_STRING::theInfo,
    &Fixture::StandIn::theInfo,   &TrunkCfg::theInfo,         &Fixture::StandIn::theInfo,
    &ASN1::Null::theInfo,         &Fixture::StandIn::theInfo, &Fixture::StandIn::theInfo};
char const* const Command_selectionNames[] = {"query",    "testBpc",  "connect",    "disconnect", "create",
                                              "destroy",  "activate", "deactivate", "userData",   "ioctl",
                                              "trunkCfg", "clockCfg", "ping",       "display",    "protoZarn"};

void const* const PDU_selectionInfos[] = {&Command::theInfo, &Response::theInfo, &Fixture::StandIn::theInfo};
char const* const PDU_selectionNames[] = {"command", "response", "signal"};

void const* const Message_fieldInfos[] = {&ASN1::INTEGER::theInfo, &Slot::theInfo, &PDU::theInfo};
int const Message_fieldIds[] = {0, 1, -1};
char const* const Message_fieldNames[] = {"seq", "slot", "pdu"};

}  // namespace

ErrorCause::InfoType const ErrorCause::theInfo = {{&createValue<ErrorCause>, 10}, true, 12, ErrorCause_enum_names__, 13};
ErrorCause::~ErrorCause() = default;

Response::InfoType const Response::theInfo = {{&createValue<Response>, 0}, false, Response_selectionInfos, 2, 2,
                                              nullptr, Response_selectionNames};
Response::~Response() = default;

TrunkMode::InfoType const TrunkMode::theInfo = {{&createValue<TrunkMode>, 10}, false, 1, TrunkMode_enum_names__, 2};
TrunkMode::~TrunkMode() = default;

TrunkCfg::InfoType const TrunkCfg::theInfo = {{&createValue<TrunkCfg>, 16}, false, TrunkCfg_fieldInfos,
                                              TrunkCfg_fieldIds, 2, 0, 0, nullptr, nullptr, TrunkCfg_fieldNames};
TrunkCfg::~TrunkCfg() = default;

BpcTestMode::InfoType const BpcTestMode::theInfo = {{&createValue<BpcTestMode>, 0}, false, BpcTestMode_selectionInfos,
                                                    3, 3, nullptr, BpcTestMode_selectionNames};
BpcTestMode::~BpcTestMode() = default;

BpcTestParams::InfoType const BpcTestParams::theInfo = {
    {&createValue<BpcTestParams>, 16}, false, BpcTestParams_fieldInfos, BpcTestParams_fieldIds, 5, 0, 0, nullptr,
    nullptr, BpcTestParams_fieldNames};
BpcTestParams::~BpcTestParams() = default;

Command::InfoType const Command::theInfo = {{&createValue<Command>, 0}, true, Command_selectionInfos, 15, 15,
                                            nullptr, Command_selectionNames};
Command::~Command() = default;

PDU::InfoType const PDU::theInfo = {{&createValue<PDU>, 0}, false, PDU_selectionInfos, 3, 3, nullptr,
                                    PDU_selectionNames};
PDU::~PDU() = default;

Message::InfoType const Message::theInfo = {{&createValue<Message>, 16}, false, Message_fieldInfos, Message_fieldIds,
                                            3, 0, 2, nullptr, nullptr, Message_fieldNames};
Message::~Message() = default;

}  // namespace ZGCP

namespace HSP {

namespace {

char const* const StandbyCommand_enum_names__[] = {"none", "standby=8", "active=16"};

}  // namespace

StandbyCommand::InfoType const StandbyCommand::theInfo = {{&createValue<StandbyCommand>, 10}, true, 16,
                                                          StandbyCommand_enum_names__, 3};
StandbyCommand::~StandbyCommand() = default;

}  // namespace HSP

namespace {

TEST(GeneratedShape, FreshMessageHasOptionalFieldsAbsentAndNothingSelected) {
    ZGCP::Message message;
    EXPECT_FALSE(message.seq_isPresent());
    EXPECT_FALSE(message.slot_isPresent());
    EXPECT_EQ(ASN1::CHOICE::noSelection, message.get_pdu().currentSelection());
    // The pdu field was made by its record's factory, so it really is a ZGCP::PDU.
    EXPECT_EQ(typeid(ZGCP::PDU), typeid(*message.getField(2)));
}

TEST(GeneratedShape, OptionalFieldAccessorsSetTestAndOmit) {
    ZGCP::Message message;
    message.set_seq(5);
    EXPECT_TRUE(message.seq_isPresent());
    EXPECT_EQ(5, message.get_seq().getValue());
    message.omit_seq();
    EXPECT_FALSE(message.seq_isPresent());
    EXPECT_EQ(5, message.get_seq().getValue()) << "omitting keeps the value in its slot";

    message.set_slot(1023);
    EXPECT_TRUE(message.slot_isPresent());
    EXPECT_EQ(1023u, message.get_slot().getValue());
    EXPECT_EQ(typeid(ZGCP::Slot), typeid(*message.getField(1)));
}

TEST(GeneratedShape, SelectDiscardsTheHeldAlternative) {
    ZGCP::Command command;
    command.select_connect(7);
    EXPECT_TRUE(command.connect_isSelected());
    EXPECT_EQ(7u, command.get_connect().getValue());
    command.select_ping();
    EXPECT_TRUE(command.ping_isSelected());
    EXPECT_FALSE(command.connect_isSelected());
    EXPECT_EQ(12, command.currentSelection());
}

TEST(GeneratedShape, BuildsAnErrorResponseMessage) {
    ZGCP::Message message;
    message.set_seq(1);
    message.set_pdu().select_response().select_error(ZGCP::ErrorCause::unexpectedMsgType);
    ASSERT_TRUE(message.get_pdu().response_isSelected());
    ASSERT_TRUE(message.get_pdu().get_response().error_isSelected());
    EXPECT_TRUE(message.get_pdu().get_response().get_error().is_unexpectedMsgType());
    EXPECT_EQ(std::string_view("unexpectedMsgType"), message.get_pdu().get_response().get_error().getName());
}

TEST(GeneratedShape, TypedConstructorsHoldACopyAsTheAlternative) {
    ZGCP::TrunkCfg cfg;
    cfg.set_trunk(3);
    cfg.set_mode(ZGCP::TrunkMode::master);
    ZGCP::Command command(ZGCP::Command::trunkCfg::id, cfg);
    cfg.set_trunk(4);
    ASSERT_TRUE(command.trunkCfg_isSelected());
    EXPECT_EQ(3, command.get_trunkCfg().get_trunk().getValue());
    EXPECT_TRUE(command.get_trunkCfg().get_mode().is_master());

    ZGCP::Command connect(ZGCP::Command::connect::id, 9u);
    EXPECT_EQ(9u, connect.get_connect().getValue());
}

TEST(GeneratedShape, TypedCloneIsOfTheGeneratedClassWithTheSameContents) {
    ZGCP::Message message;
    message.set_slot(5);
    message.set_pdu().select_command().select_testBpc().set_timeslot_start(17);
    std::unique_ptr<ZGCP::Message> copy(message.clone());
    EXPECT_EQ(typeid(ZGCP::Message), typeid(*copy));
    EXPECT_EQ(&ZGCP::Message::theInfo, copy->info());
    EXPECT_TRUE(*copy == message);
    // Every component of the copy is of its generated class too, so the accessors hold.
    EXPECT_EQ(17u, copy->get_pdu().get_command().get_testBpc().get_timeslot_start().getValue());
    EXPECT_EQ(typeid(ZGCP::BpcTestParams), typeid(*copy->get_pdu().get_command().getSelection()));

    // The base's copy operation yields the generated class as well.
    std::unique_ptr<ASN1::AbstractData> generic(static_cast<ASN1::AbstractData const&>(message).clone());
    EXPECT_EQ(typeid(ZGCP::Message), typeid(*generic));
}

TEST(GeneratedShape, CopyAndAssignmentAreDeep) {
    ZGCP::Message message;
    message.set_pdu().select_command().select_userData({'a', 'b'});
    ZGCP::Message other;
    other = message;
    message.set_pdu().select_command().select_ping();
    ASSERT_TRUE(other.get_pdu().get_command().userData_isSelected());
    EXPECT_EQ(std::string("ab"), std::string(other.get_pdu().get_command().get_userData()));
    EXPECT_TRUE(other != message);
}

TEST(GeneratedShape, HyphenatedFieldsKeepTheirAsn1NamesInTheRecord) {
    ZGCP::BpcTestParams params;
    EXPECT_STREQ("timeslot-start", params.getFieldName(3));
    params.set_timeslot_length(127);
    params.set_mode().select_write();
    EXPECT_EQ(127u, params.get_timeslot_length().getValue());
    EXPECT_TRUE(params.get_mode().write_isSelected());
}

TEST(GeneratedShape, SparseEnumerationCarriesValuesNotPositions) {
    HSP::StandbyCommand command;
    EXPECT_TRUE(command.is_none());
    EXPECT_EQ(16, command.getMaximum());
    command.set_standby();
    EXPECT_EQ(8, command.asInt());
    EXPECT_EQ(std::string_view("standby"), command.getName());
    EXPECT_TRUE(command.setFromName("active"));
    EXPECT_EQ(HSP::StandbyCommand::active, static_cast<HSP::StandbyCommand::NamedNumber>(command));
    command.setFromInt(1);
    EXPECT_TRUE(command.getName().empty());
    EXPECT_FALSE(command.isStrictlyValid()) << "1 is below the maximum but no item declares it";
    EXPECT_TRUE(command.isValid()) << "the type is extensible";
}

}  // namespace
