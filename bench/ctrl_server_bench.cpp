// The controller's round trips through the running daemon: server-sim started once under a
// temporary root, one controller on loopback sending `ping` (seq 1) and reading the
// success. Pings per second with one command outstanding and with 64 in flight, and the
// distribution of one round trip's time.
#include "bench/running_daemon.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

namespace {

using testsupport::Bytes;
using testsupport::ControllerClient;


Bytes const pingFrame = testsupport::tpktFrame(testsupport::hexBytes("80 01 01 18"));
Bytes const success = testsupport::hexBytes("80 01 01 40");

// The connected controller; null (the benchmark skipped) when the daemon cannot be reached.
ControllerClient* controller(benchmark::State& state)
{
    RunningDaemon& d = RunningDaemon::instance();
    if (d.ready())
        return &d.client();
    state.SkipWithError("daemon not reachable");
    return nullptr;
}

bool answered(ControllerClient& client)
{
    Bytes body;
    return client.receiveFrame(body) && body == success;
}

// One ping at a time; the counters give the median and the 99th percentile of the round
// trip in microseconds.
void BM_PingOneOutstanding(benchmark::State& state)
{
    ControllerClient* connected = controller(state);
    if (!connected)
        return;
    ControllerClient& client = *connected;
    std::vector<double> us;
    us.reserve(1 << 20);
    for (auto _ : state) {
        auto const begin = std::chrono::steady_clock::now();
        if (!client.sendRaw(pingFrame) || !answered(client)) {
            state.SkipWithError("no answer");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin).count());
    }
    state.SetItemsProcessed(state.iterations());
    if (us.empty())
        return;
    std::sort(us.begin(), us.end());
    state.counters["p50_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    state.counters["max_us"] = us.back();
}
BENCHMARK(BM_PingOneOutstanding)->UseRealTime();

// 64 pings in flight: every answer read is followed by the next ping.
void BM_PingPipelined64(benchmark::State& state)
{
    ControllerClient* connected = controller(state);
    if (!connected)
        return;
    ControllerClient& client = *connected;
    int const window = 64;
    Bytes burst;
    for (int i = 0; i < window; ++i)
        burst.insert(burst.end(), pingFrame.begin(), pingFrame.end());
    if (!client.sendRaw(burst)) {
        state.SkipWithError("send failed");
        return;
    }
    for (auto _ : state) {
        if (!answered(client) || !client.sendRaw(pingFrame)) {
            state.SkipWithError("no answer");
            return;
        }
    }
    for (int i = 0; i < window; ++i) {
        if (!answered(client)) {
            state.SkipWithError("answers missing at the end");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PingPipelined64)->UseRealTime();

}  // namespace
