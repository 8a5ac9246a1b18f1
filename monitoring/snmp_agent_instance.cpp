#include "monitoring/snmp_agent_instance.h"

#include "asn1/asn1.h"
#include "base/clock.h"
#include "base/ini_file.h"
#include "control/connector_net.h"
#include "messages/mon.h"

#include <iostream>
#include <iterator>
#include <vector>

namespace {

// Agent types by name; any other name must be a number.
IniFile::Symbol<SnmpAgentInstance::MonitoringAddressType> const monitoringAddressTypes[] = {
    {"zarngw", 1},
    {"zarngw.qe", 4},
    {"qelt", 2},
    {nullptr, 0},
};

}  // namespace

SnmpAgentInstance::SnmpAgentInstance() = default;

SnmpAgentInstance::~SnmpAgentInstance() = default;

bool SnmpAgentInstance::Activate(IniFile::SubSection& block)
{
    std::string host;
    IniFile::Reader reader("snmpagent: ", std::cerr);
    reader.required.add(&host, "host");
    reader.required.add(&name_, "name");
    reader.required.add(&type_, "name", monitoringAddressTypes);
    if (!reader(block))
        return false;
    // Only a numeric address with a port from 1 to 65535 makes a link: port 0 names no peer.
    int port = -1;
    if (!address_.Assign(host, &port) || port <= 0) {
        std::cerr << "snmpagent: required key \"host\" has invalid value=\"" << host << "\", line "
                  << block["host"].GetFirstSubKey().GetLineNo() << std::endl;
        return false;
    }
    prefix_ = "snmpagent." + name_ + " " + address_.GetString();
    auto connection = std::make_unique<Control::ConnectorNet>(address_.GetStrAddr(), address_.port());
    connection->service_name(prefix_);
    connection->Bind(this);
    connection_ = std::move(connection);
    return connection_->Activate();
}

void SnmpAgentInstance::Command(MON::Command const& command)
{
    MON::Message message;
    message.set_pdu().select_command(command);
    Send(message);
}

void SnmpAgentInstance::Send(MON::Message const& message)
{
    if (!connection_ || !connection_->IsConnected())
        return;
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    std::vector<char> octets;
    if (!ASN1::encode(message, &env, std::back_inserter(octets))) {
        std::clog << prefix_ << ": encode MON message fail!!!" << std::endl;
        return;
    }
    connection_->Send(octets.data(), int(octets.size()));
    SetPingTimer();
    std::uint32_t const now = Mux::milliseconds();
    if (std::int32_t(now - lastReceive_) > silence_ms) {
        std::clog << prefix_ << ": ping timeout !!!" << " now=" << now << " stamp=" << lastReceive_ << std::endl;
        connection_->Disconnect();
    }
}

void SnmpAgentInstance::SetPingTimer() { ping_.set(ping_ms, &SnmpAgentInstance::OnPingTimer, this); }

void SnmpAgentInstance::OnPingTimer(Timer*)
{
    MON::Command ping;
    ping.select_ping();
    Command(ping);
}

void SnmpAgentInstance::OnConnect()
{
    std::clog << prefix_ << ": connected." << std::endl;
    lastReceive_ = Mux::milliseconds();
    if (notify_)
        notify_->OnSnmpAgentConnect(name_);
}

void SnmpAgentInstance::OnDisconnect()
{
    std::clog << prefix_ << ": connection lost, reset snmpagent instance" << std::endl;
    ping_.reset();
}

void SnmpAgentInstance::OnMessage(char const* data, int length)
{
    lastReceive_ = Mux::milliseconds();
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    MON::Message message;
    if (length < 0 || !ASN1::decode(data, data + length, &env, message, true)) {
        std::cerr << prefix_ << ": receive : decode error!" << std::endl;
        return;
    }
    OnMessage(message);
}

void SnmpAgentInstance::OnMessage(MON::Message const& message)
{
    MON::PDU const& pdu = message.get_pdu();
    if (pdu.response_isSelected())
        OnResponse(pdu.get_response());
    else if (pdu.signal_isSelected())
        OnSignal(pdu.get_signal());
    else
        std::cerr << prefix_ << ": receive unknown message type" << std::endl;
}
