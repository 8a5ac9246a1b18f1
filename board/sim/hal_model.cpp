#include "board/sim/hal_model.h"

#include "board/hal.h"

#include <cerrno>
#include <cstdlib>
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

bool parseNumber(std::string const& text, long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 0);
    return *end == '\0';
}

}  // namespace

HalModel::HalModel()
    : Device(hal::kPath, {
                             {hal::kSwitchConnect, "connect", sizeof(hal::SwitchConnect)},
                             {hal::kSwitchDisable, "disable", sizeof(hal::SwitchDisable)},
                             {hal::kSwitchWrite, "write", sizeof(hal::SwitchByte)},
                             {hal::kSwitchRead, "read", sizeof(hal::SwitchByte)},
                             {hal::kDipSwitch, "dip", sizeof(hal::BoardByte)},
                             {hal::kPowerStatus, "power", sizeof(hal::BoardByte)},
                             {hal::kFrontLeds, "leds", sizeof(hal::BoardByte)},
                         })
{
}

HalModel::Output HalModel::output(int channel) const
{
    auto it = outputs_.find(channel);
    return it == outputs_.end() ? Output() : it->second;
}

int HalModel::request(OpenFile*, RequestInfo const& info, void* arg)
{
    switch (info.number) {
    case hal::kSwitchConnect: {
        auto& r = *static_cast<hal::SwitchConnect*>(arg);
        if (r.output > kMaxChannel || r.input > kMaxChannel)
            return -EINVAL;
        Output& o = outputs_[int(r.output)];
        o.state = Output::State::connected;
        o.input = int(r.input);
        o.byte = 0;
        return 0;
    }
    case hal::kSwitchDisable: {
        auto& r = *static_cast<hal::SwitchDisable*>(arg);
        if (r.output > kMaxChannel)
            return -EINVAL;
        Output& o = outputs_[int(r.output)];
        o.state = Output::State::disabled;
        o.input = -1;
        o.byte = 0;
        ++o.disables;
        return 0;
    }
    case hal::kSwitchWrite: {
        auto& r = *static_cast<hal::SwitchByte*>(arg);
        if (r.channel > kMaxChannel || r.value > 0xFF)
            return -EINVAL;
        Output& o = outputs_[int(r.channel)];
        o.state = Output::State::written;
        o.input = -1;
        o.byte = std::uint8_t(r.value);
        return 0;
    }
    case hal::kSwitchRead: {
        auto& r = *static_cast<hal::SwitchByte*>(arg);
        if (r.channel > kMaxChannel)
            return -EINVAL;
        auto out = outputs_.find(int(r.channel));
        auto set = bytes_.find(int(r.channel));
        if (out != outputs_.end() && out->second.state == Output::State::written)
            r.value = out->second.byte;
        else
            r.value = set != bytes_.end() ? set->second : kDefaultByte;
        return 0;
    }
    }
    return boardByteRequest(info, *static_cast<hal::BoardByte*>(arg));
}

std::string HalModel::dump() const
{
    std::ostringstream os;
    auto it = outputs_.begin();
    while (it != outputs_.end()) {
        auto last = it;
        auto next = std::next(it);
        while (next != outputs_.end() && next->first == last->first + 1 && next->second == it->second)
            last = next++;
        if (it != outputs_.begin())
            os << ' ';
        os << it->first;
        if (last != it)
            os << '-' << last->first;
        putState(os, it->second);
        it = next;
    }
    return os.str();
}

std::string HalModel::command(std::vector<std::string> const& words)
{
    std::string const board = boardByteCommand(words);
    if (!board.empty())
        return board;
    long channel = 0;
    long value = 0;
    if (words.size() == 3 && words[0] == "byte" && parseNumber(words[1], channel) && parseNumber(words[2], value)
        && channel >= 0 && channel <= long(kMaxChannel) && value >= 0 && value <= 0xFF) {
        setChannelByte(int(channel), std::uint8_t(value));
        return "ok";
    }
    if (words.size() == 2 && words[0] == "output" && parseNumber(words[1], channel) && channel >= 0
        && channel <= long(kMaxChannel)) {
        Output o = output(int(channel));
        std::ostringstream os;
        os << "ok ";
        if (o.state == Output::State::disabled)
            os << "off";
        else
            putState(os, o);
        os << " disables=" << o.disables;
        return os.str();
    }
    return "error usage: byte CH VALUE | output CH | dip VALUE | power CODE | leds";
}

// Board bytes.

int HalModel::boardByteRequest(RequestInfo const& info, std::uint8_t& byte)
{
    switch (info.number) {
    case hal::kDipSwitch: byte = dip_; return 0;
    case hal::kPowerStatus: byte = powerCode_; return 0;
    case hal::kFrontLeds: leds_ = byte; return 0;
    }
    return -ENOTTY;
}

std::string HalModel::boardByteCommand(std::vector<std::string> const& words)
{
    long value = 0;
    if (words.size() == 1 && words[0] == "leds") {
        std::ostringstream os;
        os << "ok 0x" << std::hex << unsigned(leds_);
        return os.str();
    }
    bool const setter = words.size() == 2 && (words[0] == "dip" || words[0] == "power");
    if (!setter || !parseNumber(words[1], value) || value < 0 || value > 0xFF)
        return "";
    (words[0] == "dip" ? dip_ : powerCode_) = std::uint8_t(value);
    return "ok";
}

}  // namespace board::sim
