#pragma once

#include <string>

// Told by an SNMP agent link when it has connected (the monitoring controller then sends
// every item again).
class ISnmpAgentNotify {
public:
    virtual ~ISnmpAgentNotify() = default;
    virtual void OnSnmpAgentConnect(std::string const& /*name*/) {}
};
