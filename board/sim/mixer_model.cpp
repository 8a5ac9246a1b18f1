#include "board/sim/mixer_model.h"

#include "board/sim/model_words.h"

#include <cerrno>
#include <climits>
#include <sstream>

namespace board::sim {

MixerModel::MixerModel()
    : Device(mixer::kPath, {
                               {mixer::kRxClear, "rx-clear", sizeof(mix_slot)},
                               {mixer::kRxAdd, "rx-add", sizeof(mix_route)},
                               {mixer::kRxRemove, "rx-remove", sizeof(mix_route)},
                               {mixer::kTdm, "tdm", sizeof(mix_slot)},
                               {mixer::kEnumerate, "enumerate", sizeof(mix_unit)},
                           })
{
}

bool MixerModel::addUnit(int id, int channels, int inputs)
{
    if (id < 0 || id > kMaxUnit || channels < 1 || channels > kMaxChannels || inputs < 0 || inputs > kMaxInputs)
        return false;
    units_[id] = Unit{channels, inputs, {}};
    return true;
}

bool MixerModel::removeUnit(int id) { return units_.erase(id) == 1; }

MixerModel::Unit const* MixerModel::unit(int id) const
{
    auto it = units_.find(id);
    return it == units_.end() ? nullptr : &it->second;
}

std::vector<MixerModel::Route> MixerModel::routes(int id) const
{
    std::vector<Route> out;
    if (Unit const* u = unit(id))
        for (auto const& [key, gain] : u->routes)
            out.push_back({key.first, key.second, gain});
    return out;
}

MixerModel::Unit* MixerModel::channelOf(mix_slot const& slot)
{
    auto it = units_.find(slot.dev_no);
    if (it == units_.end() || slot.type != mix_slot_tdm || slot.number < 0 || slot.number >= it->second.channels)
        return nullptr;
    return &it->second;
}

int MixerModel::request(OpenFile*, RequestInfo const& info, void* arg)
{
    switch (info.number) {
    case mixer::kRxClear: {
        auto const& slot = *static_cast<mix_slot const*>(arg);
        Unit* u = channelOf(slot);
        if (u == nullptr)
            return -EINVAL;
        for (auto it = u->routes.begin(); it != u->routes.end();)
            it = it->first.first == slot.number ? u->routes.erase(it) : std::next(it);
        return 0;
    }
    case mixer::kRxAdd:
    case mixer::kRxRemove: return editRoutes(info.number, *static_cast<mix_route const*>(arg));
    case mixer::kTdm: {
        auto const& slot = *static_cast<mix_slot const*>(arg);
        if (channelOf(slot) == nullptr)
            return -EINVAL;
        return kFirstTimeslot + slot.dev_no * kMaxChannels + slot.number;
    }
    case mixer::kEnumerate: return enumerate(*static_cast<mix_unit*>(arg));
    default: return -ENOTTY;
    }
}

int MixerModel::editRoutes(unsigned long number, mix_route const& route)
{
    // A summing channel adds sources of its own unit only.
    Unit* u = channelOf(route.rx);
    if (u == nullptr || channelOf(route.tx) != u)
        return -EINVAL;
    std::pair<int, int> const key{route.rx.number, route.tx.number};
    if (number == mixer::kRxAdd) {
        u->routes[key] = route.gain;
        return 0;
    }
    return u->routes.erase(key) == 1 ? 0 : -ENOENT;
}

int MixerModel::enumerate(mix_unit& record) const
{
    auto it = units_.upper_bound(record.id);
    if (it == units_.end())
        return -ENODEV;
    record = mix_unit{it->first, it->second.channels, 0, it->second.inputs};
    return 0;
}

std::string MixerModel::dump() const
{
    std::ostringstream os;
    for (auto const& [id, u] : units_) {
        if (os.tellp() > 0)
            os << "; ";
        os << id << ":channels=" << u.channels << ",inputs=" << u.inputs << ",routes=" << u.routes.size();
    }
    return os.str();
}

std::string MixerModel::command(std::vector<std::string> const& w)
{
    std::optional<long long> id = w.size() >= 2 ? words::number(w[1], INT_MIN, INT_MAX) : std::nullopt;
    if (id && w.size() == 4 && w[0] == "add") {
        auto channels = words::number(w[2], INT_MIN, INT_MAX);
        auto inputs = words::number(w[3], INT_MIN, INT_MAX);
        if (channels && inputs && addUnit(int(*id), int(*channels), int(*inputs)))
            return "ok";
        return "error bad unit " + w[1] + " " + w[2] + " " + w[3];
    }
    if (id && w.size() == 2 && (w[0] == "remove" || w[0] == "routes")) {
        if (unit(int(*id)) == nullptr)
            return "error no unit " + w[1];
        std::ostringstream os;
        os << "ok";
        if (w[0] == "remove")
            removeUnit(int(*id));
        else
            for (Route const& r : routes(int(*id)))
                os << ' ' << r.rx << '<' << r.tx << ':' << r.gain;
        return os.str();
    }
    return "error usage: add ID CHANNELS INPUTS | remove ID | routes ID";
}

}  // namespace board::sim
