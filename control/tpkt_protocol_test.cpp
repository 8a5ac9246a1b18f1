#include "control/tpkt_protocol.h"

#include "base/clock.h"
#include "runtime/multiplexer.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::uint8_t> Bytes;

Packet packetOf(Bytes const& bytes)
{
    Packet p;
    p.reserve_head(0);
    if (!bytes.empty())
        std::memcpy(p.put(unsigned(bytes.size())), bytes.data(), bytes.size());
    return p;
}

Bytes bytesOf(Packet& p) { return Bytes(p.data(), p.data() + p.length()); }

// Takes what the TPKT layer transmits.
class Wire : public Protocol {
public:
    void message(Packet& p) override { sent.push_back(bytesOf(p)); }
    // The stream ends under the layers above.
    void end() { on_deactivate(new Protocol_status_error(this, "peer gone")); }
    std::vector<Bytes> sent;
};

// [wire, TPKT]; collects the messages that come up.
class Stack : public ProtocolsFamily {
public:
    Stack()
    {
        wire = static_cast<Wire*>(add_protocol_tail(new Wire));
        tpkt = static_cast<Tpkt_protocol*>(add_protocol_tail(new Tpkt_protocol));
    }
    void on_message(Packet& p) override { messages.push_back(bytesOf(p)); }
    void on_deactivated(Protocol*, Protocol_status s) override { statuses.push_back(s); }

    void feed(Bytes const& bytes)
    {
        Packet p = packetOf(bytes);
        tpkt->receive(p);
        EXPECT_TRUE(p.empty());
    }
    void send(Bytes const& body)
    {
        Packet p;
        prepare_head(p);
        if (!body.empty())
            std::memcpy(p.put(unsigned(body.size())), body.data(), body.size());
        message(p);
    }

    Wire* wire;
    Tpkt_protocol* tpkt;
    std::vector<Bytes> messages;
    std::vector<Protocol_status> statuses;
};

Bytes const frameABC{0x03, 0x00, 0x00, 0x07, 0x41, 0x42, 0x43};
Bytes const abc{0x41, 0x42, 0x43};

TEST(Tpkt, SendingPutsTheHeaderInFront)
{
    Stack s;
    s.send(abc);
    ASSERT_EQ(1u, s.wire->sent.size());
    EXPECT_EQ(frameABC, s.wire->sent[0]);

    s.send({});
    EXPECT_EQ((Bytes{3, 0, 0, 4}), s.wire->sent[1]);
}

TEST(Tpkt, LongestBodyIsFramedAndALongerOneIsRefused)
{
    Stack s;
    s.send(Bytes(Tpkt_protocol::max_body, 0x5A));
    ASSERT_EQ(1u, s.wire->sent.size());
    Bytes const& f = s.wire->sent[0];
    ASSERT_EQ(65535u, f.size());
    EXPECT_EQ((Bytes{3, 0, 0xFF, 0xFF}), Bytes(f.begin(), f.begin() + 4));

    testsupport::CaptureStream err(std::cerr);
    s.send(Bytes(Tpkt_protocol::max_body + 1, 0x5A));
    EXPECT_EQ(1u, s.wire->sent.size());
    EXPECT_NE(std::string::npos, err.text().find("TPKT message too long: 65532 bytes, max 65531"));
}

TEST(Tpkt, FrameIsDeliveredWholeWhateverTheReads)
{
    Stack s;
    s.feed(frameABC);
    ASSERT_EQ(1u, s.messages.size());
    EXPECT_EQ(abc, s.messages[0]);

    for (std::uint8_t b : frameABC)
        s.feed({b});
    ASSERT_EQ(2u, s.messages.size());
    EXPECT_EQ(abc, s.messages[1]);

    // Two frames in one read, in order; then one split across reads at the body.
    Bytes two = frameABC;
    two.insert(two.end(), {0x03, 0x00, 0x00, 0x05, 0x44});
    s.feed(two);
    s.feed({0x03, 0x00, 0x00, 0x06, 0x45});
    s.feed({0x46});
    ASSERT_EQ(5u, s.messages.size());
    EXPECT_EQ(abc, s.messages[2]);
    EXPECT_EQ((Bytes{0x44}), s.messages[3]);
    EXPECT_EQ((Bytes{0x45, 0x46}), s.messages[4]);
    EXPECT_EQ(Tpkt_protocol::State::Version, s.tpkt->state());
}

TEST(Tpkt, EmptyFrameIsDeliveredAtOnce)
{
    Stack s;
    s.feed({0x03, 0x00, 0x00, 0x04});
    ASSERT_EQ(1u, s.messages.size());
    EXPECT_TRUE(s.messages[0].empty());
    EXPECT_EQ(Tpkt_protocol::State::Version, s.tpkt->state());
}

TEST(Tpkt, BadInputIsLoggedAndTheNextFrameStillArrives)
{
    Stack s;
    {
        testsupport::CaptureStream log(std::clog);
        Bytes in{0x55};
        in.insert(in.end(), frameABC.begin(), frameABC.end());
        s.feed(in);
        EXPECT_EQ("TPKT bad TPKT packet start. skipped 1 byte\n", log.text());
    }
    {
        // A run of bad bytes is one line with its count.
        testsupport::CaptureStream log(std::clog);
        Bytes in{0x10, 0x20, 0x30, 0x40, 0x50};
        in.insert(in.end(), frameABC.begin(), frameABC.end());
        s.feed(in);
        EXPECT_EQ("TPKT bad TPKT packet start. skipped 5 bytes\n", log.text());
    }
    {
        // The byte after a bad reserved byte is examined as a possible start.
        testsupport::CaptureStream log(std::clog);
        Bytes in{0x03, 0x01};
        in.insert(in.end(), frameABC.begin(), frameABC.end());
        s.feed(in);
        EXPECT_EQ("TPKT bad TPKT reserved.\n", log.text());
    }
    {
        testsupport::CaptureStream log(std::clog);
        Bytes in{0x03, 0x00, 0x00, 0x02};
        in.insert(in.end(), frameABC.begin(), frameABC.end());
        s.feed(in);
        EXPECT_EQ("TPKT too small 2\n", log.text());
    }
    ASSERT_EQ(4u, s.messages.size());
    for (Bytes const& m : s.messages)
        EXPECT_EQ(abc, m);
}

TEST(Tpkt, IncompleteFrameTimesOutAfterThreeSecondsOfSilence)
{
    Mux::TestClock clock;
    Stack s;
    s.feed({0x03, 0x00, 0x00, 0x10, 1, 2, 3, 4, 5});
    {
        testsupport::CaptureStream log(std::clog);
        testsupport::advance(clock, 2999);
        EXPECT_EQ("", log.text());
        testsupport::advance(clock, 1);
        EXPECT_EQ(" TPKT packet timeout.\n", log.text());
    }
    EXPECT_EQ(Tpkt_protocol::State::Version, s.tpkt->state());
    s.feed(frameABC);
    ASSERT_EQ(1u, s.messages.size());
    EXPECT_EQ(abc, s.messages[0]);
}

TEST(Tpkt, TimeOutRunsFromTheLastBytesNotFromTheFrameStart)
{
    Mux::TestClock clock;
    Stack s;
    testsupport::CaptureStream log(std::clog);
    s.feed({0x03, 0x00});
    testsupport::advance(clock, 2500);
    s.feed({0x00, 0x07, 0x41});
    testsupport::advance(clock, 2500);
    s.feed({0x42, 0x43});
    testsupport::advance(clock, 5000);
    EXPECT_EQ("", log.text());
    ASSERT_EQ(1u, s.messages.size());
    EXPECT_EQ(abc, s.messages[0]);
    EXPECT_EQ(0u, multiplexer.timer_count());
}

TEST(Tpkt, DeactivationResetsAndLetsTheStackGoOn)
{
    // Ended from above (the connection is closed) or from below (the stream ends).
    struct Case {
        char const* end;
        void (*make)(Stack&);
        bool success;
    };
    Case const cases[] = {
        {"deactivate", [](Stack& s) { s.deactivate(); }, true},
        {"stream ends", [](Stack& s) { s.wire->end(); }, false},
    };
    for (Case const& c : cases) {
        Mux::TestClock clock;
        Stack s;
        s.feed({0x03, 0x00, 0x00, 0x10, 1});
        EXPECT_EQ(Tpkt_protocol::State::Body, s.tpkt->state()) << c.end;
        c.make(s);
        EXPECT_EQ(Tpkt_protocol::State::Version, s.tpkt->state()) << c.end;
        EXPECT_EQ(0u, multiplexer.timer_count()) << c.end;
        // The owner hears of it once: the wire layer's own success, or the stream's end.
        ASSERT_EQ(1u, s.statuses.size()) << c.end;
        EXPECT_EQ(c.success, s.statuses[0]->success()) << c.end;

        s.feed({0x03, 0x00});
        EXPECT_TRUE(s.tpkt->activate()) << c.end;
        EXPECT_EQ(Tpkt_protocol::State::Version, s.tpkt->state()) << c.end;
    }
}

// The receiver may end the connection from inside a delivery: the bytes it reads stay
// valid, and the rest of the read is still cut into frames.
class Disconnecting : public Stack {
public:
    void on_message(Packet& p) override
    {
        deactivate();
        Bytes b = bytesOf(p);
        messages.push_back(b);
    }
};

TEST(Tpkt, ReceiverMayResetTheLayerWhileReadingAMessage)
{
    Mux::TestClock clock;
    Disconnecting s;
    Bytes in = frameABC;
    in.insert(in.end(), frameABC.begin(), frameABC.end());
    s.feed(in);
    ASSERT_EQ(2u, s.messages.size());
    EXPECT_EQ(abc, s.messages[0]);
    EXPECT_EQ(abc, s.messages[1]);
}

}  // namespace
