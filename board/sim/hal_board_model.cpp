#include "board/sim/hal_board_model.h"

#include "board/hal.h"
#include "board/sim/model_words.h"

#include <cerrno>
#include <sstream>

namespace board::sim {

std::vector<RequestInfo> HalBoardModel::requests()
{
    return {
        {hal::kDipSwitch, "dip", sizeof(hal::BoardByte)},
        {hal::kPowerStatus, "power", sizeof(hal::BoardByte)},
        {hal::kFrontLeds, "leds", sizeof(hal::BoardByte)},
    };
}

int HalBoardModel::request(RequestInfo const& info, void* arg)
{
    auto& byte = *static_cast<hal::BoardByte*>(arg);
    switch (info.number) {
    case hal::kDipSwitch: byte = dip_; return 0;
    case hal::kPowerStatus: byte = powerCode_; return 0;
    case hal::kFrontLeds: leds_ = byte; return 0;
    }
    return -ENOTTY;
}

std::optional<std::string> HalBoardModel::command(std::vector<std::string> const& words)
{
    if (words.size() == 1 && words[0] == "leds") {
        std::ostringstream os;
        os << "ok 0x" << std::hex << unsigned(leds_);
        return os.str();
    }
    if (words.empty() || (words[0] != "dip" && words[0] != "power"))
        return std::nullopt;
    auto const value = words.size() == 2 ? words::number(words[1], 0, 255) : std::nullopt;
    if (!value)
        return std::string("error usage: dip VALUE | power CODE | leds");
    (words[0] == "dip" ? dip_ : powerCode_) = std::uint8_t(*value);
    return std::string("ok");
}

}  // namespace board::sim
