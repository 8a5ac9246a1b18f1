#include "slots/auth_client.h"

#include "base/clock.h"
#include "runtime/multiplexer.h"
#include "tests/modem_test_support.h"
#include "tests/peer_end.h"
#include "tests/process_figures.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <vector>

namespace {

using namespace modemtest;
using testsupport::Bytes;

struct AuthClientTest : ModemTest {
    // The sessions of the records handed on so far, in order, as the factory logs them.
    std::string handed() { return slotstest::linesOf(err.text(), "modem[4,0]: receive auth request"); }
    static std::string line(int session)
    {
        return "modem[4,0]: receive auth request for unknown session " + std::to_string(session) + "\n";
    }
};

TEST_F(AuthClientTest, SizeWordsFrom12To512AreTakenOthersEndTheConnection)
{
    struct Case {
        std::uint32_t size;
        bool taken;
    } const cases[] = {{3, false}, {4, false}, {11, false}, {12, true}, {512, true}, {513, false}};
    int session = 0;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.size);
        auto client = authClient();
        std::string const before = handed();
        ASSERT_TRUE(client->send(testsupport::record(c.size, 9, ++session)));
        if (c.taken) {
            ASSERT_TRUE(waitFor([&] { return handed() == before + line(session); }));
            EXPECT_EQ(factory->connections(), 1u);
        } else {
            EXPECT_TRUE(client->waitClosed());
            EXPECT_TRUE(waitFor([&] { return factory->connections() == 0; }));
            EXPECT_EQ(handed(), before);
        }
        client.reset();
        waitFor([&] { return factory->connections() == 0; });
    }
    EXPECT_NE(log.text().find("modem[4,0]: auth client 127.0.0.1:"), std::string::npos);
}

TEST_F(AuthClientTest, RecordsAreAssembledAcrossReadsAndHandedOnInOrder)
{
    auto client = authClient();
    Bytes const first = testsupport::authRequest(7, "u", "p");
    for (std::size_t i = 0; i + 1 < first.size(); ++i) {
        ASSERT_TRUE(client->send({first[i]}));
        testsupport::settle();
    }
    EXPECT_EQ(handed(), "");
    ASSERT_TRUE(client->send({first.back()}));
    ASSERT_TRUE(waitFor([&] { return handed() == line(7); }));

    // Two records in one write, then half of a third before the peer goes.
    Bytes const third = testsupport::record(40, 1, 10);
    ASSERT_TRUE(client->send(testsupport::record(16, 2, 8) + testsupport::record(20, 3, 9)
                             + Bytes(third.begin(), third.begin() + 20)));
    ASSERT_TRUE(waitFor([&] { return handed() == line(7) + line(8) + line(9); }));
    client->close();
    ASSERT_TRUE(waitFor([&] { return factory->connections() == 0; }));
    EXPECT_EQ(handed(), line(7) + line(8) + line(9));
}

// A connection holding part of a record (the size word or not) is closed once the part has
// waited ten seconds; a record completed in time starts the wait anew with the next part.
// So connections that hold every place give them back, and a real client is served.
TEST_F(AuthClientTest, PartsOfRecordsHeldTenSecondsCloseTheirConnections)
{
    Mux::TestClock clock;
    Bytes const request = testsupport::authRequest(7, "u", "p");
    Bytes const half(request.begin(), request.begin() + 70);
    Bytes const rest(request.begin() + 70, request.end());
    std::string const closed = "sent part of a record and nothing more for 10000 ms, closed\n";
    std::size_t const bound = factory->authBound();
    std::vector<std::unique_ptr<testsupport::TcpClient>> holders;
    for (std::size_t i = 0; i < bound; ++i) {
        holders.push_back(authClient());
        ASSERT_TRUE(holders.back()->send(i % 2 ? half : Bytes(half.begin(), half.begin() + 2)));
    }
    testsupport::settle();
    testsupport::TcpClient turnedAway(factory->authPort());
    EXPECT_TRUE(turnedAway.waitClosed());

    testsupport::advance(clock, AuthClient::kPartMs - 1);
    ASSERT_TRUE(holders[1]->send(rest + half));
    ASSERT_TRUE(waitFor([&] { return handed() == line(7); }));
    testsupport::advance(clock, 1);
    ASSERT_TRUE(waitFor([&] { return factory->connections() == 1; }));
    EXPECT_EQ(err.count(closed), bound - 1);
    // The part sent with the completed record has waited one millisecond less.
    testsupport::advance(clock, AuthClient::kPartMs - 2);
    EXPECT_EQ(factory->connections(), 1u);
    testsupport::advance(clock, 1);
    ASSERT_TRUE(waitFor([&] { return factory->connections() == 0; }));
    for (auto const& holder : holders)
        EXPECT_TRUE(holder->waitClosed());
    EXPECT_EQ(err.count(closed), bound);

    auto client = authClient();
    ASSERT_TRUE(client->send(testsupport::authRequest(8, "u", "p")));
    EXPECT_TRUE(waitFor([&] { return handed() == line(7) + line(8); }));
}

TEST_F(AuthClientTest, ARestartedListenerTakesItsPortWhileClosedConnectionsLinger)
{
    std::uint16_t const port = factory->authPort();
    auto client = authClient();
    // The daemon closes first, so its side of the connection lingers.
    ASSERT_TRUE(client->send(testsupport::record(3, 0, 0)));
    ASSERT_TRUE(client->waitClosed());
    factory.reset();
    factory = std::make_unique<ModemFactory>(port);
    EXPECT_EQ(factory->authPort(), port);
}

// Every way a connection of the authentication client, or the listener, can end: one line,
// the connection (the listener, for good) let go, nothing left ready in the loop, and no
// descriptor left behind.
TEST_F(AuthClientTest, EveryEndIsTakenOnceAndLeavesTheLoopIdle)
{
    using testsupport::End;
    auto descriptors = [] { return testsupport::openDescriptors(::getpid()); };
    for (End how : {End::close, End::reset, End::halfClose, End::sendThenClose, End::hangUp}) {
        SCOPED_TRACE(int(how));
        bool const listener = how == End::hangUp;
        std::string const line = listener ? "modem[4,0]: auth server socket error.\n" : "modem[4,0]: auth client ";
        auto lines = [&] { return (listener ? err : log).count(line); };
        auto const before = lines();
        testsupport::settle();
        auto const open = descriptors();
        std::ostringstream dump;
        multiplexer.dump(dump);
        Fd socket(::dup(listener ? testsupport::polledDescriptor(dump.str(), "ModemFactory::OnSocketEvent")
                                 : authClient()->fd()));
        testsupport::end(socket, how);
        EXPECT_TRUE(waitFor([&] { return listener ? factory->authPort() == 0 : factory->connections() == 0; }));
        socket.close();
        testsupport::settle();
        EXPECT_EQ(multiplexer.runOnce(0), 0);
        EXPECT_EQ(lines(), before + 1);
        // The listening socket and the loop's duplicate of it are closed for good.
        EXPECT_EQ(descriptors(), open - (listener ? 2 : 0));
    }
}

}  // namespace
