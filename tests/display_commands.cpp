#include "tests/display_commands.h"

namespace testsupport {

ZGCP::DisplayParams boardDisplay(int position, std::string const& version,
                                 ZGCP::ExtBoardStatus::NamedNumber status, ZGCP::ExtBoardType::NamedNumber type)
{
    ZGCP::BoardStatusParams b;
    b.set_position(position);
    b.set_version(std::vector<char>(version.begin(), version.end()));
    b.set_status(status);
    b.set_type(type);
    return ZGCP::DisplayParams(ZGCP::DisplayParams::board::id, ZGCP::BoardInfo(ZGCP::BoardInfo::boardStatus::id, b));
}

ZGCP::DisplayParams phoneDisplay(int id)
{
    ZGCP::EmPhoneStatusParams p;
    p.set_id(id);
    p.set_panelSV({'p'});
    p.set_ctrlSV({'c'});
    p.set_fpgaSV({'f'});
    p.set_status(ZGCP::EmPhoneStatus::ready);
    p.set_powerStatus(ZGCP::POWERStatus::both);
    p.set_mode(ZGCP::EmPhoneMode::sleep);
    p.set_hookStatus(ZGCP::EmPhoneConnectionStatus::connected);
    p.set_baseStatus(ZGCP::EmPhoneConnectionStatus::disconnected);
    return ZGCP::DisplayParams(ZGCP::DisplayParams::emPhone::id, ZGCP::EmPhoneInfo(ZGCP::EmPhoneInfo::phoneStatus::id, p));
}

ZGCP::DisplayParams counterDisplay(ZGCP::TermCounterOwner::NamedNumber owner, std::optional<int> ownerId,
                                   int count)
{
    ZGCP::TermCounter c;
    c.set_owner(owner);
    if (ownerId)
        c.set_ownerId(*ownerId);
    c.set_cnt(count);
    return ZGCP::DisplayParams(ZGCP::DisplayParams::termCounter::id, c);
}

ZGCP::DisplayParams controllerDisplay(std::string const& address, unsigned port,
                                      HSP::ControllerStatus::NamedNumber status)
{
    ZGCP::ControllerInfo c;
    c.set_host().set_iaddr(address);
    c.set_host().set_port(port);
    c.set_status(status);
    return ZGCP::DisplayParams(ZGCP::DisplayParams::controller::id, c);
}

ZGCP::DisplayParams snmpSetDisplay(std::string const& section, std::string const& name, int index,
                                   std::string const& value, int uniq)
{
    MON::SnmpSetCommands commands;
    MON::SnmpSetCommand c;
    c.set_uniq(uniq);
    MON::IniName& id = c.set_id().select_name();
    id.set_section(section);
    id.set_name(name);
    id.set_index(index);
    c.set_value(value);
    commands.set_commands().push_back(c);
    return ZGCP::DisplayParams(ZGCP::DisplayParams::snmp_set::id, commands);
}

ZGCP::DisplayParams framerDisplay(unsigned e1, bool line, bool on)
{
    ZGCP::FramerInfo f;
    f.set_e1(e1);
    if (line)
        f.set_info().select_line(on);
    else
        f.set_info().select_link(on);
    return ZGCP::DisplayParams(ZGCP::DisplayParams::framer::id, f);
}

ZGCP::DisplayParams trapReceiversDisplay(std::vector<std::string> const& hosts)
{
    ASN1::SEQUENCE_OF<ASN1::IA5String> receivers;
    for (std::string const& h : hosts)
        receivers.push_back(ASN1::IA5String(h));
    return ZGCP::DisplayParams(ZGCP::DisplayParams::snmpTrapReceivers::id, receivers);
}

ZGCP::Command displayCommand(ZGCP::DisplayParams const& params)
{
    return ZGCP::Command(ZGCP::Command::display::id, params);
}

}  // namespace testsupport
