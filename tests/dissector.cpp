#include "tests/dissector.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace testsupport {

std::string findTool(std::string const& name)
{
    std::istringstream dirs(std::string(std::getenv("PATH") ? std::getenv("PATH") : "") + ":/usr/sbin:/sbin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0)
            return dir + "/" + name;
    return "";
}

namespace {

template <class T>
std::string bytesOf(T const& value)
{
    return std::string(reinterpret_cast<char const*>(&value), sizeof value);
}

}  // namespace

std::string udpCapture(std::uint16_t srcPort, std::uint16_t dstPort, std::vector<std::string> const& payloads)
{
    // pcap file header: version 2.4, snapshot 65535, link type 101 (raw IP).
    std::uint32_t const file[6] = {0xA1B2C3D4, 2 | 4 << 16, 0, 0, 65535, 101};
    std::string out = bytesOf(file);
    for (std::string const& payload : payloads) {
        std::uint16_t const udpLength = std::uint16_t(8 + payload.size()), ipLength = std::uint16_t(20 + udpLength);
        // The IPv4 header checksum is left 0: the dissectors do not check it unless asked to.
        std::uint8_t const ip[28] = {0x45, 0, std::uint8_t(ipLength >> 8), std::uint8_t(ipLength), 0, 0, 0, 0, 64, 17,
                                     0, 0, 127, 0, 0, 1, 127, 0, 0, 1, std::uint8_t(srcPort >> 8),
                                     std::uint8_t(srcPort), std::uint8_t(dstPort >> 8), std::uint8_t(dstPort),
                                     std::uint8_t(udpLength >> 8), std::uint8_t(udpLength)};
        std::uint32_t const record[4] = {0, 0, ipLength, ipLength};
        out += bytesOf(record) + bytesOf(ip) + payload;
    }
    return out;
}

}  // namespace testsupport
