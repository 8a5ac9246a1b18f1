// The generated ZGCP classes: accessors, typed constructors, records, copies and the
// values the run-time makes from the records.

#include "messages/zgcp.h"

#include "messages/zarngw.h"

#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>

#include <gtest/gtest.h>

namespace {

using Slot = ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023>;

TEST(ZgcpClasses, FreshMessageHasNoOptionalFieldAndNothingSelected) {
    ZGCP::Message message;
    EXPECT_FALSE(message.seq_isPresent());
    EXPECT_FALSE(message.slot_isPresent());
    EXPECT_EQ(ASN1::CHOICE::noSelection, message.get_pdu().currentSelection());
    EXPECT_EQ(typeid(ZGCP::PDU), typeid(*message.getField(2)));

    message.set_seq(5);
    EXPECT_TRUE(message.seq_isPresent());
    EXPECT_EQ(5, message.get_seq().getValue());
    message.omit_seq();
    EXPECT_FALSE(message.seq_isPresent());

    message.set_slot(1023);
    EXPECT_TRUE(message.slot_isPresent());
    EXPECT_EQ(1023u, message.get_slot().getValue());
    EXPECT_EQ(typeid(Slot), typeid(message.get_slot()));
}

TEST(ZgcpClasses, SelectDiscardsTheHeldAlternative) {
    ZGCP::Command command;
    command.select_connect(7);
    ASSERT_TRUE(command.connect_isSelected());
    EXPECT_EQ(7u, command.get_connect().getValue());
    command.select_ping();
    EXPECT_TRUE(command.ping_isSelected());
    EXPECT_FALSE(command.connect_isSelected());
    EXPECT_FALSE(command.query_isSelected());
    EXPECT_EQ(ZGCP::Command::ping::id, command.currentSelection());

    // A structured alternative is filled in place after select_.
    ZGCP::ClockCfg& clock = command.select_clockCfg();
    clock.set_clkSel0(ZGCP::ClkSel0::external);
    clock.set_bextEn(ZGCP::BExtEn::disabled);
    clock.set_source(2);
    ASSERT_TRUE(command.clockCfg_isSelected());
    EXPECT_TRUE(command.get_clockCfg().get_bextEn().is_disabled());
    EXPECT_EQ(ZGCP::ClkSel0::external, static_cast<ZGCP::ClkSel0::NamedNumber>(command.get_clockCfg().get_clkSel0()));
}

TEST(ZgcpClasses, TypedConstructorsHoldACopyAsTheirAlternative) {
    ZGCP::Signal abort(ZGCP::Signal::abort::id, 3);
    EXPECT_EQ(7, abort.currentSelection());
    EXPECT_EQ(3, abort.get_abort().getValue());

    ZGCP::Signal number(ZGCP::Signal::number::id, std::string("0815"));
    EXPECT_EQ("0815", std::string(number.get_number()));
    ZGCP::Signal deactivated(ZGCP::Signal::deactivated::id, ZGCP::DeactivateCause::otherError);
    EXPECT_TRUE(deactivated.get_deactivated().is_otherError());
    ZGCP::Signal activated(ZGCP::Signal::activated::id, ASN1::Null());
    EXPECT_TRUE(activated.activated_isSelected());
    ZGCP::Signal userData(ZGCP::Signal::userData::id, std::vector<char>{'\0', 'x'});
    EXPECT_EQ(2u, userData.get_userData().size());

    ZGCP::TonecEvent event;
    event.set_timestamp(99);
    event.set_event().select_dtmf(11);
    ZGCP::Signal tonec(ZGCP::Signal::tonec::id, event);
    event.set_timestamp(100);
    ASSERT_TRUE(tonec.tonec_isSelected());
    EXPECT_EQ(99, tonec.get_tonec().get_timestamp().getValue());
    EXPECT_EQ(11u, tonec.get_tonec().get_event().get_dtmf().getValue());
    EXPECT_EQ(typeid(ZGCP::TonecEvent), typeid(*tonec.getSelection()));
}

TEST(ZgcpClasses, ResponsesAreBuiltAsTheControlLinkBuildsThem) {
    ZGCP::Message response;
    response.set_seq(1);
    response.set_pdu().select_response().select_error(ZGCP::ErrorCause::unexpectedMsgType);
    ASSERT_TRUE(response.get_pdu().response_isSelected());
    ZGCP::ErrorCause const& cause = response.get_pdu().get_response().get_error();
    EXPECT_TRUE(cause.is_unexpectedMsgType());
    EXPECT_EQ(std::string_view("unexpectedMsgType"), cause.getName());

    ZGCP::Signal signal;
    signal.select_power().set_main();
    response.set_pdu().select_signal(signal);
    EXPECT_TRUE(response.get_pdu().get_signal().get_power().is_main());
    EXPECT_FALSE(response.get_pdu().get_signal().get_power().is_both());
}

TEST(ZgcpClasses, RecordsCarryTheNumbersServicesDispatchOn) {
    struct Row {
        ASN1::ChoiceInfo const& info;
        bool extendable;
        unsigned roots;
        unsigned known;
    };
    Row const rows[] = {
        {ZGCP::PDU::theInfo, false, 3, 3},           {ZGCP::Command::theInfo, true, 15, 15},
        {ZGCP::Response::theInfo, false, 2, 2},      {ZGCP::CreateParams::theInfo, true, 19, 19},
        {ZGCP::IoctlParams::theInfo, true, 38, 38},  {ZGCP::IoctlResponse::theInfo, false, 9, 9},
        {ZGCP::Signal::theInfo, true, 23, 23},       {ZGCP::TonecCode::theInfo, true, 6, 7},
        {ZGCP::DisplayParams::theInfo, true, 7, 7},
    };
    for (Row const& row : rows) {
        EXPECT_EQ(0u, row.info.header.tag);
        EXPECT_EQ(row.extendable, row.info.extendable);
        EXPECT_EQ(row.roots, row.info.numChoices);
        EXPECT_EQ(row.known, row.info.numKnownChoices);
        EXPECT_EQ(nullptr, row.info.tags);
    }
    EXPECT_STREQ("spi-tdm", ZGCP::CreateParams::theInfo.selectionNames[16]);
    EXPECT_STREQ("trunk_bri", ZGCP::CreateParams::theInfo.selectionNames[ZGCP::CreateParams::trunk_bri::id]);
    EXPECT_STREQ("dtmfDone", ZGCP::TonecCode::theInfo.selectionNames[6]);
    EXPECT_EQ(37, ZGCP::IoctlParams::selcal::id);
    EXPECT_EQ(14, ZGCP::Command::protoZarn::id);

    ASN1::SequenceInfo const& message = ZGCP::Message::theInfo;
    EXPECT_EQ(16u, message.header.tag);
    EXPECT_FALSE(message.extendable);
    EXPECT_EQ(3u, message.numFields);
    EXPECT_EQ(2u, message.numOptional);
    EXPECT_EQ(0u, message.knownExtensions);
    EXPECT_EQ(0, message.fieldIds[0]);
    EXPECT_EQ(1, message.fieldIds[1]);
    EXPECT_EQ(-1, message.fieldIds[2]);
    EXPECT_EQ(&Slot::theInfo, message.fieldInfos[1]);
    EXPECT_STREQ("pdu", message.fieldNames[2]);

    ASN1::EnumeratedInfo const& cause = ZGCP::ErrorCause::theInfo;
    EXPECT_EQ(10u, cause.header.tag);
    EXPECT_TRUE(cause.extendable);
    EXPECT_EQ(12, cause.maximum);
    EXPECT_EQ(13u, cause.nameCount);
    EXPECT_STREQ("destroyInProgress", cause.names[12]);
}

TEST(ZgcpClasses, ListRecordsAreSharedByElementType) {
    // Both lists of IA5String (player file names and T.38 arguments) use one record.
    EXPECT_EQ(ZGCP::PlayerParams_file::theInfo.fieldInfos[0], ZGCP::T38Soft::theInfo.fieldInfos[5]);
    EXPECT_EQ(&ASN1::SEQUENCE_OF<ASN1::IA5String>::theInfo, ZGCP::T38Soft::theInfo.fieldInfos[5]);
    // The set of tone masks is a SET OF: tag 17.
    auto const* masks = static_cast<ASN1::SequenceOfInfo const*>(
        ZGCP::IoctlParams::theInfo.selectionInfos[ZGCP::IoctlParams::activateTonec::id]);
    EXPECT_EQ(17u, masks->constraint.header.tag);
    EXPECT_EQ(&ZGCP::TonecMask::theInfo, masks->elementInfo);

    // The mixer list's element is the inline type named after the list.
    ZGCP::Resources resources;
    ZGCP::MixerResources_subtype unit;
    unit.set_unit(2);
    unit.set_dpu_per_lms(9);
    resources.set_mixer().push_back(unit);
    ZGCP::MixerResources const& mixer = resources.get_mixer();
    ASSERT_EQ(1u, mixer.size());
    EXPECT_EQ(9, mixer[0].get_dpu_per_lms().getValue());
    EXPECT_STREQ("tdm_inputs", mixer[0].getFieldName(1));
}

TEST(ZgcpClasses, ValuesMadeFromRecordsAreOfTheGeneratedClasses) {
    std::unique_ptr<ASN1::AbstractData> made(ASN1::AbstractData::create(&ZGCP::Message::theInfo));
    ASSERT_NE(nullptr, made);
    EXPECT_EQ(typeid(ZGCP::Message), typeid(*made));

    ZGCP::Command command;
    for (int n = 0; n < static_cast<int>(ZGCP::Command::theInfo.numChoices); ++n) {
        ASSERT_TRUE(command.select(n)) << n;
        ASN1::AbstractData const& value = *command.getSelection();
        EXPECT_EQ(ZGCP::Command::theInfo.selectionInfos[n], value.info()) << n;
    }
    command.select(ZGCP::Command::create::id);
    EXPECT_EQ(typeid(ZGCP::CreateParams), typeid(*command.getSelection()));
    command.select(ZGCP::Command::protoZarn::id);
    EXPECT_EQ(typeid(ZARNGW::ProtoZarnPackets), typeid(*command.getSelection()));
    command.ref_protoZarn().set_packets().resize(2);
    EXPECT_EQ(typeid(ZARNGW::ProtoZarnPacket), typeid(command.get_protoZarn().get_packets()[1]));
}

TEST(ZgcpClasses, CopiesAreDeepAndCompareByValue) {
    ZGCP::Message message;
    message.set_slot(5);
    ZGCP::MapParams& map = message.set_pdu().select_command().select_create().select_map();
    map.set_transmitter().set_bus(3);
    map.set_transmitter().set_channel(127);

    std::unique_ptr<ZGCP::Message> copy(message.clone());
    EXPECT_EQ(typeid(ZGCP::Message), typeid(*copy));
    EXPECT_TRUE(*copy == message);
    ZGCP::MapParams const& copied = copy->get_pdu().get_command().get_create().get_map();
    EXPECT_TRUE(copied.transmitter_isPresent());
    EXPECT_FALSE(copied.receiver_isPresent());
    EXPECT_EQ(127u, copied.get_transmitter().get_channel().getValue());

    map.set_receiver().set_bus(1);
    EXPECT_TRUE(*copy != message);
    ZGCP::Message assigned;
    assigned = message;
    EXPECT_TRUE(assigned == message);
    map.omit_receiver();
    EXPECT_TRUE(assigned != message) << "an omitted field differs from a present one";
}

TEST(ZgcpClasses, SameTypeInTwoAlternativesTellsTheAlternativeByNumberOnly) {
    ZGCP::TrunkParams params;
    params.set_trunk(2);
    params.set_timeslot(31);
    ZGCP::CreateParams e1(ZGCP::CreateParams::trunk::id, params);
    ZGCP::CreateParams bri(ZGCP::CreateParams::trunk_bri::id, params);
    EXPECT_EQ(7, e1.currentSelection());
    EXPECT_EQ(8, bri.currentSelection());
    EXPECT_TRUE(e1.get_trunk() == bri.get_trunk_bri());
    EXPECT_TRUE(e1 != bri);
}

}  // namespace
