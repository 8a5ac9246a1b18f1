#include "board/sim/rtp_ext_model.h"

#include "board/sim/frame_line.h"
#include "board/sim/model_words.h"
#include "runtime/inet4_addr.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <sstream>

namespace board::sim {
namespace {

}  // namespace

RtpExtModel::RtpExtModel(RtpModel const* rtp)
    : SessionDevice(rtp_ext::kPath, {
                                        {rtp_ext::kInit, "init", sizeof(rtp_ext_init_params)},
                                        {rtp_ext::kAttach, "attach", sizeof(rtp_ext_attach_session_params)},
                                        {rtp_ext::kDetach, "detach"},
                                        {rtp_ext::kSourceOfNext, "source", sizeof(rtp_ext_source)},
                                        {rtp_ext::kSetFilter, "set-filter", sizeof(rtp_ext_filter)},
                                        {rtp_ext::kResetFilter, "reset-filter"},
                                    }),
      rtp_(rtp)
{
}

void RtpExtModel::put(std::ostream& os, Session const& s) const
{
    os << s.open << ':';
    if (!s.init) {
        os << " idle";
        return;
    }
    rtp_ext_init_params const& i = *s.init;
    os << " etype=0x" << std::hex << i.etype << std::dec << " params=" << i.param[0] << '/' << i.param[1] << '/'
       << i.param[2] << '/' << i.param[3] << " attach=";
    if (s.attach) {
        os << s.attach->fd_rtp << '/' << s.attach->pid_rtp;
        if (s.attachedChannel)
            os << '@' << *s.attachedChannel;
    } else
        os << '-';
    os << " filter=" << (s.filter ? INet4::dotted(*s.filter) : "-") << " queued=" << s.senders.size()
       << " written=" << s.written.size();
}

OpenFile* RtpExtModel::holder(unsigned open) const
{
    for (OpenFile* f : opens())
        if (f->id() == open)
            return f;
    return nullptr;
}

std::optional<int> RtpExtModel::channelOf(rtp_ext_attach_session_params const& attach) const
{
    struct stat st{};
    if (rtp_ == nullptr || (attach.pid_rtp != -1 && attach.pid_rtp != ::getpid()) || ::fstat(attach.fd_rtp, &st) != 0)
        return std::nullopt;
    for (OpenFile* f : rtp_->opens()) {
        auto const& session = static_cast<RtpSession const&>(*f->state);
        if (f->inode() == st.st_ino && session.channel >= 0)
            return session.channel;
    }
    return std::nullopt;
}

RtpExtModel::Session const* RtpExtModel::session(unsigned open) const
{
    OpenFile* f = holder(open);
    return f ? &of(*f) : nullptr;
}

bool RtpExtModel::deliver(unsigned open, rtp_ext_source const& sender, Payload const& payload)
{
    OpenFile* f = holder(open);
    if (f == nullptr)
        return false;
    Session& s = of(*f);
    if (!s.init || (s.filter && *s.filter != sender.addr) || !f->send(payload.data(), payload.size()))
        return false;
    s.senders.push_back(sender);
    return true;
}

std::vector<RtpExtModel::Payload> RtpExtModel::takeWritten(unsigned open)
{
    std::vector<Payload> out;
    if (OpenFile* f = holder(open)) {
        Session& s = of(*f);
        out.assign(s.written.begin(), s.written.end());
        s.written.clear();
    }
    return out;
}

int RtpExtModel::request(OpenFile* file, RequestInfo const& info, void* arg)
{
    Session& s = of(*file);
    if (info.number == rtp_ext::kInit) {
        s.init = *static_cast<rtp_ext_init_params const*>(arg);
        return 0;
    }
    if (!s.init)
        return -EINVAL;
    switch (info.number) {
    case rtp_ext::kAttach:
        s.attach = *static_cast<rtp_ext_attach_session_params const*>(arg);
        s.attachedChannel = channelOf(*s.attach);
        break;
    case rtp_ext::kDetach:
        if (!s.attach)
            return -EINVAL;
        s.attach.reset();
        s.attachedChannel.reset();
        break;
    case rtp_ext::kSourceOfNext:
        if (s.senders.empty())
            return -ENODATA;
        *static_cast<rtp_ext_source*>(arg) = s.senders.front();
        s.senders.pop_front();
        break;
    case rtp_ext::kSetFilter: s.filter = static_cast<rtp_ext_filter const*>(arg)->addr; break;
    default: s.filter.reset(); break;  // reset filter
    }
    return 0;
}

void RtpExtModel::received(OpenFile& file, void const* data, std::size_t length)
{
    Session& s = of(file);
    auto const* bytes = static_cast<std::uint8_t const*>(data);
    s.written.emplace_back(bytes, bytes + length);
    if (s.written.size() > kKeptPayloads)
        s.written.pop_front();
}

std::string RtpExtModel::command(std::vector<std::string> const& w)
{
    static char const usage[] = "error usage: send OPEN ADDR SSRC PAYLOAD | written OPEN | session OPEN";
    auto open = w.size() >= 2 ? words::number(w[1], 1, UINT_MAX) : std::nullopt;
    if (!open)
        return usage;
    OpenFile* f = holder(unsigned(*open));
    if (f == nullptr)
        return "error no open " + w[1];
    if (w[0] == "session" && w.size() == 2) {
        std::ostringstream os;
        put(os << "ok ", of(*f));
        return os.str();
    }
    if (w[0] == "written" && w.size() == 2) {
        std::string reply = "ok";
        for (Payload const& p : takeWritten(unsigned(*open)))
            reply += ' ' + frameText(p);
        return reply;
    }
    if (w[0] == "send" && w.size() == 5) {
        in_addr addr{};
        auto ssrc = words::word32(w[3]);
        Payload payload;
        if (::inet_pton(AF_INET, w[2].c_str(), &addr) != 1 || !ssrc || !parseFrame(w[4], payload))
            return usage;
        rtp_ext_source sender{*ssrc, addr.s_addr, 0};
        return deliver(unsigned(*open), sender, payload) ? "ok sent=1" : "ok sent=0";
    }
    return usage;
}

}  // namespace board::sim
