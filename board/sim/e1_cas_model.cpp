#include "board/sim/e1_cas_model.h"

#include "board/e1_cas.h"
#include "board/sim/model_words.h"

#include <cerrno>
#include <sstream>

namespace board::sim {

E1CasModel::E1CasModel()
    : Device(e1cas::kPath, {
                               {e1cas::kOpenTrunk, "open", 0, true},
                               {e1cas::kCloseTrunk, "close", 0, true},
                               {e1cas::kGetChannel, "get", sizeof(cas_channel)},
                               {e1cas::kChannelControl, "control", sizeof(e1cas::ChannelControl)},
                           })
{
}

void E1CasModel::setReceived(int trunk, int timeslot, std::uint8_t rx)
{
    Channel& c = channels_[std::size_t(trunk)][std::size_t(timeslot)];
    if (c.rx == rx)
        return;
    c.rx = rx;
    if (!c.open)
        return;
    cas_channel event{std::uint32_t(trunk), std::uint32_t(timeslot), c.rx, c.tx, {0, 0}};
    broadcast(&event, sizeof event);
}

int E1CasModel::request(OpenFile*, RequestInfo const& info, void* arg)
{
    if (info.byValue) {
        auto const trunk = reinterpret_cast<unsigned long>(arg);
        if (trunk >= kTrunks)
            return -EINVAL;
        open_[trunk] = info.number == e1cas::kOpenTrunk;
        // A trunk's close closes its channels.
        if (!open_[trunk])
            for (Channel& c : channels_[trunk]) {
                c.open = false;
                c.tx = 0;
            }
        return 0;
    }
    auto& ch = *static_cast<cas_channel*>(arg);
    if (ch.path >= kTrunks || ch.timeslot >= kTimeslots)
        return -EINVAL;
    Channel& c = channels_[ch.path][ch.timeslot];
    if (info.number == e1cas::kGetChannel) {
        ch.rx = c.rx;
        ch.tx = c.tx;
        return 0;
    }
    auto const flag = static_cast<e1cas::ChannelControl*>(arg)->flag;
    if (flag != e1cas::kOpenChannel && flag != e1cas::kCloseChannel)
        return -EINVAL;
    c.open = flag == e1cas::kOpenChannel;
    c.tx = c.open ? std::uint8_t(ch.tx & 15) : 0;
    return 0;
}

void E1CasModel::closed(OpenFile&)
{
    if (!opens().empty())
        return;
    open_.fill(false);
    for (auto& trunk : channels_)
        for (Channel& c : trunk) {
            c.open = false;
            c.tx = 0;
        }
}

std::string E1CasModel::dump() const
{
    std::ostringstream os;
    os << "open=";
    char const* sep = "";
    for (int t = 0; t < kTrunks; ++t) {
        if (open_[std::size_t(t)]) {
            os << sep << t;
            sep = ",";
        }
    }
    for (int t = 0; t < kTrunks; ++t) {
        for (int ts = 0; ts < kTimeslots; ++ts) {
            Channel const& c = channel(t, ts);
            if (c.open || c.rx || c.tx)
                os << ' ' << t << '/' << ts << ':' << (c.open ? "" : "closed,") << "rx=" << unsigned(c.rx)
                   << ",tx=" << unsigned(c.tx);
        }
    }
    return os.str();
}

bool E1CasModel::parseChannel(std::vector<std::string> const& words, int& trunk, int& timeslot) const
{
    auto const t = words.size() >= 3 ? words::number(words[1], 0, kTrunks - 1) : std::nullopt;
    auto const ts = words.size() >= 3 ? words::number(words[2], 0, kTimeslots - 1) : std::nullopt;
    if (!t || !ts)
        return false;
    trunk = int(*t);
    timeslot = int(*ts);
    return true;
}

std::string E1CasModel::command(std::vector<std::string> const& words)
{
    int trunk = 0;
    int timeslot = 0;
    if (words.size() == 4 && words[0] == "rx" && parseChannel(words, trunk, timeslot)) {
        if (auto const bits = words::number(words[3], 0, 255)) {
            setReceived(trunk, timeslot, std::uint8_t(*bits));
            return "ok";
        }
    }
    if (words.size() == 3 && words[0] == "channel" && parseChannel(words, trunk, timeslot)) {
        Channel const& c = channel(trunk, timeslot);
        return std::string("ok ") + (c.open ? "open" : "closed") + " rx=" + std::to_string(c.rx)
             + " tx=" + std::to_string(c.tx);
    }
    return "error usage: rx T TS BITS | channel T TS";
}

}  // namespace board::sim
