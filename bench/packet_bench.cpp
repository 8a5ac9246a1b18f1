// The cost of packets (taking and releasing a block, sharing, copy-on-write) and the
// throughput of the asynchronous copy over a loopback TCP connection.
#include "base/packet.h"
#include "runtime/async_copy.h"
#include "runtime/multiplexer.h"
#include "tests/loopback.h"

#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <csignal>
#include <string>
#include <vector>

namespace {

// Taking a block from the pool for an outgoing frame and giving it back.
void BM_PacketTakeRelease(benchmark::State& state)
{
    for (auto _ : state) {
        Packet p;
        p.reserve_head(4);
        benchmark::DoNotOptimize(p.tailroom());
    }
}
BENCHMARK(BM_PacketTakeRelease);

// Sharing a packet (a queue keeps it) and dropping the share: no bytes move.
void BM_PacketShareRelease(benchmark::State& state)
{
    Packet frame;
    frame.reserve_head(4);
    frame.put(256);
    for (auto _ : state) {
        Packet queued = frame;
        benchmark::DoNotOptimize(queued.length());
    }
}
BENCHMARK(BM_PacketShareRelease);

// A change to a shared packet of n bytes: a new block, the window copied, then released.
void BM_PacketCopyOnWrite(benchmark::State& state)
{
    Packet frame;
    frame.reserve_head(4);
    frame.put(unsigned(state.range(0)));
    for (auto _ : state) {
        Packet changed = frame;
        changed.push8(0x7E);
        benchmark::DoNotOptimize(changed.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PacketCopyOnWrite)->Arg(64)->Arg(1500)->Arg(16384);

// A file of 16 MiB without a name, held open while the program runs: the file system frees
// it however the program ends. Read through the process's link to its descriptor, which
// opens it afresh each time (an offset of its own).
std::string const& sourceFile()
{
    static std::string const path = [] {
        int const fd = ::open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        std::vector<char> block(1 << 20, 'v');
        for (int i = 0; i < 16; ++i)
            if (::write(fd, block.data(), block.size()) != ssize_t(block.size()))
                break;
        return "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

struct Completion {
    void OnComplete(ASync::Copy::Status::Type s) { status = s; }
    int status = 0;
};

// A file player sending the file to a loopback peer whose receiving side copies it to
// /dev/null, both copies with the buffer size given, in the real loop.
void BM_AsyncCopyLoopback(benchmark::State& state)
{
    std::signal(SIGPIPE, SIG_IGN);
    std::string const& path = sourceFile();
    off_t const size = 16 << 20;
    unsigned int const bufsize = unsigned(state.range(0));
    for (auto _ : state) {
        auto link = testsupport::tcpPair();
        Fd file;
        Fd sinkFile;
        if (!link.first.is_valid() || !file.open(path.c_str(), O_RDONLY) || !sinkFile.open("/dev/null", O_WRONLY)) {
            state.SkipWithError("no loopback connection or files");
            return;
        }
        ASync::Copy player;
        ASync::Copy sink;
        Completion played;
        Completion drained;
        player.Bind(&Completion::OnComplete, &played);
        sink.Bind(&Completion::OnComplete, &drained);
        player.set_bufsize(bufsize);
        sink.set_bufsize(bufsize);
        sink.set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, 0));
        sink.Start(link.second, sinkFile);
        player.Start(file, link.first);
        link.first.close();
        link.second.close();
        while (drained.status == 0)
            multiplexer.runOnce(100);
        if (played.status != ASync::Copy::Status::done || drained.status != ASync::Copy::Status::done ||
            sink.written() != unsigned(size)) {
            state.SkipWithError("copy failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_AsyncCopyLoopback)->Arg(1024)->Arg(8192)->Unit(benchmark::kMillisecond);

}  // namespace
