#include "tests/fake_agent.h"

#include "tests/loop_pump.h"

namespace testsupport {

namespace {

std::string itemKey(MON::SnmpSetCommandId const& id)
{
    if (!id.name_isSelected())
        return id.oid_isSelected() ? std::string(id.get_oid()) : std::string("?");
    MON::IniName const& name = id.get_name();
    return std::string(name.get_section()) + "/" + std::string(name.get_name()) + "/" +
           std::to_string(name.get_index().getValue());
}

bool setCommands(MON::Message const& message, MON::SnmpSetCommands const*& commands)
{
    MON::PDU const& pdu = message.get_pdu();
    if (!pdu.command_isSelected() || !pdu.get_command().snmp_set_isSelected())
        return false;
    commands = &pdu.get_command().get_snmp_set();
    return true;
}

}  // namespace

std::string describeMon(MON::Message const& message, bool withUniq)
{
    MON::PDU const& pdu = message.get_pdu();
    if (pdu.response_isSelected())
        return "response";
    if (pdu.signal_isSelected())
        return "signal";
    if (!pdu.command_isSelected())
        return "other";
    MON::Command const& command = pdu.get_command();
    std::string text;
    if (command.ping_isSelected()) {
        text = "ping";
    } else if (command.snmp_trapsink_set_isSelected()) {
        text = "trapsinks";
        for (MON::SnmpTrapsink const& sink : command.get_snmp_trapsink_set().get_trapsinks())
            text += " " + std::string(sink.get_host()) + (sink.port_isPresent() ? ":port" : "");
    } else if (command.snmp_set_isSelected()) {
        text = "set";
        for (MON::SnmpSetCommand const& c : command.get_snmp_set().get_commands())
            text += " " + (withUniq ? std::to_string(c.get_uniq().getValue()) + ":" : "") + itemKey(c.get_id()) +
                    "=" + std::string(c.get_value());
    } else {
        text = "other";
    }
    return text;
}

void collectItems(MON::Message const& message, std::map<std::string, std::string>& items)
{
    MON::SnmpSetCommands const* commands = nullptr;
    if (!setCommands(message, commands))
        return;
    for (MON::SnmpSetCommand const& c : commands->get_commands())
        items[itemKey(c.get_id())] = c.get_value();
}

FakeAgent::FakeAgent(TcpClient::Waiting waiting, std::uint16_t port)
    : waiting_(waiting), listener_(4, port), link_(waiting)
{
}

bool FakeAgent::accept(int timeoutMs)
{
    Fd accepted;
    if (waiting_ == TcpClient::Waiting::Loop)
        runUntil([&] { return (accepted = listener_.accept(0)).is_valid(); }, timeoutMs);
    else
        accepted = listener_.accept(timeoutMs);
    if (!accepted.is_valid())
        return false;
    link_.tcp().adopt(std::move(accepted));
    return true;
}

bool FakeAgent::receive(MON::Message& message, int timeoutMs)
{
    Bytes body;
    if (!link_.receiveFrame(body, timeoutMs))
        return false;
    frames_.push_back(body);
    return decodePer(body, message);
}

std::string FakeAgent::receiveText(int timeoutMs)
{
    MON::Message message;
    std::size_t const before = frames_.size();
    if (receive(message, timeoutMs))
        return describeMon(message);
    return frames_.size() == before ? "no message" : "undecodable";
}

bool FakeAgent::send(MON::Message const& message)
{
    Bytes const body = encodePer(message);
    return !body.empty() && link_.sendFrame(body);
}

}  // namespace testsupport
