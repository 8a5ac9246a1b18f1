#include "board/sim/dsp_data_model.h"

#include <cerrno>
#include <sstream>

namespace board::sim {

DspDataModel::DspDataModel()
    : LineDevice(dspdata::kPath, {
                                 {dspdata::kSignallingChannel, "signalling", sizeof(std::uint32_t)},
                                 {dspdata::kAddBChannel, "add-b", sizeof(dspdata::BChannel)},
                                 {dspdata::kDeleteBChannel, "delete-b", sizeof(std::uint32_t)},
                             })
{
}

DspDataModel::Channel* DspDataModel::channelOf(OpenFile const& file) { return dynamic_cast<Channel*>(file.state.get()); }

std::map<std::uint32_t, int> DspDataModel::lent(int channel) const
{
    OpenFile* f = findLine(channel);
    return f ? channelOf(*f)->lent : std::map<std::uint32_t, int>();
}

int DspDataModel::opened(OpenFile& file)
{
    int channel = kFirstChannel;
    for (int taken : channels())
        if (taken == channel)
            channel += 1 + int(dspdata::kBChannels);
    if (channel >= kFirstChannel + kGroups * (1 + int(dspdata::kBChannels)))
        return -ENOSPC;
    auto c = std::make_unique<Channel>();
    c->channel = channel;
    file.state = std::move(c);
    return 0;
}

int DspDataModel::addB(Channel& c, dspdata::BChannel& record)
{
    if (record.index >= dspdata::kBChannels)
        return -EINVAL;
    if (c.lent.count(record.index))
        return -EBUSY;
    record.channel = c.channel + 1 + int(record.index);
    c.lent[record.index] = record.channel;
    return 0;
}

int DspDataModel::deleteB(Channel& c, std::uint32_t index) { return c.lent.erase(index) ? 0 : -EINVAL; }

int DspDataModel::request(OpenFile* file, RequestInfo const& info, void* arg)
{
    Channel* c = file ? channelOf(*file) : nullptr;
    if (c == nullptr)
        return -ENOTTY;
    switch (info.number) {
    case dspdata::kSignallingChannel:
        *static_cast<std::uint32_t*>(arg) = std::uint32_t(c->channel);
        return c->channel;
    case dspdata::kAddBChannel: return addB(*c, *static_cast<dspdata::BChannel*>(arg));
    case dspdata::kDeleteBChannel: return deleteB(*c, *static_cast<std::uint32_t*>(arg));
    }
    return -ENOTTY;
}

std::string DspDataModel::dump() const
{
    std::ostringstream os;
    for (int channel : channels()) {
        OpenFile* f = findLine(channel);
        os << (os.tellp() > 0 ? " " : "") << channel << ":ino=" << f->inode();
        char const* sep = ":b=";
        for (auto const& [index, b] : channelOf(*f)->lent) {
            os << sep << index << '/' << b;
            sep = ",";
        }
    }
    return os.str();
}

std::string DspDataModel::command(std::vector<std::string> const& words)
{
    return lineCommand(words).value_or("error usage: push CH FRAME... | written CH | hangup CH | peer CH on|off | peer CH send FRAME");
}

}  // namespace board::sim
