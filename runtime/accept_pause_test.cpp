#include "runtime/accept_pause.h"

#include "base/clock.h"
#include "runtime/event.h"
#include "runtime/multiplexer.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <iostream>

namespace {

// A readable descriptor standing for a listening socket with a connection queued.
struct Listener {
    Listener()
    {
        int p[2];
        EXPECT_EQ(::pipe2(p, O_CLOEXEC), 0);
        writeEnd = Fd(p[1]);
        EXPECT_EQ(write(writeEnd, "x", 1), 1);
        event.Bind("Listener::onReady", &Listener::onReady, this);
        event.Schedule(Fd(p[0]), POLLIN);
    }
    void onReady(int, short revents) { calls += (revents & POLLIN) ? 1 : 0; }

    Fd writeEnd;
    Event event;
    int calls = 0;
};

TEST(AcceptPause, AShortageStopsThePollingForAWhileAndIsLoggedOncePerEpisode)
{
    Mux::TestClock clock;
    Listener l;
    AcceptPause pause(l.event);
    testsupport::CaptureStream err(std::cerr);
    std::string const line = "Listener::onReady: cannot accept: Too many open files; trying again every 250 ms\n";

    struct Case {
        int error;
        bool shortage;
    } const cases[] = {{EMFILE, true}, {ENFILE, true},        {ENOBUFS, true}, {ENOMEM, true},
                       {EAGAIN, false}, {ECONNABORTED, false}, {EINTR, false}, {EPERM, false}};
    for (Case const& c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(pause.Failed(c.error), c.shortage);
        EXPECT_EQ(pause.paused(), c.shortage);
        multiplexer.runOnce(0);
        int const before = l.calls;
        testsupport::advance(clock, AcceptPause::pause_ms - 1);
        EXPECT_EQ(l.calls, c.shortage ? before : before + 1) << "polled while paused";
        testsupport::advance(clock, 1);
        EXPECT_FALSE(pause.paused());
        EXPECT_EQ(l.event.events(), POLLIN);
        multiplexer.runOnce(0);
        EXPECT_GT(l.calls, before);
    }
    // The four shortages in a row were one episode, which the next other failure ended; an
    // accepted connection ends one too.
    EXPECT_EQ(err.text(), line);
    EXPECT_TRUE(pause.Failed(EMFILE));
    EXPECT_TRUE(pause.Failed(EMFILE));
    EXPECT_EQ(err.text(), line + line);
    pause.Accepted();
    EXPECT_TRUE(pause.Failed(EMFILE));
    EXPECT_EQ(err.text(), line + line + line);

    // A listener that stops listening is not resumed.
    pause.Cancel();
    testsupport::advance(clock, AcceptPause::pause_ms);
    EXPECT_EQ(l.event.events(), 0);
}

}  // namespace
