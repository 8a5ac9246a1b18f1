#include "board/sim/hal_model.h"

#include "board/hal.h"
#include "board/sim/sim_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using board::sim::HalModel;
using State = HalModel::Output::State;

struct HalModelTest : ::testing::Test {
    board::sim::SimBoard sim;
    HalModel& hal = sim.add<HalModel>();
    int fd = sim.open(hal::kPath, O_RDWR | O_CLOEXEC);

    ~HalModelTest() override { ::close(fd); }

    int connect(std::uint32_t out, std::uint32_t in)
    {
        hal::SwitchConnect r{out, in};
        return sim.ioctl(fd, hal::kSwitchConnect, &r);
    }
    int disable(std::uint32_t out)
    {
        hal::SwitchDisable r{out};
        return sim.ioctl(fd, hal::kSwitchDisable, &r);
    }
    int write(std::uint32_t out, std::uint32_t value)
    {
        hal::SwitchByte r{out, value};
        return sim.ioctl(fd, hal::kSwitchWrite, &r);
    }
    int read(std::uint32_t ch)
    {
        hal::SwitchByte r{ch, 255};
        return sim.ioctl(fd, hal::kSwitchRead, &r) == 0 ? int(r.value) : -1;
    }
};

TEST_F(HalModelTest, OutputsMoveBetweenDisabledConnectedAndWritten)
{
    ASSERT_GE(fd, 0);
    EXPECT_EQ(hal.output(37).state, State::disabled);
    EXPECT_EQ(hal.disableCount(37), 0u);

    ASSERT_EQ(connect(37, 8322), 0);
    EXPECT_EQ(hal.output(37).state, State::connected);
    EXPECT_EQ(hal.output(37).input, 8322);
    ASSERT_EQ(write(37, 0xD5), 0);
    EXPECT_EQ(hal.output(37).state, State::written);
    EXPECT_EQ(hal.output(37).byte, 0xD5);
    ASSERT_EQ(disable(37), 0);
    ASSERT_EQ(disable(37), 0);
    EXPECT_EQ(hal.output(37).state, State::disabled);
    EXPECT_EQ(hal.disableCount(37), 2u);
}

TEST_F(HalModelTest, ReadsGiveTheWrittenByteOrTheByteSetForTheChannel)
{
    EXPECT_EQ(read(5), HalModel::kDefaultByte);
    hal.setChannelByte(5, 0x2A);
    EXPECT_EQ(read(5), 0x2A);
    ASSERT_EQ(write(5, 0x55), 0);
    EXPECT_EQ(read(5), 0x55);
    ASSERT_EQ(disable(5), 0);
    EXPECT_EQ(read(5), 0x2A);
}

TEST_F(HalModelTest, ChannelsAndBytesOutOfRangeAreInvalid)
{
    EXPECT_EQ(connect(0x10000, 1), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(connect(1, 0xFFFFFFFF), -1);
    EXPECT_EQ(disable(0xFFFFFFFF), -1);
    EXPECT_EQ(write(1, 256), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(read(0x10000), -1);
    // The model's own accessors answer for channels it does not know as for untouched ones.
    for (int channel : {-1, 0x10000}) {
        hal.setChannelByte(channel, 0x12);
        EXPECT_EQ(hal.output(channel), HalModel::Output()) << channel;
    }
    EXPECT_EQ(hal.dump(), "");
    ASSERT_EQ(connect(0xFFFF, 0xFFFF), 0);  // the last channel of the table
    EXPECT_EQ(hal.dump(), "65535<65535");
    errno = 0;
    EXPECT_EQ(sim.ioctl(fd, 0x1234, &errno), -1);
    EXPECT_EQ(errno, ENOTTY);
}

TEST_F(HalModelTest, DumpMergesRunsOfEqualOutputs)
{
    for (std::uint32_t out = 8192; out < 8200; ++out)
        disable(out);
    write(8195, 0xD5);
    write(8196, 0xD5);
    connect(37, 8322);
    connect(38, 8322);
    connect(40, 8323);
    disable(8196);
    EXPECT_EQ(hal.dump(), "37-38<8322 40<8323 8192-8194:off 8195=0xd5 8196-8199:off");
}

TEST_F(HalModelTest, ConsoleCommandsSetBytesAndShowOutputs)
{
    EXPECT_EQ(hal.command({"byte", "9", "0x41"}), "ok");
    EXPECT_EQ(read(9), 0x41);
    disable(8192);
    disable(8192);
    EXPECT_EQ(hal.command({"output", "8192"}), "ok off disables=2");
    connect(8192, 3);
    EXPECT_EQ(hal.command({"output", "8192"}), "ok <3 disables=2");
    write(8192, 0xD5);
    EXPECT_EQ(hal.command({"output", "8192"}), "ok =0xd5 disables=2");
    EXPECT_EQ(hal.command({"byte", "9", "256"}).substr(0, 6), "error ");
    EXPECT_EQ(hal.command({"output", "-1"}).substr(0, 6), "error ");
    EXPECT_EQ(hal.command({}).substr(0, 6), "error ");
}

// The power and LED bytes and the reading of the DIP switch are proven by the monitoring
// tests through this model; here, the console's part.
TEST_F(HalModelTest, TheDipSwitchByteComesFromTheConsole)
{
    struct Case {
        std::vector<std::string> words;
        std::string reply;
    } const cases[] = {
        {{"dip", "0x5a"}, "ok"},
        {{"dip", "256"}, "error"},
        {{"power"}, "error"},
    };
    for (auto const& c : cases)
        EXPECT_EQ(hal.command(c.words).substr(0, c.reply.size()), c.reply) << c.words[0];
    hal::BoardByte dip = 0;
    ASSERT_EQ(sim.ioctl(fd, hal::kDipSwitch, &dip), 0);
    EXPECT_EQ(dip, 0x5A);
}

}  // namespace
