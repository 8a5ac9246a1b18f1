#pragma once

#include "messages/mon.h"
#include "messages/zgcp.h"

#include <optional>
#include <string>
#include <vector>

// The controller's display reports, built with the project's classes, for the tests of the
// monitoring code.
namespace testsupport {

ZGCP::DisplayParams boardDisplay(int position, std::string const& version,
                                 ZGCP::ExtBoardStatus::NamedNumber status, ZGCP::ExtBoardType::NamedNumber type);

// Software versions "p", "c" and "f"; ready, both supplies, asleep, hook connected, base
// disconnected.
ZGCP::DisplayParams phoneDisplay(int id);

ZGCP::DisplayParams counterDisplay(ZGCP::TermCounterOwner::NamedNumber owner, std::optional<int> ownerId,
                                   int count);

ZGCP::DisplayParams controllerDisplay(std::string const& address, unsigned port,
                                      HSP::ControllerStatus::NamedNumber status);

// One snmp-set item addressed by name.
ZGCP::DisplayParams snmpSetDisplay(std::string const& section, std::string const& name, int index,
                                   std::string const& value, int uniq = 9);

// The line (or else the link) of an E1 framer on or off.
ZGCP::DisplayParams framerDisplay(unsigned e1, bool line, bool on);

ZGCP::DisplayParams trapReceiversDisplay(std::vector<std::string> const& hosts);

ZGCP::Command displayCommand(ZGCP::DisplayParams const& params);

}  // namespace testsupport
