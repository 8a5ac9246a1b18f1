#include "board/sim/hal_model.h"

#include "board/hal.h"
#include "board/sim/model_words.h"

#include <cerrno>
#include <sstream>

namespace board::sim {
namespace {

void putState(std::ostream& os, HalModel::Output const& o)
{
    switch (o.state) {
    case HalModel::Output::State::disabled: os << ":off"; break;
    case HalModel::Output::State::connected: os << '<' << o.input; break;
    case HalModel::Output::State::written: os << "=0x" << std::hex << unsigned(o.byte) << std::dec; break;
    }
}

}  // namespace

namespace {

std::vector<RequestInfo> halRequests()
{
    std::vector<RequestInfo> all{
        {hal::kSwitchConnect, "connect", sizeof(hal::SwitchConnect)},
        {hal::kSwitchDisable, "disable", sizeof(hal::SwitchDisable)},
        {hal::kSwitchWrite, "write", sizeof(hal::SwitchByte)},
        {hal::kSwitchRead, "read", sizeof(hal::SwitchByte)},
    };
    for (RequestInfo const& r : HalSpiModel::requests())
        all.push_back(r);
    for (RequestInfo const& r : HalBoardModel::requests())
        all.push_back(r);
    return all;
}

}  // namespace

HalModel::HalModel()
    : Device(hal::kPath, halRequests()),
      outputs_(kMaxChannel + 1),
      touched_(kMaxChannel + 1),
      bytes_(kMaxChannel + 1, kDefaultByte)
{
}

HalModel::Output HalModel::output(int channel) const
{
    return channel >= 0 && known(std::uint32_t(channel)) ? outputs_[std::size_t(channel)] : Output();
}

void HalModel::setChannelByte(int channel, std::uint8_t byte)
{
    if (channel >= 0 && known(std::uint32_t(channel)))
        bytes_[std::size_t(channel)] = byte;
}

HalModel::Output& HalModel::touch(std::uint32_t channel)
{
    if (!touched_[channel]) {
        touched_[channel] = true;
        touchedInOrder_.insert(channel);
    }
    return outputs_[channel];
}

int HalModel::request(OpenFile*, RequestInfo const& info, void* arg)
{
    switch (info.number) {
    case hal::kSwitchConnect: {
        auto& r = *static_cast<hal::SwitchConnect*>(arg);
        if (!known(r.output) || !known(r.input))
            return -EINVAL;
        Output& o = touch(r.output);
        o.state = Output::State::connected;
        o.input = int(r.input);
        o.byte = 0;
        return 0;
    }
    case hal::kSwitchDisable: {
        auto& r = *static_cast<hal::SwitchDisable*>(arg);
        if (!known(r.output))
            return -EINVAL;
        Output& o = touch(r.output);
        o.state = Output::State::disabled;
        o.input = -1;
        o.byte = 0;
        ++o.disables;
        return 0;
    }
    case hal::kSwitchWrite: {
        auto& r = *static_cast<hal::SwitchByte*>(arg);
        if (!known(r.channel) || r.value > 0xFF)
            return -EINVAL;
        Output& o = touch(r.channel);
        o.state = Output::State::written;
        o.input = -1;
        o.byte = std::uint8_t(r.value);
        return 0;
    }
    case hal::kSwitchRead: {
        auto& r = *static_cast<hal::SwitchByte*>(arg);
        if (!known(r.channel))
            return -EINVAL;
        Output const& o = outputs_[r.channel];
        r.value = o.state == Output::State::written ? o.byte : bytes_[r.channel];
        return 0;
    }
    }
    int const spi = spi_.request(info, arg);
    return spi != -ENOTTY ? spi : boardBytes_.request(info, arg);
}

std::string HalModel::dump() const
{
    std::ostringstream os;
    auto const end = touchedInOrder_.end();
    for (auto at = touchedInOrder_.begin(); at != end;) {
        std::uint32_t const ch = *at;
        std::uint32_t last = ch;
        while (++at != end && *at == last + 1 && outputs_[*at] == outputs_[ch])
            last = *at;
        os << (ch == *touchedInOrder_.begin() ? "" : " ") << ch;
        if (last != ch)
            os << '-' << last;
        putState(os, outputs_[ch]);
    }
    return os.str();
}

std::string HalModel::command(std::vector<std::string> const& words)
{
    if (auto reply = spi_.command(words))
        return *reply;
    if (auto reply = boardBytes_.command(words))
        return *reply;
    auto const channel = words.size() >= 2 ? words::number(words[1], 0, kMaxChannel) : std::nullopt;
    auto const value = words.size() == 3 ? words::number(words[2], 0, 0xFF) : std::nullopt;
    if (words.size() == 3 && words[0] == "byte" && channel && value) {
        setChannelByte(int(*channel), std::uint8_t(*value));
        return "ok";
    }
    if (words.size() == 2 && words[0] == "output" && channel) {
        Output o = output(int(*channel));
        std::ostringstream os;
        os << "ok ";
        if (o.state == Output::State::disabled)
            os << "off";
        else
            putState(os, o);
        os << " disables=" << o.disables;
        return os.str();
    }
    return "error usage: byte CH VALUE | output CH | clock | spi LINE REG [VALUE] | spi absent | spi present"
           " | dip VALUE | power CODE | leds";
}

}  // namespace board::sim
