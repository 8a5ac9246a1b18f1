#include "board/sim/hal_spi_model.h"

#include "board/hal.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(HalSpiModel, LinesOutsideTheChipsAndAbsentSpiAreRefused)
{
    board::sim::HalSpiModel spi;
    board::sim::RequestInfo const read = spi.requests()[1];
    board::sim::RequestInfo const write = spi.requests()[2];
    hal::SpiRegister line8{8, 51, 0};
    hal::SpiRegister line3{3, 51, 0x85};
    EXPECT_EQ(spi.request(write, &line8), -EINVAL);
    EXPECT_EQ(spi.request(write, &line3), 0);
    EXPECT_EQ(spi.request(read, &line3), 0x85);
    EXPECT_EQ(spi.command({"spi", "3", "51", "256"}), "error usage: spi LINE REG [VALUE] | spi absent | spi present");
    EXPECT_EQ(spi.command({"spi", "absent"}), "ok");
    EXPECT_EQ(spi.request(read, &line3), -ENODEV);
    EXPECT_EQ(spi.command({"output", "3"}), std::nullopt);  // the switch's
}

}  // namespace
