// The baseline of the side-by-side benchmark answers as the benchmark assumes: every whole
// TPKT frame back at once, however the stream is cut, and a stream that is not TPKT ends
// the connection.

#include "tests/daemon_launcher.h"
#include "tests/tcp_client.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::Bytes;
using testsupport::DaemonLauncher;
using testsupport::TcpClient;
using testsupport::tpktFrame;

Bytes operator+(Bytes a, Bytes const& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A connection to the echo, tried until it listens.
bool connect(TcpClient& client, int port)
{
    return DaemonLauncher::waitFor([&] { return client.connect(std::uint16_t(port)); }, DaemonLauncher::kTimeout);
}

TEST(TpktEcho, AnswersEveryWholeFrameAndDropsAStreamThatIsNotTpkt)
{
    DaemonLauncher echo(GW_TPKT_ECHO_BINARY);
    ASSERT_TRUE(echo.start({"--port=" + std::to_string(echo.port())}));
    Bytes const a = tpktFrame({0x80, 0x01, 0x01, 0x18});
    Bytes const b = tpktFrame(Bytes(300, 0x5A));
    Bytes const empty = tpktFrame({});
    struct {
        char const* name;
        std::vector<Bytes> writes;
        Bytes answer;
    } const cases[] = {
        {"one frame", {a}, a},
        {"three frames in one write", {a + b + empty}, a + b + empty},
        {"a frame cut in three", {Bytes(b.begin(), b.begin() + 3), Bytes(b.begin() + 3, b.begin() + 10),
                                  Bytes(b.begin() + 10, b.end())}, b},
        {"a frame and the start of the next", {a + Bytes(b.begin(), b.begin() + 2), Bytes(b.begin() + 2, b.end())},
         a + b},
    };
    for (auto const& c : cases) {
        TcpClient client(TcpClient::Waiting::Socket);
        ASSERT_TRUE(connect(client, echo.port())) << c.name;
        for (Bytes const& w : c.writes)
            ASSERT_TRUE(client.send(w)) << c.name;
        EXPECT_TRUE(client.receive(c.answer.size())) << c.name;
        EXPECT_FALSE(client.receive(c.answer.size() + 1, 50)) << c.name << ": more than the frames";
        EXPECT_EQ(client.received(), c.answer) << c.name;
    }
    TcpClient bad(TcpClient::Waiting::Socket);
    ASSERT_TRUE(connect(bad, echo.port()));
    ASSERT_TRUE(bad.send(Bytes{0x04, 0x00, 0x00, 0x08, 1, 2, 3, 4}));
    EXPECT_TRUE(bad.waitClosed());
    EXPECT_TRUE(bad.received().empty());
    EXPECT_EQ(echo.stop(), 0);

    DaemonLauncher usage(GW_TPKT_ECHO_BINARY);
    EXPECT_EQ(usage.run({"--port=0"}), 2);
}

}  // namespace
