#include "board/sim/dsp_model.h"

#include "board/sim/model_words.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace board::sim {
namespace {

constexpr std::uint32_t kMuteBits = dsp::kMuteRx | dsp::kMuteTx;
constexpr std::uint32_t kSelcalFlag = 1u << 31;

struct Feature {
    std::uint32_t bit;
    char const* name;
};
constexpr Feature kFeatures[] = {{dsp::kVad, "vad"},         {dsp::kSd, "sd"},   {dsp::kMuteRx, "mute-rx"},
                                 {dsp::kMuteTx, "mute-tx"}, {dsp::kBss, "bss"}, {dsp::kNg, "ng"}};

void putConfig(std::ostream& os, dsproc_configure_params const& c, int version)
{
    auto const& p = c.params;
    switch (c.kind) {
    case dsp::kConfigureVad:
        if (version == dsp::kVersionThresholds)
            os << " vad=v2:" << p.vad_v2.voice_th_msec << '/' << p.vad_v2.silence_th_msec << '/'
               << unsigned(p.vad_v2.e_th_dB);
        else
            os << " vad=v1:" << p.vad_v1[0] << '/' << p.vad_v1[1] << '/' << p.vad_v1[2];
        break;
    case dsp::kConfigureSd: os << " sd"; break;
    case dsp::kConfigureDelays: os << " delays=" << p.delays.rx << '/' << p.delays.tx; break;
    case dsp::kConfigureRxGain: os << " gain=" << int(p.gain_dB); break;
    case dsp::kConfigureTone:
        os << p.tone.freq << ':' << unsigned(p.tone.enable) << '/' << p.tone.dur_th_msec << '/'
           << int(p.tone.det_lvl_dB);
        break;
    }
}

void putChannel(std::ostream& os, DspModel::Channel const& c, int version)
{
    char const* sep = "on=";
    for (Feature const& f : kFeatures)
        if (c.on & f.bit) {
            os << sep << f.name;
            sep = ",";
        }
    if (c.on == 0)
        os << "on=none";
    sep = " ids=";
    for (Feature const& f : kFeatures)
        if (auto it = c.ids.find(f.bit); it != c.ids.end()) {
            os << sep << f.name << ':' << it->second;
            sep = ",";
        }
    for (auto const& [kind, config] : c.configs)
        putConfig(os, config, version);
    sep = " tones=";
    for (auto const& [freq, config] : c.toneFilters) {
        putConfig(os << sep, config, version);
        sep = ",";
    }
    os << " tone-resets=" << c.toneResets;
}

}  // namespace

void DspModel::closed(OpenFile&)
{
    if (!opens().empty())
        return;
    for (auto& [ts, c] : channels_) {
        c.on = 0;
        c.ids.clear();
        c.configs.clear();
        c.toneFilters.clear();
    }
}

DspModel::DspModel()
    : Device(dsp::kPath, {
                             {dsp::kConfigure, "configure", sizeof(dsproc_configure_params)},
                             {dsp::kEnable, "enable", sizeof(dsproc_enable_params)},
                             {dsp::kDisable, "disable", sizeof(dsproc_enable_params)},
                             {dsp::kVersion, "version", 0, true},
                         })
{
}

DspModel::Channel const* DspModel::channel(std::uint32_t ts) const
{
    auto it = channels_.find(ts);
    return it == channels_.end() ? nullptr : &it->second;
}

int DspModel::request(OpenFile*, RequestInfo const& info, void* arg)
{
    if (info.number == dsp::kVersion)
        return version_;
    // The other records begin with the timeslot.
    std::uint32_t const ts = *static_cast<std::uint32_t*>(arg);
    if (ts > kMaxTimeslot)
        return -EINVAL;
    Channel& c = channels_[ts];
    if (info.number == dsp::kConfigure) {
        auto const& r = *static_cast<dsproc_configure_params*>(arg);
        if (r.kind == dsp::kConfigureTone)
            c.toneFilters[r.params.tone.freq] = r;
        else
            c.configs[r.kind] = r;
        return 0;
    }
    auto const& r = *static_cast<dsproc_enable_params*>(arg);
    if (info.number == dsp::kDisable) {
        c.on &= ~r.mask;
        if (r.mask & dsp::kToneAll) {
            c.toneFilters.clear();
            ++c.toneResets;
        }
        return 0;
    }
    // An enable that names muting sets both directions as its mask says.
    if (r.mask & kMuteBits)
        c.on &= ~kMuteBits;
    c.on |= r.mask;
    for (Feature const& f : kFeatures)
        if (r.mask & f.bit)
            c.ids[f.bit] = r.id;
    return 0;
}

int DspModel::inject(dsproc_event_record const& record) { return broadcast(&record, sizeof record); }

std::string DspModel::dump() const
{
    std::ostringstream os;
    os << "version=" << version_;
    for (auto const& [ts, c] : channels_) {
        os << "; " << ts << ": ";
        putChannel(os, c, version_);
    }
    return os.str();
}

std::string DspModel::injectCommand(std::vector<std::string> const& w, std::uint32_t ts)
{
    // The record's arguments between the timeslot and the optional id.
    std::size_t const args = w[0] == "vad" || w[0] == "tone" || w[0] == "flags" ? 2 : 1;
    std::optional<std::uint32_t> id;
    if (w.size() < 2 + args || !words::optionalId(w, 2 + args, id))
        return {};
    dsproc_event_record r{};
    r.timeslot = ts;
    auto& p = r.payload;
    std::uint32_t feature = 0;
    if (w[0] == "vad") {
        feature = dsp::kVad;
        r.type = dsp::kEventVad;
        for (std::size_t i = 0; i < 2; ++i) {
            if (w[2 + i] == "-")
                continue;
            auto v = words::number(w[2 + i], INT32_MIN, INT32_MAX);
            if (!v)
                return {};
            p.vad.dir_mask |= 1u << i;
            (i == 0 ? p.vad.vad_rx : p.vad.vad_tx) = std::int32_t(*v);
        }
    } else if (w[0] == "sd") {
        feature = dsp::kSd;
        r.type = dsp::kEventSd;
        auto v = words::number(w[2], INT32_MIN, INT32_MAX);
        if (!v)
            return {};
        p.sd.sd_rx = std::int32_t(*v);
    } else if (w[0] == "bss") {
        feature = dsp::kBss;
        r.type = dsp::kEventBss;
        char* end = nullptr;
        p.bss.score = std::strtof(w[2].c_str(), &end);
        if (w[2].empty() || *end != '\0')
            return {};
    } else if (w[0] == "tone" || w[0] == "flags") {
        auto a = words::word32(w[2]);
        auto b = words::word32(w[3]);
        if (!a || !b)
            return {};
        r.type = w[0] == "tone" ? dsp::kEventTone : dsp::kEventFlags;
        if (r.type == dsp::kEventTone)
            p.tone = {*a, *b};
        else
            p.flags = {*a, *b};
    } else if (w[0] == "selcal") {
        auto v = words::number(w[2], 0, 1);
        if (!v)
            return {};
        r.type = dsp::kEventFlags;
        p.flags = {*v ? kSelcalFlag : 0, kSelcalFlag};
    } else {
        return {};
    }
    std::uint32_t current = 0;
    if (Channel const* c = channel(ts); c && feature)
        if (auto it = c->ids.find(feature); it != c->ids.end())
            current = it->second;
    r.id = id.value_or(current);
    int n = inject(r);
    return n > 0 ? "ok sent=" + std::to_string(n) : "error no open of " + path();
}

std::string DspModel::command(std::vector<std::string> const& w)
{
    if (!w.empty() && w[0] == "version" && w.size() <= 2) {
        if (w.size() == 2) {
            auto v = words::number(w[1], 0, INT32_MAX);
            if (!v)
                return "error usage: version [N]";
            version_ = int(*v);
        }
        return "ok " + std::to_string(version_);
    }
    std::optional<long long> ts = w.size() >= 2 ? words::number(w[1], 0, kMaxTimeslot) : std::nullopt;
    if (ts && w.size() == 2 && w[0] == "channel") {
        Channel const* c = channel(std::uint32_t(*ts));
        if (c == nullptr)
            return "error no request for timeslot " + w[1];
        std::ostringstream os;
        putChannel(os << "ok ", *c, version_);
        return os.str();
    }
    if (ts && w.size() >= 3) {
        std::string reply = injectCommand(w, std::uint32_t(*ts));
        if (!reply.empty())
            return reply;
    }
    return "error usage: vad TS RX|- TX|- [ID] | sd TS VALUE [ID] | bss TS SCORE [ID] | "
           "tone TS FREQ PRESENCE [ID] | flags TS FLAGS MASK [ID] | selcal TS 0|1 [ID] | version [N] | channel TS";
}

}  // namespace board::sim
