#include "tests/pcap_writer.h"

namespace testsupport {

namespace {

// The capture file is written in the host's byte order (its magic number says which);
// the LAPD pseudo-header is big-endian.
void put32(std::string& out, std::uint32_t v) { out.append(reinterpret_cast<char const*>(&v), 4); }

void put16b(std::string& out, std::uint16_t v)
{
    out += char(v >> 8);
    out += char(v & 0xFF);
}

}  // namespace

PcapWriter::PcapWriter(LinkType type)
{
    put32(bytes_, 0xA1B2C3D4);     // magic, microsecond stamps
    put32(bytes_, 2 | 4 << 16);    // version 2.4
    put32(bytes_, 0);              // time zone
    put32(bytes_, 0);              // stamp accuracy
    put32(bytes_, 65535);          // snapshot length
    put32(bytes_, type);
}

void PcapWriter::addLapd(std::vector<std::uint8_t> const& frame, bool outgoing, bool networkSide)
{
    std::string data;
    put16b(data, outgoing ? 4 : 0);  // packet type: sent by us (4) or to us (0)
    put16b(data, 0x20FD);            // hardware type: LAPD
    put16b(data, 1);                 // address length
    data += char(networkSide ? 1 : 0);  // address: the capturing side is the network side
    data.append(7, '\0');
    put16b(data, 0x0030);            // protocol: LAPD
    data.append(frame.begin(), frame.end());
    record(data);
}

std::string PcapWriter::ipHeader(std::uint8_t protocol, std::size_t payloadLength)
{
    std::string ip;
    put16b(ip, 0x4500);                                 // version 4, 20-octet header
    put16b(ip, std::uint16_t(20 + payloadLength));
    put16b(ip, 0);                                      // identification
    put16b(ip, 0x4000);                                 // do not fragment
    put16b(ip, std::uint16_t(64 << 8 | protocol));      // time to live, protocol
    put16b(ip, 0);                                      // checksum, below
    for (int i = 0; i < 2; ++i) {
        put16b(ip, 0x7F00);                             // 127.0.0.1
        put16b(ip, 0x0001);
    }
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < ip.size(); i += 2)
        sum += std::uint32_t(std::uint8_t(ip[i])) << 8 | std::uint8_t(ip[i + 1]);
    sum = ~((sum & 0xFFFF) + (sum >> 16)) & 0xFFFF;
    ip[10] = char(sum >> 8);
    ip[11] = char(sum & 0xFF);
    return ip;
}

void PcapWriter::addUdp(std::uint16_t srcPort, std::uint16_t dstPort, std::string const& payload)
{
    std::uint16_t const udpLength = std::uint16_t(8 + payload.size());
    std::string data = ipHeader(17, udpLength);
    put16b(data, srcPort);
    put16b(data, dstPort);
    put16b(data, udpLength);
    put16b(data, 0);  // no checksum
    record(data + payload);
}

void PcapWriter::addTcp(std::vector<std::uint8_t> const& payload, std::uint16_t from, std::uint16_t to)
{
    std::string ip = ipHeader(6, 20 + payload.size());
    put16b(ip, from);
    put16b(ip, to);
    put16b(ip, std::uint16_t(tcpSeq_ >> 16));
    put16b(ip, std::uint16_t(tcpSeq_ & 0xFFFF));
    put16b(ip, 0);                                      // acknowledgement 1
    put16b(ip, 1);
    put16b(ip, 0x5018);                                 // 20-octet header, PSH and ACK
    put16b(ip, 0xFFFF);                                 // window
    put16b(ip, 0);                                      // checksum (not checked)
    put16b(ip, 0);                                      // urgent pointer
    ip.append(payload.begin(), payload.end());
    tcpSeq_ += std::uint32_t(payload.size());
    record(ip);
}

void PcapWriter::add(std::vector<std::uint8_t> const& frame) { record(std::string(frame.begin(), frame.end())); }

void PcapWriter::record(std::string const& data)
{
    put32(bytes_, count_++);
    put32(bytes_, 0);
    put32(bytes_, std::uint32_t(data.size()));
    put32(bytes_, std::uint32_t(data.size()));
    bytes_ += data;
}

}  // namespace testsupport
