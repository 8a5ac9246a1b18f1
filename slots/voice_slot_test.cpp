#include "slots/voice_slot.h"

#include "slots/voice_factory.h"
#include "tests/loop_pump.h"
#include "tests/loopback.h"
#include "tests/tcp_client.h"
#include "tests/slots_test_support.h"
#include "tests/temp_root.h"

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

namespace {

using namespace slotstest;
using testsupport::LoopbackListener;

constexpr int kTimeout = 10000;

struct VoiceSlotTest : SlotsTest {
    testsupport::TempRoot root{{"/usr/local/voice"}};

    VoiceSlotTest()
    {
        std::signal(SIGPIPE, SIG_IGN);
        VoiceFactory::instance();
        EXPECT_EQ(create(7, trunk(1, 5)), ok());
        signals.take();
    }

    bool waitFor(std::function<bool()> const& done) { return testsupport::runUntil(done, kTimeout); }
    // Runs the loop until n more signals have come; their texts.
    std::vector<std::string> nextSignals(std::size_t n)
    {
        waitFor([&] { return signals.texts.size() >= n; });
        return signals.take();
    }
    // Closes the connection with a reset instead of an orderly end.
    static void resetConnection(Fd& socket)
    {
        linger reset{1, 0};
        ::setsockopt(socket.lowlevel_fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        socket.close();
    }
    // Everything the daemon wrote on the slot's channel so far, as text.
    std::string played(int channel)
    {
        env.sim.service();
        std::string out;
        for (auto const& f : env.mcc.takeWritten(channel))
            out.append(f.begin(), f.end());
        return out;
    }
};

std::string const startPlaying = "ioctl : startPlaying : NULL";
std::string const abort0 = "abort : 0";
std::string stopRecording(char const* cause) { return std::string("ioctl : stopRecording : ") + cause; }

TEST_F(VoiceSlotTest, NetworkPlayerConnectsOnceAndAFailedPeerEndsIt)
{
    LoopbackListener peer;
    ASSERT_EQ(create(3, testsupport::networkPlayerParams("127.0.0.1", peer.port(), 9)), ok());
    int const ts = at(3)->GetTransmitChannel();
    ASSERT_EQ(connect(3, 7), ok()) << err.text() << log.text();
    // The output opens again while connecting, and again while playing: one connection.
    ASSERT_EQ(disconnect(7), ok());
    ASSERT_EQ(connect(3, 7), ok());
    EXPECT_EQ(nextSignals(2), (std::vector<std::string>{"transmitter active " + std::to_string(ts), startPlaying}));
    ASSERT_EQ(disconnect(7), ok());
    ASSERT_EQ(connect(3, 7), ok());
    Fd socket = peer.accept();
    ASSERT_TRUE(socket);
    testsupport::settle();
    std::string const head = "player[" + std::to_string(ts) + "]: ";
    EXPECT_EQ(linesOf(log.text(), head + "connected"),
              head + "connected to 127.0.0.1:" + std::to_string(peer.port()) + ".\n");

    // A peer that resets the connection ends the play as a failure.
    resetConnection(socket);
    EXPECT_EQ(nextSignals(2), (std::vector<std::string>{"transmitter inactive", abort0}));
    EXPECT_NE(err.text().find(head + "play failed\n"), std::string::npos) << err.text();

    // A released player has no output any more.
    EXPECT_EQ(connect(3, 7), fail(ZGCP::ErrorCause::connectFail));
}

TEST_F(VoiceSlotTest, PeersThatCannotBeReachedEndPlayersAndRecorders)
{
    std::uint16_t const closed = testsupport::freePort();
    struct Case {
        std::string host;
        bool recorder;
        std::vector<std::string> signals;
    } const cases[] = {
        // A host text that does not parse fails as a refused connect does.
        {"no.such.host", false, {abort0}},
        {"127.0.0.1", false, {"transmitter active", "transmitter inactive", abort0}},
        {"no.such.host", true, {stopRecording("connectionFail")}},
        {"127.0.0.1", true, {stopRecording("connectionFail")}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.host + (c.recorder ? " recorder" : " player"));
        ZGCP::CreateParams const params = c.recorder ? testsupport::recorderParams(c.host, closed)
                                                     : testsupport::networkPlayerParams(c.host, closed, 1);
        ASSERT_EQ(create(3, params), ok());
        signals.take();
        if (c.recorder)
            EXPECT_EQ(connect(7, 3), ok());
        else
            connect(3, 7);
        std::vector<std::string> got = nextSignals(c.signals.size());
        for (std::string& s : got)
            s = s.substr(0, s.rfind(" active") != std::string::npos ? s.rfind(" active") + 7 : s.size());
        EXPECT_EQ(got, c.signals);
        std::string const line = "connection to " + c.host + ":" + std::to_string(closed) + " fail.\n";
        EXPECT_NE(log.text().find(line), std::string::npos) << log.text();
        ASSERT_EQ(destroy(3), ok());
    }
}

TEST_F(VoiceSlotTest, FilePlayerSkipsMissingFilesAndWithRepeatZeroGoesOn)
{
    std::ofstream(root.dir() + "/usr/local/voice/a") << "AA";
    ASSERT_EQ(create(3, testsupport::filePlayerParams({"missing", "a"}, 0)), ok());
    int const ts = at(3)->GetTransmitChannel();
    ASSERT_EQ(connect(3, 7), ok());
    EXPECT_EQ(signals.take(), std::vector<std::string>{"transmitter active " + std::to_string(ts)});
    std::string all;
    ASSERT_TRUE(waitFor([&] {
        all += played(ts);
        return all.size() >= 6;
    }));
    EXPECT_EQ(all.substr(0, 6), "AAAAAA");
    EXPECT_TRUE(signals.take().empty());
    EXPECT_EQ(err.text().find("missing"), std::string::npos) << err.text();

    // Phrases that are all empty end the player, as played phrases do, instead of a loop
    // of empty passes.
    std::ofstream(root.dir() + "/usr/local/voice/empty");
    ASSERT_EQ(create(5, testsupport::filePlayerParams({"empty", "empty"}, 0)), ok());
    ASSERT_EQ(connect(5, 7), ok());
    EXPECT_EQ(nextSignals(3), (std::vector<std::string>{"transmitter active " + std::to_string(at(5)->GetTransmitChannel()),
                                                        "transmitter inactive", abort0}));

    // No file opens: the output is refused, and abort follows once on the next loop pass.
    ASSERT_EQ(create(4, testsupport::filePlayerParams({"missing", "gone"}, 1)), ok());
    EXPECT_EQ(connect(4, 7), fail(ZGCP::ErrorCause::connectFail));
    EXPECT_TRUE(signals.take().empty());
    testsupport::settle();
    EXPECT_EQ(signals.take(), std::vector<std::string>{abort0});
}

TEST_F(VoiceSlotTest, RecorderOutlivesItsSourcesAndEndsOnlyWithItsConnection)
{
    LoopbackListener peer;
    ASSERT_EQ(create(3, testsupport::recorderParams("127.0.0.1", peer.port())), ok());
    int const ts = at(3)->GetReceiveChannel();
    EXPECT_EQ(signals.take(), std::vector<std::string>{"receiver active " + std::to_string(ts)});
    ASSERT_EQ(create(8, trunk(1, 6)), ok());
    signals.take();
    ASSERT_EQ(connect(7, 3), ok());
    Fd socket = peer.accept();
    ASSERT_TRUE(socket);
    auto* recorder = static_cast<RecordSlot*>(at(3));
    ASSERT_TRUE(waitFor([&] { return recorder->recording(); }));

    // Without a source, and with another one, the same recording goes on.
    ASSERT_EQ(disconnect(3), ok());
    ASSERT_EQ(connect(8, 3), ok());
    testsupport::settle();
    EXPECT_TRUE(recorder->recording());
    EXPECT_TRUE(signals.take().empty());
    std::string const head = "recorder[" + std::to_string(ts) + "]: ";
    EXPECT_EQ(linesOf(log.text(), head + "connected"),
              head + "connected to 127.0.0.1:" + std::to_string(peer.port()) + ".\n");

    // The channel's bytes reaching the peer are the end-to-end test's. A reset connection
    // aborts the recording; no abort signal.
    resetConnection(socket);
    ASSERT_TRUE(env.mcc.push(ts, {'x'}));
    EXPECT_EQ(nextSignals(1), std::vector<std::string>{stopRecording("connectionAborted")});
    EXPECT_NE(err.text().find(head + "record aborted\n"), std::string::npos);
    testsupport::settle();
    EXPECT_TRUE(signals.take().empty());
}

}  // namespace
