#pragma once

#include "messages/acp.h"
#include "messages/zgcp.h"
#include "tests/controller_client.h"

#include <string>
#include <vector>

// The controller's commands to the hardware services and a short text of the reports they
// send, built with the project's classes, for tests.
namespace testsupport {

// A slotless ioctl of the alternative cas on trunk time slot {trunk, timeslot}: "open" and
// "set" carry the value, "close" and "get" do not.
ZGCP::Command casCommand(std::string const& cmd, int trunk, int timeslot, int value = 0);

ZGCP::Command trunkCfgCommand(int trunk, ZGCP::TrunkMode::NamedNumber mode);

ZGCP::Command clockCfgCommand(ZGCP::ClkSel0::NamedNumber sel, ZGCP::BExtEn::NamedNumber ext, int source);

// mode: ZGCP::BpcTestMode::read::id, write::id or disconnect::id.
ZGCP::Command testBpcCommand(unsigned bus, int seed, int mode, unsigned start, unsigned length);

// A trunk report as "e1 2 lossCarrier slips=3" (counters that are not 0 follow the state),
// a cas report as "cas 0/1 rx=0 tx=9"; "" for other signals.
std::string describeLine(ZGCP::Signal const& s);

// A message in short: a line or cas report as describeLine has it, else describeZgcp.
std::string describeReport(ZGCP::Message const& m);

// Sends the command with the sequence number and returns the messages up to its answer in
// short (describeReport), the answer without its sequence number ("success", "error=4");
// "no message" ends them when none comes in time.
std::vector<std::string> exchange(ControllerClient& client, ZGCP::Command const& command, int seq,
                                  int timeoutMs = ControllerClient::kTimeout);

}  // namespace testsupport
