#include "runtime/net.h"

#include <ifaddrs.h>
#include <strings.h>
#include <cstring>
#include <unistd.h>

namespace Net {

namespace {

bool in(std::uint32_t a, std::uint32_t net, int bits) { return (a >> (32 - bits)) == (net >> (32 - bits)); }

// Calls take(name, address, flags) for each chosen IPv4 interface; false when the list
// cannot be had.
template <class F>
bool forEachChosen(ifconfig_mode_t mode, F take)
{
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0)
        return false;
    for (ifaddrs* i = all; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_name)
            continue;
        sockaddr_in sa;
        std::memcpy(&sa, i->ifa_addr, sizeof sa);
        if (is_chosen(i->ifa_name, ntohl(sa.sin_addr.s_addr), mode))
            take(i->ifa_name, sa, i->ifa_flags);
    }
    ::freeifaddrs(all);
    return true;
}

}  // namespace

bool is_chosen(char const* name, std::uint32_t a, ifconfig_mode_t mode)
{
    if (mode == 0)
        return true;
    if ((mode & named) && ::strcasecmp(name, "lo") != 0)
        return true;
    if ((mode & link_local) && in(a, 0xA9FE0000u, 16))
        return true;
    if ((mode & private_net) &&
        (in(a, 0xC0A80000u, 16) || in(a, 0xAC100000u, 12) || in(a, 0x0A000000u, 8)))
        return true;
    return false;
}

int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode)
{
    int n = 0;
    bool ok = forEachChosen(mode, [&](char const*, sockaddr_in const& sa, unsigned int) {
        out.push_back(INet4::Addr(sa));
        ++n;
    });
    return ok ? n : -1;
}

int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned int flags)
{
    int n = 0;
    bool ok = forEachChosen(mode, [&](char const* name, sockaddr_in const&, unsigned int f) {
        if ((f & flags) == flags) {
            out.push_back(name);
            ++n;
        }
    });
    return ok ? n : -1;
}

std::string hostname()
{
    char buf[512];
    if (::gethostname(buf, sizeof buf) != 0)
        return std::string();
    buf[sizeof buf - 1] = '\0';
    return buf;
}

int hostname(std::string const& name) { return ::sethostname(name.data(), name.size()); }

}  // namespace Net
