#include "board/sim/dsp_data_model.h"

#include "board/sim/console.h"
#include "board/sim/sim_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using board::sim::DspDataModel;

// The signalling channel, the lending and the return of B channels with the last close are
// proven by the QSIG slot's tests through this model; here, the groups of four, the
// refusals and the end of the pool.
TEST(DspDataModelTest, EachOpenTakesAGroupOfFourChannelsAndRefusesWhatItCannotLend)
{
    board::sim::SimBoard sim;
    sim.add<DspDataModel>();
    std::vector<int> fds;
    auto request = [&](unsigned long number, void* arg) { return sim.ioctl(fds[0], number, arg) < 0 ? -errno : 0; };
    for (int i = 0; i < DspDataModel::kGroups; ++i)
        fds.push_back(sim.open(dspdata::kPath, O_RDWR | O_NONBLOCK));
    EXPECT_EQ(sim.open(dspdata::kPath, O_RDWR), -1);
    EXPECT_EQ(errno, ENOSPC);
    std::uint32_t word = 0;
    EXPECT_EQ(sim.ioctl(fds[1], dspdata::kSignallingChannel, &word), DspDataModel::kFirstChannel + 4);

    struct Case {
        unsigned long request;
        std::uint32_t index;
        int result;
        int channel;  // in the record after the request
    } const cases[] = {
        {dspdata::kAddBChannel, 2, 0, 771},      {dspdata::kAddBChannel, 2, -EBUSY, -1},
        {dspdata::kAddBChannel, 3, -EINVAL, -1}, {dspdata::kDeleteBChannel, 1, -EINVAL, -1},
        {dspdata::kDeleteBChannel, 2, 0, -1},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.index);
        dspdata::BChannel record{c.index, -1};
        EXPECT_EQ(request(c.request, &record), c.result);
        EXPECT_EQ(record.channel, c.channel);
    }
    EXPECT_EQ(board::sim::Console(sim).execute("device /dev/dsp-data written 769"), "error no channel 769");
    for (int fd : fds)
        ::close(fd);
}

}  // namespace
