#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// A capture file in the classic pcap format, built in memory, for checking frames with an
// independent dissector. Records are one second apart.
class PcapWriter {
public:
    enum LinkType : std::uint32_t {
        kMtp2 = 140,       // MTP level 2 frames as they are
        kLinuxLapd = 177,  // LAPD frames after a 16-octet pseudo-header
        kRawIp = 101,      // IPv4 packets
    };

    explicit PcapWriter(LinkType type);

    // One LAPD frame (kLinuxLapd): outgoing when this side sent it, networkSide when this
    // side is the network side of the link; the pseudo-header says both.
    void addLapd(std::vector<std::uint8_t> const& frame, bool outgoing, bool networkSide);
    // One UDP datagram from 127.0.0.1:srcPort to 127.0.0.1:dstPort (kRawIp).
    void addUdp(std::uint16_t srcPort, std::uint16_t dstPort, std::string const& payload);
    // One frame as it is (kMtp2).
    void add(std::vector<std::uint8_t> const& frame);
    // One TCP segment on 127.0.0.1 carrying the payload (kRawIp), each one following the
    // last in the stream.
    void addTcp(std::vector<std::uint8_t> const& payload, std::uint16_t from, std::uint16_t to);

    std::string const& bytes() const { return bytes_; }

private:
    void record(std::string const& data);
    // An IPv4 header from 127.0.0.1 to 127.0.0.1 for a packet of the protocol.
    static std::string ipHeader(std::uint8_t protocol, std::size_t payloadLength);

    std::string bytes_;
    std::uint32_t count_ = 0;
    std::uint32_t tcpSeq_ = 1;
};

}  // namespace testsupport
