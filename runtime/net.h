#pragma once

#include "runtime/inet4_addr.h"

#include <cstdint>
#include <list>
#include <string>

// Network interfaces and the host name.
namespace Net {

// Which interfaces to take: any set bit that matches chooses one; 0 takes every one.
typedef unsigned int ifconfig_mode_t;
enum : ifconfig_mode_t {
    named = 1,       // a name other than "lo"
    link_local = 2,  // 169.254.0.0/16
    private_net = 4  // 10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16
};

// Whether an interface with the name and the address (host byte order) is chosen.
bool is_chosen(char const* name, std::uint32_t hostOrderAddress, ifconfig_mode_t mode);

// Appends the IPv4 address of each chosen interface, in the kernel's order; the number
// appended, or -1 when the interfaces cannot be listed. Every interface is seen.
int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode);
// The same choice; appends the name of each interface whose flags hold every bit of flags.
int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned int flags);

// The host name ("" when it cannot be read), and setting it (sethostname's result).
std::string hostname();
int hostname(std::string const& name);

}  // namespace Net
