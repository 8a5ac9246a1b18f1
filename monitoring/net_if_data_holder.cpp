#include "monitoring/net_if_data_holder.h"

#include "base/errno.h"
#include "base/ext.h"
#include "base/fd.h"
#include "base/trace_ctl.h"

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <iostream>
#include <numeric>
#include <utility>

namespace {

// The socket the interface requests are made on. A descriptor of 0 is a valid one.
Fd interfaceSocket()
{
    Fd s(::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 255));
    if (!s && traces.monitoring.internal) {
        Errno const e;
        std::clog << "Error open socket: " << " errno=" << ext::quoted(e) << std::endl;
    }
    return s;
}

bool nameOf(Fd const& s, std::int32_t index, ifreq& ifr)
{
    ifr = ifreq();
    ifr.ifr_ifindex = index;
    return ::ioctl(s.lowlevel_fd(), SIOCGIFNAME, &ifr) == 0;
}

}  // namespace

NetIfDataHolder::NetIfDataHolder(std::int32_t index, std::string ifName) : ifIndex(index), name(std::move(ifName)) {}

std::vector<NetIfDataHolder> NetIfDataHolder::List()
{
    std::vector<NetIfDataHolder> found;
    Fd const s = interfaceSocket();
    if (!s)
        return found;
    for (std::int32_t index = 0; index < max_index; ++index) {
        ifreq ifr;
        if (nameOf(s, index, ifr))
            found.emplace_back(index, ifr.ifr_name);
    }
    return found;
}

bool NetIfDataHolder::updateNetIf()
{
    Fd const s = interfaceSocket();
    if (!s)
        return false;
    ifreq ifr;
    if (!nameOf(s, ifIndex, ifr) || ::ioctl(s.lowlevel_fd(), SIOCGIFFLAGS, &ifr) != 0) {
        if (traces.monitoring.internal) {
            Errno const e;
            std::clog << "Error ioctl socket: " << " errno=" << ext::quoted(e) << std::endl;
        }
        return false;
    }
    return setNetIfStatus((ifr.ifr_flags & IFF_RUNNING) ? 1 : 0);
}

bool NetIfDataHolder::setNetIfStatus(std::int32_t running)
{
    samples.push_back(running);
    while (samples.size() > max_samples)
        samples.pop_front();
    std::int32_t const now = std::accumulate(samples.begin(), samples.end(), 0) > 1 ? 1 : 0;
    bool const changed = now != status;
    status = now;
    operStatus = adminStatus = now == 1 ? 1 : 2;
    return changed;
}
