#include "control/tpkt_tracer.h"

#include "tests/capture.h"
#include "runtime/multiplexer.h"
#include "tests/loop_pump.h"
#include "tests/peer_end.h"
#include "tests/tcp_client.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::Bytes;
using testsupport::TcpClient;

// Keeps every frame body; answers "ping" with "pong" from inside the call.
struct Sink : TPKTTracer::Sink {
    explicit Sink(TPKTTracer& t) : tracer(t) { t.SetSink(this); }
    void OnFrame(char const* body, unsigned int length) override
    {
        bodies.emplace_back(body, body + length);
        if (std::string(body, length) == "ping")
            tracer.Send("pong", 4);
    }
    TPKTTracer& tracer;
    std::vector<Bytes> bodies;
};

Bytes text(char const* s) { return Bytes(s, s + std::char_traits<char>::length(s)); }

Bytes operator+(Bytes a, Bytes const& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A tracer listening with two peers connected.
struct Traced {
    Traced() : port(testsupport::freePort()), sink(tracer)
    {
        EXPECT_TRUE(tracer.Listen(port));
        connect(a);
        connect(b);
    }
    void connect(TcpClient& c)
    {
        std::size_t const before = tracer.connection_count();
        testsupport::CaptureStream log(std::clog);
        ASSERT_TRUE(c.connect(port));
        ASSERT_TRUE(testsupport::runUntil([&] { return tracer.connection_count() == before + 1; }, 5000));
        EXPECT_EQ(0u, log.text().find("ACP connection open from 127.0.0.1:"));
    }

    std::uint16_t port;
    TPKTTracer tracer;
    Sink sink;
    TcpClient a, b;
};

TEST(TPKTTracer, FramesFromPeersReachTheSinkAndSendsReachThePeers)
{
    Traced t;
    Bytes const big(TPKTTracer::max_body, 0x5A);
    // Split over many reads.
    for (std::uint8_t byte : testsupport::tpktFrame(text("abc"))) {
        ASSERT_TRUE(t.a.send({byte}));
        testsupport::runUntil([] { return false; }, 5);
    }
    // Batched, with an empty frame that is skipped.
    ASSERT_TRUE(t.a.send(testsupport::tpktFrame(text("d")) + testsupport::tpktFrame({}) + testsupport::tpktFrame(text("ef"))));
    ASSERT_TRUE(testsupport::runUntil([&] { return t.sink.bodies.size() == 3; }, 5000));
    ASSERT_TRUE(t.b.sendFrame(big));
    ASSERT_TRUE(testsupport::runUntil([&] { return t.sink.bodies.size() == 4; }, 5000));
    EXPECT_EQ((std::vector<Bytes>{text("abc"), text("d"), text("ef"), big}), t.sink.bodies);

    // Outside the sink a frame goes to every peer.
    t.tracer.Send("xy", 2);
    Bytes const xy{0x03, 0x00, 0x00, 0x06, 'x', 'y'};
    for (TcpClient* c : {&t.a, &t.b}) {
        ASSERT_TRUE(c->receive(xy.size()));
        EXPECT_EQ(xy, c->take(xy.size()));
    }
    // From inside the sink, to the peer whose frame it handles.
    ASSERT_TRUE(t.b.sendFrame(text("ping")));
    ASSERT_TRUE(t.b.receive(8));
    EXPECT_EQ(testsupport::tpktFrame(text("pong")), t.b.take(8));
    testsupport::settle();
    EXPECT_TRUE(t.a.received().empty());

    // A body that does not fit the 16-bit length is not sent.
    testsupport::CaptureStream err(std::cerr);
    std::vector<char> const huge(TPKTTracer::max_send + 1);
    t.tracer.Send(huge.data(), unsigned(huge.size()));
    EXPECT_EQ("TPKTTracer::Send() frame of 65532 bytes refused, max 65531\n", err.text());
    testsupport::settle();
    EXPECT_TRUE(t.a.received().empty() && t.b.received().empty());
    EXPECT_EQ(2u, t.tracer.connection_count());
}

TEST(TPKTTracer, BadFrameClosesItsPeerOnly)
{
    Traced t;
    std::vector<Bytes> const bad = {
        {0x03, 0x00, 0x02, 0x05},  // a 513-byte body
        {0x03, 0x01, 0x00, 0x05},  // reserved byte not 0
        {0x04, 0x00, 0x00, 0x05},  // version not 3
        {0x03, 0x00, 0x00, 0x03},  // length below the header
    };
    for (Bytes const& header : bad) {
        TcpClient c;
        t.connect(c);
        ASSERT_TRUE(c.send(header + Bytes(8, 0x11)));
        EXPECT_TRUE(c.waitClosed());
        EXPECT_TRUE(testsupport::runUntil([&] { return t.tracer.connection_count() == 2; }, 5000));
    }
    EXPECT_TRUE(t.sink.bodies.empty());
    ASSERT_TRUE(t.a.sendFrame(text("ok")));
    ASSERT_TRUE(testsupport::runUntil([&] { return t.sink.bodies.size() == 1; }, 5000));
}

// A peer's end closes that peer alone, once, after the frames it sent before are handed
// over; its descriptor closed behind the tracer included. The loop is idle afterwards.
TEST(TPKTTracer, APeersEndClosesItAfterItsLastFrames)
{
    struct Row {
        char const* end;
        std::function<void(Traced&)> make;
        std::vector<Bytes> bodies;
    } const rows[] = {
        {"reset",
         [](Traced& t) {
             ASSERT_TRUE(t.a.sendFrame(text("last")));
             t.a.close(true);
         },
         {text("last")}},
        {"closed behind",
         [](Traced&) {
             std::ostringstream dump;
             multiplexer.dump(dump);
             ASSERT_EQ(::close(testsupport::polledDescriptor(dump.str(), "TPKTTracer::OnDataEvent")), 0);
         },
         {}},
    };
    for (Row const& row : rows) {
        SCOPED_TRACE(row.end);
        Traced t;
        row.make(t);
        EXPECT_TRUE(testsupport::runUntil([&] { return t.tracer.connection_count() == 1; }, 5000));
        testsupport::settle();
        EXPECT_EQ(multiplexer.runOnce(0), 0);
        EXPECT_EQ(t.sink.bodies, row.bodies);
        EXPECT_EQ(t.tracer.connection_count(), 1u);
    }
}

}  // namespace
