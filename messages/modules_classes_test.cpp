// The generated classes of the modules beside ZGCP: MON as the agent link builds it, the
// TERM module's own sized string, the sparse and negative enumerations, the counter
// halves, the alternative named id, and the ZARNGW packet payload.

#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>

#include <gtest/gtest.h>

#include "messages/acp.h"
#include "messages/base.h"
#include "messages/hsp.h"
#include "messages/mon.h"
#include "messages/term.h"
#include "messages/zarngw.h"

namespace {

TEST(MonClasses, SetRequestIsBuiltAsTheAgentLinkBuildsIt) {
    MON::SnmpSetCommand command;
    command.set_uniq(1);
    MON::IniName& name = command.set_id().select_name();
    name.set_section("board");
    name.set_name("temperature");
    name.set_index(0);
    command.set_value("41");

    MON::Command setCommand;
    MON::SnmpSetCommands& commands = setCommand.select_snmp_set();
    commands.set_commands().push_back(command);
    command.set_uniq(2);  // the list holds a copy
    commands.set_commands().push_back(command);

    MON::Message message;
    message.set_pdu().select_command(setCommand);
    ASSERT_TRUE(message.get_pdu().command_isSelected());
    ASSERT_TRUE(message.get_pdu().get_command().snmp_set_isSelected());
    auto const& list = message.get_pdu().get_command().get_snmp_set().get_commands();
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ(1, list[0].get_uniq().getValue());
    EXPECT_EQ(2, list[1].get_uniq().getValue());
    ASSERT_TRUE(list[0].get_id().name_isSelected());
    EXPECT_EQ("temperature", std::string(list[0].get_id().get_name().get_name()));
    EXPECT_EQ("41", std::string(list[1].get_value()));

    MON::SnmpTrapsink sink;
    sink.set_host("10.0.0.1");
    sink.set_port(162);
    sink.omit_port();
    EXPECT_FALSE(sink.port_isPresent());

    MON::Command ping(MON::Command::ping::id, ASN1::Null());
    EXPECT_EQ(3, ping.currentSelection());
    EXPECT_TRUE(ping.ping_isSelected());
}

TEST(TermClasses, DnameHasItsOwnSizedStringRecord) {
    auto const& info = TERM::RtpParams::dname::value_type::theInfo;
    EXPECT_EQ(22u, info.constraint.header.tag);
    EXPECT_EQ(ASN1::FixedConstraint, info.constraint.constraintType);
    EXPECT_EQ(1, info.constraint.lowerLimit);
    EXPECT_EQ(64u, info.constraint.upperLimit);
    EXPECT_EQ(ASN1::IA5StringSet, info.characterSet);
    EXPECT_EQ(128u, info.characterSetSize);
    EXPECT_EQ(7u, info.numBitsUnaligned);
    EXPECT_EQ(8u, info.numBitsAligned);

    TERM::RtpParams params;
    EXPECT_FALSE(params.dname_isPresent());
    params.set_dname("gw-1");
    ASSERT_TRUE(params.dname_isPresent());
    EXPECT_EQ("gw-1", std::string(params.get_dname()));
    EXPECT_EQ(typeid(TERM::RtpParams::dname::value_type), typeid(params.get_dname()));
    EXPECT_TRUE(params.get_dname().isStrictlyValid());
    params.set_dname(std::string(65, 'x'));
    EXPECT_FALSE(params.get_dname().isStrictlyValid()) << "65 characters lie outside 1..64";
    params.set_dname("");
    EXPECT_FALSE(params.get_dname().isStrictlyValid());

    std::unique_ptr<TERM::RtpParams> copy(params.clone());
    EXPECT_EQ(typeid(TERM::RtpParams::dname::value_type), typeid(copy->get_dname()));

    params.set_ssrc(4294967295u);
    EXPECT_EQ(4294967295u, params.get_ssrc().getValue());
    EXPECT_EQ(1, params.set_ttl().getLowerLimit());
}

TEST(TermClasses, EnumerationsCarryTheirValues) {
    TERM::RadioStandby standby(TERM::RadioStandby::not_use);
    EXPECT_EQ(-1, standby.asInt());
    EXPECT_EQ(1, standby.getMaximum());
    EXPECT_FALSE(standby.extendable());
    EXPECT_EQ(std::string_view("not-use"), standby.getName());

    TERM::Payload payload;
    EXPECT_EQ(123, payload.getMaximum());
    payload = TERM::Payload::ptR2S;
    EXPECT_EQ(123, payload.asInt());
    payload.setFromInt(57);
    EXPECT_TRUE(payload.getName().empty()) << "14 to 122 have no name";

    TERM::IpQoSDSCP dscp;
    EXPECT_EQ(56, dscp.getMaximum());
    EXPECT_TRUE(dscp.setFromName("count"));
    EXPECT_EQ(23, dscp.asInt());
}

TEST(HspClasses, SparseEnumerationTableGivesValuesNotPositions) {
    auto const& info = HSP::StandbyCommand::theInfo;
    ASSERT_EQ(3u, info.nameCount);
    EXPECT_STREQ("none", info.names[0]);
    EXPECT_STREQ("standby=8", info.names[1]);
    EXPECT_STREQ("active=16", info.names[2]);
    EXPECT_EQ(16, info.maximum);
    EXPECT_TRUE(info.extendable);

    HSP::StandbyCommand command;
    command.set_standby();
    EXPECT_EQ(8, command.asInt());
    EXPECT_TRUE(command.is_standby());
    EXPECT_EQ(HSP::StandbyCommand::active, HSP::StandbyCommand(HSP::StandbyCommand::active));
}

TEST(BaseClasses, CounterHalvesComeLowFirst) {
    EXPECT_STREQ("low", BASE::INTEGER64Bits::theInfo.fieldNames[0]);
    EXPECT_STREQ("high", BASE::INTEGER64Bits::theInfo.fieldNames[1]);
    BASE::INTEGER64Bits count;
    count.set_low(-1);
    count.set_high(0);
    EXPECT_EQ(-1, count.get_low().getValue());
    EXPECT_EQ(-1, static_cast<ASN1::INTEGER const&>(*count.getField(0)).getValue());
}

TEST(AcpClasses, AlternativeNamedIdHasAScopedIdentifier) {
    ACP::ExtResourceID resource(ACP::ExtResourceID::id::Id::id, 12);
    EXPECT_EQ(1, resource.currentSelection());
    EXPECT_TRUE(resource.id_isSelected());
    EXPECT_EQ(12, resource.get_id().getValue());
    resource.select_all();
    EXPECT_FALSE(resource.id_isSelected());

    // Extension alternatives are numbered after the roots.
    EXPECT_EQ(6u, ACP::AcpCommand::theInfo.numChoices);
    EXPECT_EQ(17u, ACP::AcpCommand::theInfo.numKnownChoices);
    EXPECT_EQ(6, ACP::AcpCommand::channel_block::id);
}

TEST(ZarngwClasses, PayloadAlternativesGoWithTheMessageIdentifiersInOrder) {
    auto const& payload = ZARNGW::ProtoZarnPacketPayload::theInfo;
    auto const& ids = ZARNGW::ProtoZarnMsgID::theInfo;
    ASSERT_EQ(64u, payload.numChoices);
    ASSERT_EQ(64u, ids.nameCount);
    EXPECT_TRUE(payload.extendable);
    EXPECT_EQ(13056, ids.maximum);
    ZARNGW::ProtoZarnMsgID id;
    for (unsigned i = 0; i < 64; ++i) {
        std::string_view entry(ids.names[i]);
        EXPECT_EQ(std::string_view(payload.selectionNames[i]), entry.substr(0, entry.find('='))) << i;
    }
    id = ZARNGW::ProtoZarnMsgID::ali_server_p1;
    EXPECT_EQ(0x3300, id.asInt());
    EXPECT_EQ(63, ZARNGW::ProtoZarnPacketPayload::ali_server_p1::id);

    // Names that repeat the values of other names.
    EXPECT_EQ(255, ZARNGW::ProtoZarnAnalogGainIDV2::theInfo.maximum);
    EXPECT_EQ(ZARNGW::ProtoZarnAnalogGainIDV2::rdoc1, ZARNGW::ProtoZarnAnalogGainIDV2::min);

    ZARNGW::ProtoZarnPackets packets;
    ZARNGW::ProtoZarnPacket packet;
    packet.set_msgID(ZARNGW::ProtoZarnMsgID::gw_rad_ptt_on);
    packet.set_payload().select_gw_rad_ptt_on().set_channel(1);
    packets.set_packets().push_back(packet);
    std::unique_ptr<ZARNGW::ProtoZarnPackets> copy(packets.clone());
    EXPECT_TRUE(*copy == packets);
    EXPECT_TRUE(copy->get_packets()[0].get_payload().gw_rad_ptt_on_isSelected());
}

}  // namespace
