#include "board/sim/mcc_model.h"

#include "board/sim/model_words.h"

#include <algorithm>
#include <cerrno>
#include <sstream>

namespace board::sim {
namespace {

char const* const kTypeNames[mcc::kChannelTypes] = {"data", "bri", "transparent", "ss7"};

bool parseType(std::string const& text, std::uint32_t& type)
{
    for (std::uint32_t t = 0; t < mcc::kChannelTypes; ++t)
        if (text == kTypeNames[t] || text == std::to_string(t)) {
            type = t;
            return true;
        }
    return false;
}

}  // namespace

MccModel::MccModel()
    : LineDevice(mcc::kPath, {
                             {mcc::kAllocate, "allocate", sizeof(mcc::Allocate)},
                             {mcc::kTimeslot, "timeslot"},
                             {mcc::kCounts, "counts", sizeof(mcc::Counts)},
                         })
{
}

MccModel::Channel* MccModel::channelOf(OpenFile const& file) { return dynamic_cast<Channel*>(file.state.get()); }

unsigned MccModel::used(std::uint32_t type) const
{
    unsigned n = 0;
    for (OpenFile* f : opens())
        if (Channel* c = channelOf(*f); c && c->record.type == type)
            ++n;
    return n;
}

int MccModel::freeTimeslot() const
{
    std::vector<int> taken = timeslots();
    int ts = kFirstTimeslot;
    for (int t : taken)
        if (t == ts)
            ++ts;
    return ts;
}

int MccModel::allocate(OpenFile& file, mcc::Allocate const& record)
{
    if (channelOf(file))
        return -EBUSY;
    if (record.type >= mcc::kChannelTypes)
        return -EINVAL;
    if (used(record.type) >= capacity_[record.type])
        return -ENOSPC;
    auto channel = std::make_unique<Channel>();
    channel->record = record;
    channel->channel = freeTimeslot();
    file.state = std::move(channel);
    return 0;
}

int MccModel::counts(mcc::Counts& record) const
{
    record = mcc::Counts{capacity_[mcc::kData], capacity_[mcc::kBri], capacity_[mcc::kTransparent], 0};
    return 0;
}

int MccModel::request(OpenFile* file, RequestInfo const& info, void* arg)
{
    if (file == nullptr)
        return -ENOTTY;
    switch (info.number) {
    case mcc::kAllocate: return allocate(*file, *static_cast<mcc::Allocate*>(arg));
    case mcc::kTimeslot: {
        Channel* c = channelOf(*file);
        return c ? c->channel : -EINVAL;
    }
    case mcc::kCounts: return counts(*static_cast<mcc::Counts*>(arg));
    }
    return -ENOTTY;
}

bool MccModel::push(int timeslot, Frame const& frame)
{
    OpenFile* f = findLine(timeslot);
    return f && f->send(frame.data(), frame.size());
}

std::vector<MccModel::Frame> MccModel::takeWritten(int timeslot)
{
    FrameLine* l = line(timeslot);
    return l ? l->take() : std::vector<Frame>();
}

bool MccModel::hangUp(int timeslot)
{
    OpenFile* f = findLine(timeslot);
    return f && board::sim::hangUp(*f);
}

std::string MccModel::dump() const
{
    std::ostringstream os;
    for (std::uint32_t t = 0; t < mcc::kChannelTypes; ++t)
        os << (t ? " " : "") << kTypeNames[t] << '=' << used(t) << '/' << capacity_[t];
    std::vector<OpenFile*> channels;
    for (OpenFile* f : opens())
        if (channelOf(*f))
            channels.push_back(f);
    std::sort(channels.begin(), channels.end(),
              [](OpenFile* a, OpenFile* b) { return channelOf(*a)->channel < channelOf(*b)->channel; });
    for (OpenFile* f : channels) {
        Channel const& c = *channelOf(*f);
        os << ' ' << c.channel << ':' << kTypeNames[c.record.type] << ":ino=" << f->inode();
    }
    return os.str();
}

std::string MccModel::command(std::vector<std::string> const& words)
{
    static char const usage[] =
        "error usage: capacity TYPE N | push TS FRAME... | written TS | hangup TS | peer TS on|off | peer TS send FRAME"
        " | terminals TS N | terminal TS K send FRAME";
    if (words.size() == 3 && words[0] == "capacity") {
        std::uint32_t type = 0;
        auto const n = words::number(words[2], 0, 1024);
        if (!parseType(words[1], type) || !n)
            return usage;
        setCapacity(type, unsigned(*n));
        return "ok";
    }
    return lineCommand(words).value_or(usage);
}

}  // namespace board::sim
