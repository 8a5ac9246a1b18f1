#include "runtime/async_connect.h"

#include "base/clock.h"
#include "runtime/multiplexer.h"
#include "tests/loop_pump.h"
#include "tests/loopback.h"
#include "tests/tcp_client.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ASync::Connect;
using testsupport::runUntil;

// Records the completions of a connect and keeps the descriptor it was given.
struct Owner {
    void OnConnect(Connect::Status::Type s, Fd fd)
    {
        statuses.push_back(s);
        result = std::move(fd);
    }
    bool ended() const { return !statuses.empty(); }
    std::vector<int> statuses;
    Fd result;
};

// A peer that never answers: its one place in the accept queue is taken.
struct SilentPeer {
    testsupport::LoopbackListener listener{0};
    Fd waiting = listener.connect();
};

TEST(AsyncConnectTest, HandsTheConnectedSocketToTheHandler)
{
    testsupport::LoopbackListener listener;
    Owner owner;
    Connect connect;
    connect.Bind(&Owner::OnConnect, &owner);
    connect.Start(listener.address(), 5000);
    ASSERT_TRUE(runUntil([&] { return owner.ended(); }, 5000));
    EXPECT_EQ(owner.statuses, std::vector<int>{Connect::Status::connected});
    ASSERT_TRUE(owner.result.is_valid());

    Fd accepted = listener.accept();
    ASSERT_EQ(write(owner.result, "ping", 4), 4);
    char buf[4];
    ASSERT_EQ(read(accepted, buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "ping");
}

TEST(AsyncConnectTest, ARefusingPeerFails)
{
    Owner owner;
    Connect connect;
    connect.Bind(&Owner::OnConnect, &owner);
    connect.Start("127.0.0.1:" + std::to_string(testsupport::freePort()), 5000);
    ASSERT_TRUE(runUntil([&] { return owner.ended(); }, 5000));
    EXPECT_EQ(owner.statuses, std::vector<int>{Connect::Status::failed});
    EXPECT_FALSE(owner.result.is_valid());
}

TEST(AsyncConnectTest, AnAddressThatDoesNotParseFailsAtOnce)
{
    Owner owner;
    Connect connect;
    connect.Bind(&Owner::OnConnect, &owner);
    for (char const* bad : {"gateway:20001", "127.0.0.1:70000", ""}) {
        owner.statuses.clear();
        connect.Start(bad, 5000);
        EXPECT_EQ(owner.statuses, std::vector<int>{Connect::Status::failed}) << bad;
        EXPECT_FALSE(owner.result.is_valid());
    }
}

TEST(AsyncConnectTest, APeerThatNeverAnswersTimesOut)
{
    SilentPeer peer;
    Mux::TestClock clock;
    Owner owner;
    Connect connect;
    connect.Bind(&Owner::OnConnect, &owner);
    connect.Start(peer.listener.address(), 5000);
    testsupport::advance(clock, 4999);
    EXPECT_FALSE(owner.ended());
    EXPECT_EQ(connect.state(), Connect::Status::connecting);
    testsupport::advance(clock, 1);
    EXPECT_EQ(owner.statuses, std::vector<int>{Connect::Status::failed});
    EXPECT_FALSE(owner.result.is_valid());
}

TEST(AsyncConnectTest, StopEndsAPendingConnectOnce)
{
    SilentPeer peer;
    Mux::TestClock clock;
    Owner owner;
    Connect connect;
    connect.Bind(&Owner::OnConnect, &owner);
    connect.Stop();  // idle: nothing
    connect.Start(peer.listener.address(), 5000);
    connect.Stop();
    connect.Stop();
    testsupport::advance(clock, 6000);
    EXPECT_EQ(owner.statuses, std::vector<int>{Connect::Status::stopped});
    EXPECT_EQ(multiplexer.timer_count(), 0u);
}

TEST(AsyncConnectTest, DeletingAConnectMidwayCallsNoHandler)
{
    SilentPeer peer;
    Mux::TestClock clock;
    Owner owner;
    Connect* connect = new Connect;
    connect->Bind(&Owner::OnConnect, &owner);
    connect->Start(peer.listener.address(), 5000);
    delete connect;
    testsupport::advance(clock, 6000);
    EXPECT_FALSE(owner.ended());
    EXPECT_EQ(multiplexer.timer_count(), 0u);

    // A restart drops the pending connect without a call as well.
    testsupport::LoopbackListener listener;
    Connect again;
    again.Bind(&Owner::OnConnect, &owner);
    again.Start(peer.listener.address(), 5000);
    again.Start(listener.address(), 5000);
    ASSERT_TRUE(runUntil([&] { return owner.ended(); }, 5000));
    testsupport::advance(clock, 6000);
    EXPECT_EQ(owner.statuses, std::vector<int>{Connect::Status::connected});
}

}  // namespace
