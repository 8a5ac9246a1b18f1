#include "board/sim/hal_spi_model.h"

#include "board/hal.h"
#include "board/sim/model_words.h"

#include <cerrno>

namespace board::sim {

std::vector<RequestInfo> HalSpiModel::requests()
{
    return {
        {hal::kClockSelect, "clock-select", sizeof(hal::ClockSource)},
        {hal::kSpiRead, "spi-read", sizeof(hal::SpiRegister)},
        {hal::kSpiWrite, "spi-write", sizeof(hal::SpiRegister)},
    };
}

int HalSpiModel::request(RequestInfo const& info, void* arg)
{
    if (info.number == hal::kClockSelect) {
        clock_ = std::int32_t(static_cast<hal::ClockSource*>(arg)->index);
        return 0;
    }
    if (info.number != hal::kSpiRead && info.number != hal::kSpiWrite)
        return -ENOTTY;
    if (!present_)
        return -ENODEV;
    auto& r = *static_cast<hal::SpiRegister*>(arg);
    if (r.channel >= kLines)
        return -EINVAL;
    std::uint8_t& reg = regs_[r.channel][r.reg];
    if (info.number == hal::kSpiRead)
        return reg;
    reg = r.value;
    return 0;
}

std::optional<std::string> HalSpiModel::command(std::vector<std::string> const& words)
{
    if (words.size() == 1 && words[0] == "clock")
        return clock_ ? "ok " + std::to_string(*clock_) : std::string("ok none");
    if (words.empty() || words[0] != "spi")
        return std::nullopt;
    if (words.size() == 2 && (words[1] == "absent" || words[1] == "present")) {
        present_ = words[1] == "present";
        return std::string("ok");
    }
    std::string const usage = "error usage: spi LINE REG [VALUE] | spi absent | spi present";
    if (words.size() != 3 && words.size() != 4)
        return usage;
    auto const line = words::number(words[1], 0, kLines - 1);
    auto const reg = words::number(words[2], 0, 255);
    if (!line || !reg)
        return usage;
    std::uint8_t& r = regs_[std::size_t(*line)][std::size_t(*reg)];
    if (words.size() == 3)
        return "ok " + std::to_string(r);
    auto const value = words::number(words[3], 0, 255);
    if (!value)
        return usage;
    r = std::uint8_t(*value);
    return std::string("ok");
}

}  // namespace board::sim
