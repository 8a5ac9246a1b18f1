#include "board/sim/hal_spi_model.h"

#include "board/hal.h"
#include "board/sim/hal_model.h"
#include "board/sim/sim_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

struct HalSpiModelTest : ::testing::Test {
    board::sim::SimBoard sim;
    board::sim::HalModel& hal = sim.add<board::sim::HalModel>();
    int fd = sim.open(hal::kPath, O_RDWR | O_CLOEXEC);

    ~HalSpiModelTest() override { ::close(fd); }

    // The request's result, or minus its errno.
    int spi(unsigned long request, std::uint8_t line, std::uint8_t reg, std::uint8_t value = 0xFF)
    {
        hal::SpiRegister r{line, reg, value};
        return sim.ioctl(fd, request, &r) < 0 ? -errno : sim.ioctl(fd, hal::kSpiRead, &r);
    }
};

TEST_F(HalSpiModelTest, RegistersPerLineAbsentSpiAndTheConsole)
{
    struct Case {
        unsigned long request;
        std::uint8_t line, reg, value;
        int result;  // of a read of the register afterwards, or minus the errno
    };
    Case const cases[] = {
        {hal::kSpiWrite, 3, 87, 56, 56},
        {hal::kSpiWrite, 4, 87, 48, 48},
        {hal::kSpiRead, 3, 87, 0xFF, 56},
        {hal::kSpiWrite, 8, 87, 56, -EINVAL},
        {hal::kSpiRead, 255, 51, 0xFF, -EINVAL},
    };
    for (Case const& c : cases)
        EXPECT_EQ(spi(c.request, c.line, c.reg, c.value), c.result) << int(c.line);

    using W = std::vector<std::string>;
    struct Command {
        W words;
        char const* reply;
    };
    Command const commands[] = {
        {{"clock"}, "ok none"},
        {{"spi", "3", "87"}, "ok 56"},
        {{"spi", "2", "51", "0x85"}, "ok"},
        {{"spi", "2", "51"}, "ok 133"},
        {{"spi", "8", "51"}, "error usage: spi LINE REG [VALUE] | spi absent | spi present"},
        {{"spi", "2", "51", "256"}, "error usage: spi LINE REG [VALUE] | spi absent | spi present"},
        {{"spi", "absent"}, "ok"},
    };
    for (Command const& c : commands)
        EXPECT_EQ(hal.command(c.words), c.reply) << c.words[0];
    EXPECT_EQ(spi(hal::kSpiRead, 2, 51), -ENODEV);

    hal::ClockSource source{0xFFFFFFFF};
    EXPECT_EQ(sim.ioctl(fd, hal::kClockSelect, &source), 0);
    EXPECT_EQ(hal.command({"clock"}), "ok -1");
}

}  // namespace
