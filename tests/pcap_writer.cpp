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

void PcapWriter::addUdp(std::uint16_t srcPort, std::uint16_t dstPort, std::string const& payload)
{
    std::uint16_t const udpLength = std::uint16_t(8 + payload.size());
    std::string data;
    put16b(data, 0x4500);  // IPv4, 20-octet header
    put16b(data, std::uint16_t(20 + udpLength));
    data.append(4, '\0');  // id, fragment
    put16b(data, 64 << 8 | 17);  // time to live, UDP
    put16b(data, 0);  // checksum: the dissectors do not check it unless asked to
    for (int i = 0; i < 2; ++i)
        data += std::string("\x7f\x00\x00\x01", 4);
    put16b(data, srcPort);
    put16b(data, dstPort);
    put16b(data, udpLength);
    put16b(data, 0);  // no checksum
    record(data + payload);
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
