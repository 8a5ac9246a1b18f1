#include "board/sim/hdlc_iface_model.h"

#include "board/sim/model_words.h"

#include <cerrno>
#include <cstring>

namespace board::sim {
namespace {

// Interface indexes of the simulated board begin here.
constexpr int kFirstIndex = 20;

}  // namespace

HdlcIfaceModel::HdlcIfaceModel(int number)
    : Device("hdlc" + std::to_string(number), {
                                                  {SIOCGIFINDEX, "index", sizeof(ifreq)},
                                                  {SIOCGIFFLAGS, "get-flags", sizeof(ifreq)},
                                                  {SIOCSIFFLAGS, "set-flags", sizeof(ifreq)},
                                                  {hdlc_iface::kWanDev, "wandev", sizeof(ifreq)},
                                              }),
      index_(kFirstIndex + number),
      channel_(kFirstChannel + number)
{
}

int HdlcIfaceModel::wanDev(ifreq& ifr)
{
    hdlc_iface::Settings const s = hdlc_iface::settings(ifr);
    switch (s.type) {
    case hdlc_iface::kGetIface: {
        std::size_t const need = (hdlc_iface::kChannelWord + 1) * sizeof(std::uint32_t);
        if (s.size < need)
            return -ENOBUFS;
        if (s.buffer == nullptr)
            return -EFAULT;
        std::memset(s.buffer, 0, std::min<std::size_t>(s.size, hdlc_iface::kIfaceSize));
        auto const word = std::uint32_t(channel_);
        std::memcpy(static_cast<char*>(s.buffer) + hdlc_iface::kChannelWord * sizeof word, &word, sizeof word);
        return 0;
    }
    case hdlc_iface::kProtoPpp:
        if (!ppp_)
            return -EINVAL;
        protocol_ = s.type;
        return 0;
    case hdlc_iface::kProtoHdlc:
        if (s.size < sizeof(hdlc_iface::RawHdlc))
            return -ENOBUFS;
        if (s.buffer == nullptr)
            return -EFAULT;
        protocol_ = s.type;
        return 0;
    }
    return -EINVAL;
}

int HdlcIfaceModel::request(OpenFile*, RequestInfo const& info, void* arg)
{
    ifreq& ifr = *static_cast<ifreq*>(arg);
    switch (info.number) {
    case SIOCGIFINDEX: ifr.ifr_ifindex = index_; return 0;
    case SIOCGIFFLAGS:
        ifr.ifr_flags = short((pointToPoint_ ? IFF_POINTOPOINT : 0) | (up_ ? IFF_UP | IFF_RUNNING : 0) | IFF_NOARP);
        return 0;
    case SIOCSIFFLAGS: up_ = (ifr.ifr_flags & IFF_UP) != 0; return 0;
    case hdlc_iface::kWanDev: return wanDev(ifr);
    }
    return -ENOTTY;
}

std::string HdlcIfaceModel::dump() const
{
    char const* proto = protocol_ == hdlc_iface::kProtoPpp ? "ppp" : "hdlc";
    return std::string("p2p=") + (pointToPoint_ ? "on" : "off") + " channel=" + std::to_string(channel_)
         + " proto=" + proto + " up=" + (up_ ? "on" : "off");
}

std::string HdlcIfaceModel::command(std::vector<std::string> const& words)
{
    static char const usage[] = "error usage: p2p on|off | up on|off | ppp on|off | channel N";
    if (words.size() != 2)
        return usage;
    bool* const flag = words[0] == "p2p" ? &pointToPoint_
                     : words[0] == "up"  ? &up_
                     : words[0] == "ppp" ? &ppp_
                                         : nullptr;
    bool const on = words[1] == "on";
    if (flag != nullptr && (on || words[1] == "off")) {
        *flag = on;
        return "ok";
    }
    if (words[0] == "channel") {
        auto n = words::number(words[1], -1, 0xFFFF);
        if (!n)
            return usage;
        channel_ = int(*n);
        return "ok";
    }
    return usage;
}

}  // namespace board::sim
