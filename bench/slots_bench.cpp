// Slot commands through the running daemon: server-sim started once under a temporary
// root, one controller on loopback.
// - Create, connect, disconnect and destroy cycles per second, for a trunk slot (fed by a
//   standing map slot) and for a map slot (fed by a standing trunk slot); each command waits
//   for its answer.
// - RTP slot create and destroy cycles per second (with its RTCP socket, SDES and BYE), each
//   beside a trunk slot create and destroy cycle measured the same way in the same run: the
//   ratio is what an RTP channel costs over the plainest slot.
// - The time to fill all 1024 slot numbers (map slots, each on its own bus channel; the
//   creates sent in one write, every answer and signal read), and the time from dropping
//   that controller until a new controller's ping is answered, which follows the
//   destruction of every slot.
#include "bench/running_daemon.h"
#include "tests/loopback.h"
#include "tests/slot_commands.h"
#include "tests/tcp_client.h"

#include <sys/socket.h>

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

// Slot 100 is created and destroyed, each command waiting for its answer; the seconds taken.
double createDestroy(ControllerClient& client, int& seq, ZGCP::CreateParams const& kind, bool& ok)
{
    auto const begin = std::chrono::steady_clock::now();
    ok = step(client, seq, createCommand(kind), 100) &&
         step(client, seq, testsupport::plainCommand(ZGCP::Command::destroy::id), 100);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

void BM_RtpSlotCreateDestroy(benchmark::State& state)
{
    RunningDaemon& d = RunningDaemon::instance();
    if (!d.ready() || !d.attach()) {
        state.SkipWithError("daemon not reachable");
        return;
    }
    // The far end takes the RTCP packets; nobody reads them.
    testsupport::LoopbackUdp far;
    ZGCP::CreateRtpParams rtp = testsupport::rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1", far.port() - 1u);
    rtp.set_codecRTP().set_shost().set_iaddr("127.0.0.1");
    rtp.set_codecRTP().set_shost().set_port(testsupport::freePort(SOCK_DGRAM) - 1u);
    ZGCP::CreateParams const rtpSlot = testsupport::rtpParams(rtp);
    ZGCP::CreateParams const trunkSlot = trunkParams(1, 5);
    ControllerClient& client = d.client();
    int seq = 1;
    double rtpSeconds = 0, trunkSeconds = 0;
    for (auto _ : state) {
        bool rtpOk = false, trunkOk = false;
        double const t = createDestroy(client, seq, rtpSlot, rtpOk);
        state.SetIterationTime(t);
        rtpSeconds += t;
        trunkSeconds += createDestroy(client, seq, trunkSlot, trunkOk);
        if (!rtpOk || !trunkOk) {
            state.SkipWithError("a command failed");
            break;
        }
    }
    if (rtpSeconds > 0 && trunkSeconds > 0) {
        double const n = double(state.iterations());
        state.counters["rtp_cycles/s"] = n / rtpSeconds;
        state.counters["trunk_cycles/s"] = n / trunkSeconds;
        state.counters["rtp/trunk_time"] = rtpSeconds / trunkSeconds;
    }
}
BENCHMARK(BM_RtpSlotCreateDestroy)->Unit(benchmark::kMicrosecond)->UseManualTime();

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
