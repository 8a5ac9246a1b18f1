#pragma once

#include "control/service.h"
#include "monitoring/snmp_agent_notify.h"
#include "runtime/inet4_addr.h"
#include "runtime/timer.h"

#include <cstdint>
#include <memory>
#include <string>

namespace MON {
class Command;
class Message;
class Response;
class Signal;
}

namespace IniFile {
class SubSection;
}

// One link to an SNMP agent process: a TCP client carrying MON messages in aligned PER
// inside TPKT frames. It sends a ping when nothing was sent for 5 s, and drops the
// connection at a send when nothing was received for more than 30 s (the connection comes
// back on its own). Messages for a link that is not connected are dropped. Connection
// events go to the log stream, each line begun with the link's prefix.
class SnmpAgentInstance : public Control::Notify {
public:
    typedef int MonitoringAddressType;

    static constexpr unsigned int ping_ms = 5000;
    static constexpr std::int32_t silence_ms = 30000;

    SnmpAgentInstance();
    ~SnmpAgentInstance() override;
    SnmpAgentInstance(SnmpAgentInstance const&) = delete;
    SnmpAgentInstance& operator=(SnmpAgentInstance const&) = delete;

    // Reads the keys "host" (a.b.c.d:port) and "name" (the link's name and agent type) of
    // one "snmpagent" block and starts connecting. A block that is rejected leaves the link
    // inactive for good (the reason goes to the error stream).
    bool Activate(IniFile::SubSection& block);
    void Bind(ISnmpAgentNotify* notify) { notify_ = notify; }
    void UnBind() { notify_ = nullptr; }

    // Sends the command in a message.
    void Command(MON::Command const& command);
    void Send(MON::Message const& message);
    void SetPingTimer();
    void OnPingTimer(Timer*);

    void OnConnect() override;
    void OnDisconnect() override;
    void OnMessage(char const* data, int length) override;
    void OnMessage(MON::Message const& message);
    void OnResponse(MON::Response const&) {}
    void OnSignal(MON::Signal const&) {}

    std::string const& name() const { return name_; }
    std::string const& prefix() const { return prefix_; }
    MonitoringAddressType type() const { return type_; }
    INet4::Addr const& address() const { return address_; }
    // Null while inactive.
    Control::Service* connection() const { return connection_.get(); }

private:
    std::unique_ptr<Control::Service> connection_;
    MonitoringAddressType type_ = 0;
    std::string name_;
    std::string prefix_;
    INet4::Addr address_;
    std::uint32_t lastReceive_ = 0;
    Timer ping_;
    ISnmpAgentNotify* notify_ = nullptr;
};
