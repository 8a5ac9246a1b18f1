#include "board/sim/maintenance_model.h"

#include "board/maintenance.h"
#include "board/sim/model_words.h"

#include <cerrno>
#include <cstring>
#include <iterator>
#include <sstream>

namespace board::sim {
namespace {

constexpr std::uint32_t kStateCount = std::size(MaintenanceModel::kStateNames);

std::string optionalText(std::optional<std::uint32_t> const& v) { return v ? std::to_string(*v) : "none"; }

bool parseState(std::string const& text, std::uint32_t& state)
{
    for (std::uint32_t i = 0; i < kStateCount; ++i) {
        if (text == MaintenanceModel::kStateNames[i]) {
            state = i;
            return true;
        }
    }
    auto const n = words::word32(text);
    if (!n)
        return false;
    state = *n;
    return true;
}

}  // namespace

MaintenanceModel::MaintenanceModel()
    : Device(maintenance::kPath, {
                                     {maintenance::kSyncStatus, "status", sizeof(maintenance::SyncStatus)},
                                     {maintenance::kClockSource, "clock-source", 0, true},
                                     {maintenance::kTclk, "tclk", 0, true},
                                 })
{
}

int MaintenanceModel::request(OpenFile*, RequestInfo const& info, void* arg)
{
    auto const value = std::uint32_t(reinterpret_cast<unsigned long>(arg));
    switch (info.number) {
    case maintenance::kSyncStatus: {
        auto& r = *static_cast<maintenance::SyncStatus*>(arg);
        if (r.trunk >= kTrunks)
            return -EINVAL;
        Framer const& f = framers_[r.trunk];
        r.slips = f.slips;
        r.lossBF = f.lossBF;
        r.lossCarrier = f.lossCarrier;
        r.lossAIS = f.lossAIS;
        r.lossRAI = f.lossRAI;
        r.state = f.state;
        return 0;
    }
    case maintenance::kClockSource:
        clockSource_ = value;
        return 0;
    case maintenance::kTclk:
        tclk_ = value;
        return 0;
    }
    return -ENOTTY;
}

std::string MaintenanceModel::dump() const
{
    std::ostringstream os;
    os << "tclk=" << optionalText(tclk_) << " source=" << optionalText(clockSource_);
    for (int t = 0; t < kTrunks; ++t) {
        Framer const& f = framers_[std::size_t(t)];
        os << ' ' << t << ':';
        if (f.state < kStateCount)
            os << kStateNames[f.state];
        else
            os << f.state;
        std::pair<char const*, std::uint32_t> const counters[] = {{"slips", f.slips},
                                                                  {"lossBF", f.lossBF},
                                                                  {"lossCarrier", f.lossCarrier},
                                                                  {"lossAIS", f.lossAIS},
                                                                  {"lossRAI", f.lossRAI}};
        for (auto const& [name, n] : counters)
            if (n != 0)
                os << ',' << name << '=' << n;
    }
    return os.str();
}

std::string MaintenanceModel::setTrunk(std::vector<std::string> const& words)
{
    auto const trunk = words::number(words[1], 0, kTrunks - 1);
    if (words.size() % 2 != 0 || !trunk)
        return "error usage: trunk T [KEY VALUE]...";
    Framer f = framers_[std::size_t(*trunk)];
    for (std::size_t i = 2; i < words.size(); i += 2) {
        std::string const& key = words[i];
        auto const n = words::word32(words[i + 1]);
        if (key == "state" && parseState(words[i + 1], f.state))
            continue;
        std::uint32_t* field = key == "slips"         ? &f.slips
                               : key == "lossBF"      ? &f.lossBF
                               : key == "lossCarrier" ? &f.lossCarrier
                               : key == "lossAIS"     ? &f.lossAIS
                               : key == "lossRAI"     ? &f.lossRAI
                                                      : nullptr;
        if (field == nullptr || !n)
            return "error bad " + key + " " + words[i + 1];
        *field = *n;
    }
    framers_[std::size_t(*trunk)] = f;
    return "ok";
}

std::string MaintenanceModel::command(std::vector<std::string> const& words)
{
    if (words.size() >= 2 && words[0] == "trunk")
        return setTrunk(words);
    if (words.size() == 1 && words[0] == "tclk")
        return "ok " + optionalText(tclk_);
    if (words.size() == 1 && words[0] == "source")
        return "ok " + optionalText(clockSource_);
    return "error usage: trunk T [KEY VALUE]... | tclk | source";
}

}  // namespace board::sim
