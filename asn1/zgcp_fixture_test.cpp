// Tests of the generated-class shape that stands on the run-time (the fixture's records are
// in fixture/zgcp_fixture.cpp).

#include "asn1/zgcp_fixture.h"

#include <memory>
#include <typeinfo>

#include <gtest/gtest.h>

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
