#pragma once

#include <linux/sockios.h>
#include <net/if.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

// The generic-HDLC network interfaces "hdlc%d": SIOCGIFINDEX, SIOCGIFFLAGS, SIOCSIFFLAGS and
// SIOCWANDEV through board::Board::ifaceIoctl. SIOCWANDEV carries a settings header in the
// request union of the ifreq: the settings type, the size of the caller's settings buffer
// and a pointer to it.
namespace hdlc_iface {

constexpr char const* kNameFormat = "hdlc%d";
// Interface numbers a scan tries.
constexpr int kMaxInterfaces = 256;

constexpr unsigned long kWanDev = 0x894A;
static_assert(kWanDev == SIOCWANDEV);

// Settings types.
constexpr std::uint32_t kGetIface = 0x0001;   // read the physical interface's settings
constexpr std::uint32_t kProtoHdlc = 0x2000;  // raw HDLC
constexpr std::uint32_t kProtoPpp = 0x2001;   // PPP

// The buffer of kGetIface, and the 32-bit word of it that holds the switch channel.
constexpr std::uint32_t kIfaceSize = 128;
constexpr std::size_t kChannelWord = 3;

// The settings header of SIOCWANDEV.
struct Settings {
    std::uint32_t type;
    std::uint32_t size;
    void* buffer;
};

// The raw-HDLC settings of kProtoHdlc.
struct RawHdlc {
    std::uint16_t encoding;
    std::uint16_t parity;
};

static_assert(sizeof(RawHdlc) == 4);
static_assert(offsetof(ifreq, ifr_ifru) == IFNAMSIZ);
static_assert(sizeof(Settings) <= sizeof(ifreq::ifr_ifru));

inline void putSettings(ifreq& ifr, Settings const& s) { std::memcpy(&ifr.ifr_ifru, &s, sizeof s); }

inline Settings settings(ifreq const& ifr)
{
    Settings s;
    std::memcpy(&s, &ifr.ifr_ifru, sizeof s);
    return s;
}

// An ifreq for the interface (a name longer than the field is cut).
inline ifreq request(char const* name)
{
    ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
    return ifr;
}

}  // namespace hdlc_iface
