#include "control/acceptor_unix.h"
#include "control/connector_unix.h"

#include "base/clock.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"
#include "tests/temp_root.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace {

using Control::AcceptorUnix;
using Control::ConnectorUnix;
typedef std::vector<char> Bytes;
typedef Control::Service::State State;

// Counts what the connection tells it; echoes messages when asked to.
struct Observer : Control::Notify {
    Observer(Control::Service& s, bool e) : service(s), echo(e) { s.Bind(this); }
    void OnConnect() override { ++connects; }
    void OnDisconnect() override { ++disconnects; }
    void OnMessage(char const* data, int length) override
    {
        messages.emplace_back(data, data + length);
        if (echo)
            service.Send(data, length);
    }

    Control::Service& service;
    bool echo;
    int connects = 0;
    int disconnects = 0;
    std::vector<Bytes> messages;
};

// A file in a temporary directory (a fresh board root, removed with its contents).
struct TempDir : testsupport::TempRoot {
    std::string file(char const* name) const { return dir() + "/" + name; }
};

// Leaves a socket file at path, as a process that ended without removing it would.
void leaveSocketFile(std::string const& path)
{
    Fd s(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, path.c_str());
    ASSERT_EQ(0, ::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a));
}

TEST(ServiceUnix, FramesThroughASocketFileOneClientAtATime)
{
    Mux::TestClock clock;
    TempDir dir;
    std::string const path = dir.file("server.sock");
    std::string const local = dir.file("first.sock");
    leaveSocketFile(path);
    leaveSocketFile(local);
    testsupport::CaptureStream log(std::clog);

    // The client comes first and finds nobody: it retries a second later.
    ConnectorUnix client(path, local);
    Observer c(client, false);
    {
        testsupport::CaptureStream err(std::cerr);
        EXPECT_TRUE(client.Activate());
        EXPECT_EQ("can't connect to " + path + " : " + std::strerror(ECONNREFUSED) + "\n", err.text());
    }
    // A stale socket file does not keep the server from binding at once.
    AcceptorUnix server(path);
    Observer s(server, true);
    testsupport::CaptureStream out(std::cout);
    ASSERT_TRUE(server.Activate());
    EXPECT_TRUE(server.listening());
    testsupport::advance(clock, 1000);
    ASSERT_TRUE(testsupport::runUntil([&] { return s.connects == 1; }, 5000));
    EXPECT_EQ(1, c.connects);
    EXPECT_EQ("new connection from " + local + "\n", out.text());
    EXPECT_EQ(local, server.GetAddr());
    EXPECT_EQ("connected to " + path + "\n", log.text());

    client.Send("\x18", 1);
    ASSERT_TRUE(testsupport::runUntil([&] { return c.messages.size() == 1; }, 5000));
    EXPECT_EQ(Bytes{0x18}, c.messages[0]);

    // A second client is accepted and closed at once, shown by its path.
    {
        testsupport::CaptureStream err(std::cerr);
        ConnectorUnix second(path, dir.file("second.sock"));
        Observer o(second, false);
        EXPECT_TRUE(second.Activate());
        ASSERT_TRUE(testsupport::runUntil([&] { return o.disconnects == 1; }, 5000));
        EXPECT_EQ(1u, err.count("refuse connection from " + dir.file("second.sock") + "\n")) << err.text();
    }
    client.Send("\x19", 1);
    ASSERT_TRUE(testsupport::runUntil([&] { return c.messages.size() == 2; }, 5000));
    EXPECT_EQ(1, s.connects);
    EXPECT_EQ(0, c.disconnects);
}

TEST(ServiceUnix, PathsThatCannotServeAreRefusedAndOtherFilesKept)
{
    TempDir dir;
    std::string const tooLong = dir.dir() + "/" + std::string(Control::max_socket_path - dir.dir().size(), 'x');
    ASSERT_EQ(Control::max_socket_path + 1, tooLong.size());
    struct Case {
        std::function<bool()> activate;
        std::string path;
    };
    std::vector<Case> const cases = {
        {[&] { return AcceptorUnix(tooLong).Activate(); }, tooLong},
        {[&] { return AcceptorUnix().Activate(); }, ""},
        {[&] { return ConnectorUnix(tooLong).Activate(); }, tooLong},
        {[&] { return ConnectorUnix(dir.file("s"), tooLong).Activate(); }, tooLong},
    };
    for (Case const& c : cases) {
        testsupport::CaptureStream err(std::cerr);
        EXPECT_FALSE(c.activate());
        EXPECT_EQ("bad domain socket path \"" + c.path + "\": 1 to 107 characters\n", err.text());
    }

    // A file that is not a socket is never removed: the bind waits.
    std::string const plain = dir.file("plain");
    std::ofstream(plain) << "keep";
    AcceptorUnix server(plain);
    testsupport::CaptureStream err(std::cerr);
    EXPECT_TRUE(server.Activate());
    EXPECT_FALSE(server.listening());
    EXPECT_EQ(std::string("can't bind to socket: \"") + std::strerror(EADDRINUSE) + "\"  waiting...\n", err.text());
    std::string kept;
    std::ifstream(plain) >> kept;
    EXPECT_EQ("keep", kept);
}

}  // namespace
