#include "board/sim/voice_model.h"

#include "board/sim/model_words.h"

#include <climits>
#include <optional>
#include <sstream>

namespace board::sim {
namespace {

struct Kind {
    std::uint32_t kind;
    char const* name;
    int channels;  // at start
};
constexpr Kind kKinds[] = {{voice::kG729, "g729", 16},
                           {voice::kG723, "g723", 16},
                           {voice::kG711, "g711", 64},
                           {voice::kG711Mcc, "g711mcc", 32},
                           {voice::kUniversal, "universal", 8}};

constexpr voice_version kDefaultVersion = {{2, 1, 0, 0, 0}};

// "2.1.0.0.0".
std::string versionText(voice_version const& v)
{
    std::ostringstream os;
    for (std::size_t i = 0; i < 5; ++i)
        os << (i ? "." : "") << v.word[i];
    return os.str();
}

std::optional<std::uint32_t> kindOf(std::string const& word)
{
    for (Kind const& k : kKinds)
        if (word == k.name)
            return k.kind;
    return words::word32(word);
}

}  // namespace

VoiceModel::VoiceModel()
    : Device(voice::kPath, {{voice::kCount, "count", sizeof(std::uint32_t)},
                            {voice::kVersion, "version", sizeof(voice_version)}}),
      version_(kDefaultVersion)
{
    for (Kind const& k : kKinds)
        counts_[k.kind] = k.channels;
}

int VoiceModel::count(std::uint32_t kind) const
{
    auto it = counts_.find(kind);
    return it == counts_.end() ? 0 : it->second;
}

int VoiceModel::request(OpenFile*, RequestInfo const& info, void* arg)
{
    if (info.number == voice::kCount)
        return count(*static_cast<std::uint32_t const*>(arg));
    *static_cast<voice_version*>(arg) = version_;
    return 0;
}

std::string VoiceModel::dump() const
{
    std::ostringstream os;
    for (Kind const& k : kKinds)
        os << k.name << '=' << count(k.kind) << ' ';
    os << "version=" << versionText(version_);
    return os.str();
}

std::string VoiceModel::command(std::vector<std::string> const& w)
{
    if (w.size() >= 2 && w.size() <= 3 && w[0] == "count") {
        auto kind = kindOf(w[1]);
        auto channels = w.size() == 3 ? words::number(w[2], INT_MIN, INT_MAX) : std::optional<long long>(0);
        if (kind && channels) {
            if (w.size() == 3)
                setCount(*kind, int(*channels));
            return "ok " + std::to_string(count(*kind));
        }
    }
    if (!w.empty() && w[0] == "version" && (w.size() == 1 || w.size() == 6)) {
        voice_version v = version_;
        bool good = true;
        for (std::size_t i = 1; i < w.size() && good; ++i) {
            auto word = words::word32(w[i]);
            good = word.has_value();
            v.word[i - 1] = word.value_or(0);
        }
        if (good) {
            version_ = v;
            return "ok " + versionText(version_);
        }
    }
    return "error usage: count KIND [N] | version [W0 W1 W2 W3 W4]";
}

}  // namespace board::sim
