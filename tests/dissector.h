#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Feeding what the daemon puts on the wire to an independent decoder (tshark, snmptrapd).
namespace testsupport {

// The path of an installed program, searched in PATH and the system folders; "" when it is
// not installed.
std::string findTool(std::string const& name);

// A capture file (pcap, raw IPv4) of UDP datagrams from 127.0.0.1:srcPort to
// 127.0.0.1:dstPort, one packet a payload.
std::string udpCapture(std::uint16_t srcPort, std::uint16_t dstPort, std::vector<std::string> const& payloads);

}  // namespace testsupport
