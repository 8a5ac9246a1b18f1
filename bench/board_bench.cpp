// The simulated board's request path: one switch request through the board (descriptor to
// open, journal, model), one re-disable pass of the switch (128 of them), and beside them
// the system call that looking the descriptor up used to cost (fstat), as the baseline.
#include "board/hal.h"
#include "board/sim/hal_model.h"
#include "board/sim/sim_board.h"
#include "hardware/hw_mux.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct SimulatedHal {
    board::sim::SimBoard sim;
    board::sim::HalModel& hal = sim.add<board::sim::HalModel>();
    board::ScopedBoard installed{sim};
};

void BM_Fstat(benchmark::State& state)
{
    SimulatedHal b;
    int const fd = b.sim.open(hal::kPath, O_RDWR | O_CLOEXEC);
    struct stat st;
    for (auto _ : state)
        benchmark::DoNotOptimize(::fstat(fd, &st));
    ::close(fd);
}
BENCHMARK(BM_Fstat);

void BM_SwitchDisableRequest(benchmark::State& state)
{
    SimulatedHal b;
    int const fd = b.sim.open(hal::kPath, O_RDWR | O_CLOEXEC);
    hal::SwitchDisable r{8192};
    for (auto _ : state)
        benchmark::DoNotOptimize(board::board().ioctl(fd, hal::kSwitchDisable, &r));
    ::close(fd);
}
BENCHMARK(BM_SwitchDisableRequest);

void BM_ReDisablePass(benchmark::State& state)
{
    SimulatedHal b;
    HwMux mux;
    for (auto _ : state)
        mux.OnDPC();
    state.SetItemsProcessed(state.iterations() * HwMux::kRefreshPerPass);
}
BENCHMARK(BM_ReDisablePass);

}  // namespace
