#include "board/sim/mctl_model.h"

#include "board/sim/model_words.h"

#include <cerrno>
#include <cstdint>
#include <sstream>

namespace board::sim {

MctlModel::MctlModel()
    : Device(mctl::kPath, {
                              {mctl::kAllocate, "allocate", 0, true},
                              {mctl::kEnumerate, "enumerate", 0, true},
                              {mctl::kTimeslot, "timeslot", 0, true},
                              {mctl::kSetDataModes, "modes", sizeof(mctl::ModemPair)},
                              {mctl::kResetParams, "reset", sizeof(mctl::ModemPair)},
                              {mctl::kSetParam, "param", sizeof(mctl::ModemParam)},
                              {mctl::kAnswer, "answer", sizeof(mctl::ModemPair)},
                              {mctl::kOriginate, "originate", sizeof(mctl::ModemPair)},
                              {mctl::kFaxOriginate, "fax", sizeof(mctl::ModemPair)},
                          }),
      modems_(kDefaultModems)
{
}

bool MctlModel::setModems(int count)
{
    if (count < 0 || count > kMaxModems)
        return false;
    for (int n = count; n < modems(); ++n)
        if (modems_[std::size_t(n)].owner)
            return false;
    modems_.resize(std::size_t(count));
    return true;
}

int MctlModel::held(OpenFile const& file) const
{
    for (int n = 0; n < modems(); ++n)
        if (modems_[std::size_t(n)].owner == &file)
            return n;
    return -1;
}

int MctlModel::allocate(OpenFile& file)
{
    if (held(file) >= 0)
        return -EBUSY;
    for (int n = 0; n < modems(); ++n) {
        Modem& m = modems_[std::size_t(n)];
        if (m.owner == nullptr) {
            m = Modem{};
            m.owner = &file;
            return n;
        }
    }
    return -EBUSY;
}

MctlModel::Modem* MctlModel::own(OpenFile const& file, std::int32_t number)
{
    return number >= 0 && number == held(file) ? &modems_[std::size_t(number)] : nullptr;
}

int MctlModel::request(OpenFile* file, RequestInfo const& info, void* arg)
{
    if (file == nullptr)
        return -ENOTTY;
    auto const value = std::int32_t(reinterpret_cast<std::uintptr_t>(arg));
    switch (info.number) {
    case mctl::kAllocate: return allocate(*file);
    case mctl::kEnumerate:
        if (value < -1)
            return -EINVAL;
        return value + 1 < modems() ? value + 1 : -ENODEV;
    case mctl::kTimeslot: {
        int const n = held(*file);
        return n >= 0 ? channel(n) : -EINVAL;
    }
    case mctl::kSetParam: {
        auto const& p = *static_cast<mctl::ModemParam const*>(arg);
        Modem* m = own(*file, p.modem);
        if (m == nullptr)
            return -EINVAL;
        m->params[p.index] = p.value;
        return 0;
    }
    }
    auto const& pair = *static_cast<mctl::ModemPair const*>(arg);
    Modem* m = own(*file, pair.modem);
    if (m == nullptr)
        return -EINVAL;
    switch (info.number) {
    case mctl::kSetDataModes: m->modes = pair.word; break;
    case mctl::kResetParams: m->params.clear(); break;
    case mctl::kAnswer: m->call = "answer"; break;
    case mctl::kOriginate: m->call = "originate"; break;
    case mctl::kFaxOriginate: m->call = "fax"; break;
    default: return -ENOTTY;
    }
    return 0;
}

void MctlModel::closed(OpenFile& file)
{
    int const n = held(file);
    if (n >= 0)
        modems_[std::size_t(n)] = Modem{};
}

std::string MctlModel::text(int number) const
{
    Modem const& m = modems_[std::size_t(number)];
    if (m.owner == nullptr)
        return "free";
    std::ostringstream os;
    os << "ts=" << channel(number) << ",modes=0x" << std::hex << m.modes << std::dec << ",params=";
    char const* sep = "";
    for (auto const& [index, value] : m.params) {
        os << sep << index << ':' << value;
        sep = "/";
    }
    os << ",call=" << (m.call.empty() ? "none" : m.call);
    return os.str();
}

std::string MctlModel::dump() const
{
    std::string out = "modems=" + std::to_string(modems());
    for (int n = 0; n < modems(); ++n)
        out += ' ' + std::to_string(n) + ':' + text(n);
    return out;
}

std::string MctlModel::command(std::vector<std::string> const& words)
{
    static char const usage[] = "error usage: modems N | modem M";
    if (words.size() != 2)
        return usage;
    if (words[0] == "modems") {
        auto n = words::number(words[1], 0, kMaxModems);
        if (!n)
            return usage;
        return setModems(int(*n)) ? "ok" : "error a modem above " + words[1] + " is in use";
    }
    if (words[0] == "modem") {
        auto n = words::number(words[1], 0, modems() - 1);
        return n ? "ok " + text(int(*n)) : "error no modem " + words[1];
    }
    return usage;
}

}  // namespace board::sim
