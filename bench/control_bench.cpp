// The control link's costs: round trips of 64-byte framed messages through the acceptor
// and a loopback client, and framing and de-framing one message.
#include "base/packet.h"
#include "control/acceptor_net.h"
#include "control/tpkt_protocol.h"
#include "runtime/multiplexer.h"
#include "tests/tcp_client.h"

#include <sys/socket.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <iostream>
#include <sstream>

namespace {

unsigned int const body = 64;

class Echo : public Control::Notify {
public:
    explicit Echo(Control::Service& s) : service_(s) { s.Bind(this); }
    void OnConnect() override { ++connects; }
    void OnDisconnect() override {}
    void OnMessage(char const* data, int length) override { service_.Send(data, length); }
    int connects = 0;

private:
    Control::Service& service_;
};

// One round trip: the client writes a framed 64-byte message, the acceptor's stack cuts
// it out and hands it to the observer, which sends it back framed, and the client reads
// the whole frame.
void BM_RoundTrip64(benchmark::State& state)
{
    std::ostringstream quiet;
    std::streambuf* savedOut = std::cout.rdbuf(quiet.rdbuf());
    std::uint16_t const port = testsupport::freePort();
    Control::AcceptorNetCheckConnection acceptor(port, false);
    Echo echo(acceptor);
    acceptor.Activate();
    testsupport::TcpClient client(port);
    while (client.connected() && echo.connects == 0)
        multiplexer.runOnce(10);
    std::cout.rdbuf(savedOut);
    if (!client.connected() || !acceptor.IsConnected()) {
        state.SkipWithError("no connection");
        return;
    }

    testsupport::Bytes const frame = testsupport::tpktFrame(testsupport::Bytes(body, 0x5A));
    unsigned char in[body + 4];
    for (auto _ : state) {
        if (!client.send(frame)) {
            state.SkipWithError("send failed");
            break;
        }
        std::size_t got = 0;
        while (got < sizeof in) {
            multiplexer.runOnce(10);
            ssize_t const n = ::recv(client.fd(), in + got, sizeof in - got, MSG_DONTWAIT);
            if (n > 0)
                got += std::size_t(n);
        }
    }
    state.SetItemsProcessed(state.iterations());
    acceptor.Deactivate();
}
BENCHMARK(BM_RoundTrip64)->UseRealTime();

// A wire that hands every transmitted frame straight back to the layer above.
class Loopback : public Protocol {
public:
    void message(Packet& p) override { on_message(p); }
};

class Stack : public ProtocolsFamily {
public:
    Stack()
    {
        add_protocol_tail(new Loopback);
        add_protocol_tail(new Tpkt_protocol);
    }
    void on_message(Packet& p) override { delivered += p.length(); }
    std::size_t delivered = 0;
};

// Sends one 64-byte message down the stack per iteration, the packet taken from the pool
// and filled as Control::Service::Send does.
void sendLoop(benchmark::State& state, ProtocolsFamily& stack)
{
    unsigned char const message[body] = {};
    for (auto _ : state) {
        Packet p;
        stack.prepare_head(p);
        std::memcpy(p.put(body), message, body);
        stack.message(p);
    }
}

// Framing a 64-byte message and cutting it out of the byte stream again.
void BM_FrameAndDeframe64(benchmark::State& state)
{
    Stack stack;
    sendLoop(state, stack);
    if (stack.delivered != std::size_t(state.iterations()) * body)
        state.SkipWithError("messages lost");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FrameAndDeframe64);

// Framing alone.
class Sink : public Protocol {
public:
    void message(Packet& p) override { bytes += p.length(); }
    std::size_t bytes = 0;
};

void BM_Frame64(benchmark::State& state)
{
    ProtocolsFamily stack;
    Sink* sink = static_cast<Sink*>(stack.add_protocol_tail(new Sink));
    stack.add_protocol_tail(new Tpkt_protocol);
    sendLoop(state, stack);
    benchmark::DoNotOptimize(sink->bytes);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Frame64);

}  // namespace
