// Slot commands through the running daemon: server-sim started once under a temporary
// root, one controller on loopback.
// - Create, connect, disconnect and destroy cycles per second, for a trunk slot (fed by a
//   standing map slot) and for a map slot (fed by a standing trunk slot); each command waits
//   for its answer.
// - The time to fill all 1024 slot numbers (map slots, each on its own bus channel; the
//   creates sent in one write, every answer and signal read), and the time from dropping
//   that controller until a new controller's ping is answered, which follows the
//   destruction of every slot.
#include "bench/running_daemon.h"
#include "tests/slot_commands.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

namespace {

using testsupport::Bytes;
using testsupport::ControllerClient;

using testsupport::createCommand;
using testsupport::trunkParams;

// Receiver, and with it the transmitter, on bus channel `index` (0..2047).
ZGCP::CreateParams mapParams(unsigned index, bool withTransmitter)
{
    testsupport::BusChannel const channel{index / 128, index % 128};
    return testsupport::mapParams(withTransmitter ? std::optional(channel) : std::nullopt, channel);
}

Bytes frame(ZGCP::Command const& command, int seq, unsigned slot)
{
    return testsupport::tpktFrame(testsupport::encodeZgcp(testsupport::zgcpCommand(command, seq, slot)));
}


// Reads messages until the answer to the command (seq) arrives; false when it is not a
// success or nothing comes.
bool succeeded(ControllerClient& client, int seq)
{
    std::string const want = "seq=" + std::to_string(seq) + " ";
    for (;;) {
        std::string const text = client.receiveText();
        if (text.rfind(want, 0) == 0)
            return text.size() >= 7 && text.compare(text.size() - 7, 7, "success") == 0;
        if (text == "no message" || text == "undecodable")
            return false;
    }
}

bool step(ControllerClient& client, int& seq, ZGCP::Command const& command, unsigned slot)
{
    ++seq;
    return client.sendRaw(frame(command, seq, slot)) && succeeded(client, seq);
}

// Slot 100 is created, connected to the standing slot 101 as its source, disconnected and
// destroyed, each command waiting for its answer.
void cycles(benchmark::State& state, ZGCP::CreateParams const& kind, ZGCP::CreateParams const& standing)
{
    RunningDaemon& d = RunningDaemon::instance();
    if (!d.ready() || !d.attach()) {
        state.SkipWithError("daemon not reachable");
        return;
    }
    ControllerClient& client = d.client();
    int seq = 1;
    if (!step(client, seq, createCommand(standing), 101)) {
        state.SkipWithError("standing slot not created");
        return;
    }
    for (auto _ : state) {
        bool const ok = step(client, seq, createCommand(kind), 100) && step(client, seq, testsupport::connectCommand(100), 101) &&
                        step(client, seq, testsupport::plainCommand(ZGCP::Command::disconnect::id), 100) && step(client, seq, testsupport::plainCommand(ZGCP::Command::destroy::id), 100);
        if (!ok) {
            state.SkipWithError("a command failed");
            break;
        }
    }
    state.counters["cycles/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_TrunkSlotCycle(benchmark::State& state)
{
    // The trunk slot receives from a map slot.
    cycles(state, trunkParams(1, 5), mapParams(10, true));
}
BENCHMARK(BM_TrunkSlotCycle)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_MapSlotCycle(benchmark::State& state)
{
    // The map slot receives from a trunk slot.
    cycles(state, mapParams(20, true), trunkParams(2, 7));
}
BENCHMARK(BM_MapSlotCycle)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Fills every slot number with a map slot, then drops the controller: the manual time is
// the fill; the counter "teardown_ms" is the mean time from the drop until the next
// controller's ping is answered.
void BM_FillAll1024AndTearDownOnControllerLoss(benchmark::State& state)
{
    RunningDaemon& d = RunningDaemon::instance();
    if (!d.ready()) {
        state.SkipWithError("daemon not reachable");
        return;
    }
    Bytes burst;
    for (unsigned n = 0; n < 1024; ++n) {
        Bytes const f = frame(createCommand(mapParams(n, false)), int(n) + 2, n);
        burst.insert(burst.end(), f.begin(), f.end());
    }
    double teardownMs = 0;
    for (auto _ : state) {
        if (!d.attach()) {
            state.SkipWithError("no controller");
            break;
        }
        ControllerClient& client = d.client();
        auto const begin = std::chrono::steady_clock::now();
        bool ok = client.sendRaw(burst);
        // Each create: its answer, then its receiver signal.
        for (unsigned n = 0; ok && n < 1024; ++n)
            ok = client.receiveText() == "seq=" + std::to_string(n + 2) + " slot=" + std::to_string(n) + " success" &&
                 client.receiveText() == "slot=" + std::to_string(n) + " signal=9";
        auto const filled = std::chrono::steady_clock::now();
        if (!ok) {
            state.SkipWithError("a create failed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(filled - begin).count());

        auto const drop = std::chrono::steady_clock::now();
        client.close();
        if (!d.attach()) {
            state.SkipWithError("no controller after the drop");
            break;
        }
        teardownMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - drop).count();
    }
    if (state.iterations() > 0)
        state.counters["teardown_ms"] = teardownMs / double(state.iterations());
}
BENCHMARK(BM_FillAll1024AndTearDownOnControllerLoss)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);

}  // namespace
