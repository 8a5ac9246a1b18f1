#include "board/sim/rtp_model.h"

#include "board/sim/model_words.h"
#include "runtime/inet4_addr.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <climits>
#include <sstream>

namespace board::sim {
namespace {

std::string address(std::uint32_t addr, std::uint16_t port)
{
    return INet4::dotted(addr) + ':' + std::to_string(port);
}

}  // namespace

RtpModel::RtpModel()
    : SessionDevice(rtp::kPath, {
                                    {rtp::kBeginSession, "begin", sizeof(rtp_connection_params)},
                                    {rtp::kAddChannel, "add-channel", sizeof(rtp_channel_info)},
                                    {rtp::kStop, "stop"},
                                    {rtp::kStartReceive, "start-rx"},
                                    {rtp::kStopReceive, "stop-rx"},
                                    {rtp::kAttachSession, "attach", sizeof(rtp_attach_session_params)},
                                    {rtp::kStopFirst, "stop-first"},
                                    {rtp::kStopLast, "stop-last"},
                                    {rtp::kEnableEvent, "enable-event", sizeof(rtp_event_params)},
                                    {rtp::kDisableEvent, "disable-event", sizeof(std::int32_t)},
                                })
{
}

void RtpModel::put(std::ostream& os, Session const& s) const
{
    if (s.channel >= 0)
        os << s.channel;
    else
        os << '-';
    os << ": open=" << s.open;
    if (!s.params) {
        os << " idle";
        return;
    }
    rtp_connection_params const& p = *s.params;
    os << " dst=" << address(p.dst_addr, p.dst_port) << " src=" << address(p.src_addr, p.src_port)
       << " rx_pt=" << p.rx_pt << " tx_pt=" << p.tx_pt << " factor=" << p.packet_factor << " vad=" << unsigned(p.vad)
       << " crate=" << unsigned(p.crate) << " ssrc=" << p.ssrc << " ttl=" << p.ttl << " tos=" << p.tos
       << " rx=" << (s.receiving ? "on" : "off") << " pd=";
    if (s.pdTimeout)
        os << *s.pdTimeout;
    else
        os << "off";
    if (s.stopped)
        os << " stopped";
    if (s.extension)
        os << " ext=" << s.extension->fd_rtp << '/' << s.extension->pid_rtp;
}

OpenFile* RtpModel::holder(int channel) const
{
    for (OpenFile* f : opens())
        if (of(*f).channel == channel)
            return f;
    return nullptr;
}

RtpModel::Session const* RtpModel::session(int channel) const
{
    OpenFile* f = channel >= 0 ? holder(channel) : nullptr;
    return f ? &of(*f) : nullptr;
}

bool RtpModel::inject(int channel, rtp_event const& event)
{
    OpenFile* f = channel >= 0 ? holder(channel) : nullptr;
    return f != nullptr && f->send(&event, sizeof event);
}

int RtpModel::addChannel(Session& s, rtp_channel_info& info)
{
    if (!s.params)
        return -EINVAL;
    if (info.tdm == -1) {
        int free = kFirstChannel;
        while (free < kFirstChannel + kChannels && holder(free) != nullptr)
            ++free;
        if (free == kFirstChannel + kChannels)
            return -EBUSY;
        info.tdm = free;
    } else if (info.tdm < kFirstChannel || info.tdm >= kFirstChannel + kChannels) {
        return -EINVAL;
    } else if (OpenFile* other = holder(info.tdm)) {
        // Re-added by a new session: the one that held it loses it.
        of(*other).channel = -1;
    }
    s.channel = info.tdm;
    return 0;
}

int RtpModel::request(OpenFile* file, RequestInfo const& info, void* arg)
{
    Session& s = of(*file);
    if (info.number == rtp::kBeginSession) {
        s.params = *static_cast<rtp_connection_params const*>(arg);
        s.stopped = false;
        return 0;
    }
    if (info.number == rtp::kAddChannel)
        return addChannel(s, *static_cast<rtp_channel_info*>(arg));
    if (!s.params)
        return -EINVAL;
    switch (info.number) {
    case rtp::kStartReceive: s.receiving = true; break;
    case rtp::kStopReceive: s.receiving = false; break;
    case rtp::kEnableEvent: {
        auto const& r = *static_cast<rtp_event_params const*>(arg);
        if (r.type != rtp_event_pd)
            return -EINVAL;
        s.pdTimeout = r.timeout;
        break;
    }
    case rtp::kAttachSession: s.extension = *static_cast<rtp_attach_session_params const*>(arg); break;
    case rtp::kDisableEvent:
        if (*static_cast<std::int32_t const*>(arg) != rtp_event_pd)
            return -EINVAL;
        s.pdTimeout.reset();
        break;
    default:  // the stop requests
        s.stopped = true;
        s.receiving = false;
        break;
    }
    return 0;
}

std::string RtpModel::command(std::vector<std::string> const& w)
{
    auto channel = w.size() >= 2 ? words::number(w[1], 0, INT_MAX) : std::nullopt;
    if (channel && w.size() == 2 && w[0] == "session") {
        Session const* s = session(int(*channel));
        if (s == nullptr)
            return "error no session on channel " + w[1];
        std::ostringstream os;
        put(os << "ok ", *s);
        return os.str();
    }
    if (channel && w.size() == 5 && w[0] == "event") {
        auto type = words::number(w[2], INT_MIN, INT_MAX);
        auto value = words::number(w[3], INT_MIN, INT_MAX);
        auto timeout = words::number(w[4], INT_MIN, INT_MAX);
        if (type && value && timeout) {
            rtp_event e{};
            e.type = std::int32_t(*type);
            e.value = std::int32_t(*value);
            e.timeout = std::int32_t(*timeout);
            return inject(int(*channel), e) ? "ok sent=1" : "error no session on channel " + w[1];
        }
    }
    return "error usage: event CH TYPE VALUE TIMEOUT | session CH";
}

}  // namespace board::sim
