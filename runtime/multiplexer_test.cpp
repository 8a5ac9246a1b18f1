#include "runtime/multiplexer.h"

#include "base/profile.h"
#include "base/clock.h"
#include "tests/capture.h"
#include "tests/loop_pump.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::CaptureStream;

struct Pipe {
    Pipe()
    {
        int p[2];
        if (::pipe2(p, O_CLOEXEC) == 0) {
            r = Fd(p[0]);
            w = Fd(p[1]);
        }
    }
    void fill() { EXPECT_EQ(write(w, "x", 1), 1); }
    Fd r, w;
};

// Records the callbacks of the events it owns, in order.
struct Recorder {
    struct Call {
        std::string name;
        short revents;
        bool operator==(Call const& o) const { return name == o.name && revents == o.revents; }
    };
    std::vector<Call> calls;
    std::function<void(std::string const&)> during;

    void onA(int, short r) { record("a", r); }
    void onB(int, short r) { record("b", r); }
    void onC(int, short r) { record("c", r); }
    void record(std::string const& n, short r)
    {
        calls.push_back({n, r});
        if (during)
            during(n);
    }
};

std::ostream& operator<<(std::ostream& os, Recorder::Call const& c) { return os << c.name << "/" << c.revents; }

// Events "a", "b" and "c" on pipes of their own, recorded by rec.
struct Three {
    Three()
    {
        a.Bind("a", &Recorder::onA, &rec);
        b.Bind("b", &Recorder::onB, &rec);
        c.Bind("c", &Recorder::onC, &rec);
    }
    // Polls the named events for input.
    void watch(std::string const& names)
    {
        for (char n : names) {
            Event& e = n == 'a' ? a : n == 'b' ? b : c;
            Pipe& p = n == 'a' ? pa : n == 'b' ? pb : pc;
            e.Schedule(p.r, POLLIN);
        }
    }
    Recorder rec;
    Pipe pa, pb, pc;
    Event a, b, c;
};

typedef std::vector<Recorder::Call> Calls;

TEST(Multiplexer, EveryPolledEventIsServicedWhenAnyIsReady)
{
    Three t;
    t.watch("ab");
    EXPECT_TRUE(t.a.IsActive());
    EXPECT_NE(t.a.lowlevel_fd(), t.pa.r.lowlevel_fd());  // its own duplicate

    EXPECT_EQ(multiplexer.runOnce(0), 0);  // nothing ready: no callback
    EXPECT_TRUE(t.rec.calls.empty());

    t.pb.fill();
    EXPECT_EQ(multiplexer.runOnce(1000), 1);
    EXPECT_EQ(t.rec.calls, (Calls{{"a", 0}, {"b", POLLIN}}));
    EXPECT_EQ(t.a.count(), 0u);
    EXPECT_EQ(t.b.count(), 1u);
}

TEST(Multiplexer, DetachingALaterHandlerPreventsItsServiceSilently)
{
    Three t;
    t.watch("ab");
    multiplexer.runOnce(0);
    t.rec.during = [&](std::string const& n) {
        if (n == "a")
            t.b.Release();
    };
    t.pa.fill();
    CaptureStream err(std::cerr);
    multiplexer.runOnce(1000);
    EXPECT_EQ(t.rec.calls, (Calls{{"a", POLLIN}}));
    EXPECT_FALSE(t.b.IsActive());
    EXPECT_EQ(err.text(), "");
}

TEST(Multiplexer, AHandlerAttachedDuringServiceIsPolledFromTheNextTurn)
{
    Three t;
    t.watch("a");
    t.rec.during = [&](std::string const& n) {
        if (n == "a" && !t.c.IsActive())
            t.watch("c");
    };
    t.pa.fill();
    t.pc.fill();
    multiplexer.runOnce(1000);
    EXPECT_EQ(t.rec.calls, (Calls{{"a", POLLIN}}));
    // Not polled yet, but listed by the status dump as soon as it is attached.
    std::ostringstream before;
    multiplexer.dump(before);
    std::string const row = "|" + std::string(19, ' ') + "c" + std::string(20, ' ') + "|";
    EXPECT_NE(before.str().find(row), std::string::npos);

    t.rec.calls.clear();
    multiplexer.runOnce(1000);
    EXPECT_EQ(t.rec.calls, (Calls{{"a", POLLIN}, {"c", POLLIN}}));
}

TEST(Multiplexer, AnEventMayReleaseOrDestroyItselfInItsCallback)
{
    Recorder rec;
    Pipe pa, pb, pc;
    Event a;
    auto b = std::make_unique<Event>();
    Event c;
    a.Bind("a", &Recorder::onA, &rec);
    b->Bind("b", &Recorder::onB, &rec);
    c.Bind("c", &Recorder::onC, &rec);
    a.Schedule(pa.r, POLLIN);
    b->Schedule(pb.r, POLLIN);
    c.Schedule(pc.r, POLLIN);
    rec.during = [&](std::string const& n) {
        if (n == "a")
            a.Release();
        if (n == "b")
            b.reset();
    };
    pa.fill();
    pb.fill();
    pc.fill();
    multiplexer.runOnce(1000);
    EXPECT_EQ(rec.calls, (Calls{{"a", POLLIN}, {"b", POLLIN}, {"c", POLLIN}}));
    rec.calls.clear();
    multiplexer.runOnce(1000);
    EXPECT_EQ(rec.calls, (Calls{{"c", POLLIN}}));
}

// A descriptor closed behind its Event: the loop lets it go before servicing it, the
// callback hears so once, the next turns wait; the number, another descriptor's by then, is
// not closed from the Event.
TEST(Multiplexer, ADescriptorClosedBehindItsEventIsLetGoAndToldOnce)
{
    Three t;
    t.watch("ab");
    int const number = t.a.lowlevel_fd();
    ASSERT_EQ(::close(number), 0);
    CaptureStream err(std::cerr);
    EXPECT_EQ(multiplexer.runOnce(1000), 1);
    EXPECT_EQ(multiplexer.runOnce(50), 0);
    EXPECT_EQ(t.rec.calls, (Calls{{"a", POLLNVAL}, {"b", 0}}));
    EXPECT_FALSE(t.a.IsActive());

    ASSERT_EQ(::fcntl(t.pb.r.lowlevel_fd(), F_DUPFD_CLOEXEC, number), number);
    Fd const other(number);
    EXPECT_EQ(t.a.Release(), -1);
    EXPECT_GE(::fcntl(number, F_GETFD), 0) << "the Event closed another descriptor";
    EXPECT_EQ(err.text(), "");
}

TEST(Multiplexer, DuplicateAttachAndStrayDetachAreReported)
{
    Pipe p;
    Event e;
    e.Bind("ctl", &Recorder::onA, static_cast<Recorder*>(nullptr));
    e.Schedule(p.r, POLLIN);
    {
        CaptureStream err(std::cerr);
        multiplexer.attach(&e);
        EXPECT_EQ(err.text(), "duplicate multiplexer attach \"ctl\" ignored.\n");
    }
    e.Release();
    CaptureStream err(std::cerr);
    multiplexer.detach(&e);
    EXPECT_EQ(err.text(), "indvalid Multiplexer::detach ctl\n");
}

TEST(Multiplexer, ScheduleWithAClosedDescriptorLeavesTheEventDetached)
{
    Pipe p;
    Event e;
    e.Schedule(p.r, POLLIN);
    EXPECT_TRUE(e.attached());
    e.Schedule(Fd(), POLLIN);
    EXPECT_FALSE(e.attached());
    EXPECT_FALSE(e.IsActive());
    EXPECT_EQ(e.Release(), -1);
}

// A terminate request from the first callback; exits 0 when servicing stopped there and
// both handlers are still attached and can be detached without complaint.
void terminateFromACallback()
{
    Three t;
    t.watch("ab");
    t.rec.during = [](std::string const&) { multiplexer.terminate(); };
    t.pa.fill();
    t.pb.fill();
    multiplexer.runOnce(1000);
    bool ok = t.rec.calls.size() == 1 && multiplexer.event_exists(&t.a) &&
              multiplexer.event_exists(&t.b);
    CaptureStream err(std::cerr);
    t.b.Release();
    t.a.Release();
    ok = ok && err.text().empty();
    std::exit(ok ? 0 : 1);
}

TEST(Multiplexer, ATerminateRequestStopsServicingButKeepsHandlersAttached)
{
    EXPECT_EXIT(terminateFromACallback(), ::testing::ExitedWithCode(0), "");
}

TEST(Multiplexer, ARequestMadeBeforeRunIsKept)
{
    // As a SIGTERM during start-up: the loop ends before it would wait (with nothing to
    // wait for, a lost request would end in the hang abort).
    multiplexer.terminate();
    CaptureStream log(std::clog);
    multiplexer.run(false, true);
    EXPECT_EQ(log.text(), "Mux: terminating...\n");
    EXPECT_FALSE(multiplexer.terminating());
}

TEST(MultiplexerDeathTest, NothingToWaitForIsAHang)
{
    EXPECT_DEATH(multiplexer.runOnce(-1), "multiplexer: system hang detected!!!");
}

void pollBeyondTheDescriptorLimit()
{
    Pipe p;
    std::vector<std::unique_ptr<Event>> events;
    for (int i = 0; i < 8; ++i) {
        events.push_back(std::make_unique<Event>());
        events.back()->Schedule(p.r, POLLIN);
    }
    multiplexer.runOnce(0);  // a first turn, so the sanitizer's type checks need no files later
    rlimit few = {4, 4};
    setrlimit(RLIMIT_NOFILE, &few);  // poll refuses more entries than this
    multiplexer.runOnce(0);
}

TEST(MultiplexerDeathTest, AFailingPollEndsTheProcess)
{
    EXPECT_DEATH(pollBeyondTheDescriptorLimit(), "multiplexer poll failed: Invalid argument");
}

void nothing() {}

TEST(Multiplexer, WithOnlyATimerPendingThereIsNoHang)
{
    Mux::TestClock clock;
    Timer t;
    t.set(50, &nothing);
    EXPECT_EQ(multiplexer.runOnce(-1), 0);  // the test clock is not waited for
    EXPECT_TRUE(t.is_running());
    testsupport::advance(clock, 50);
    EXPECT_FALSE(t.is_running());
}

TEST(Multiplexer, PollEventAsText)
{
    EXPECT_EQ(PollEventAsText(0x19), "POLLIN|POLLERR|POLLHUP");
    EXPECT_EQ(PollEventAsText(0), "");
    EXPECT_EQ(PollEventAsText(0x7FF),
              "POLLIN|POLLPRI|POLLOUT|POLLERR|POLLHUP|POLLNVAL|POLLRDNORM|POLLRDBAND|POLLWRNORM|"
              "POLLWRBAND|POLLMSG");
    EXPECT_EQ(PollEventAsText(0x800), "");
}

std::string blanks(int n) { return std::string(std::size_t(n), ' '); }

std::string centred(std::string const& text, int width)
{
    int pad = width - int(text.size());
    return "|" + blanks(pad / 2) + text + blanks((pad + 1) / 2);
}

TEST(Multiplexer, StatusDumpListsThePolledEvents)
{
    Pipe p;
    Event named, unbound;
    named.Bind("ctl", &Recorder::onA, static_cast<Recorder*>(nullptr));
    named.Schedule(p.r, POLLIN);
    unbound.Schedule(p.r, POLLIN | POLLOUT);
    multiplexer.runOnce(0);
    Profile::Point point("loop-test");

    std::ostringstream os;
    multiplexer.dump(os);
    std::istringstream lines(os.str());
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("dpc transition measurement (min/max/cur/counter): min=", 0), 0u) << line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("event transition measurement (min/max/cur/counter): min=", 0), 0u) << line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("timer transition measurement (min/max/cur/counter): min=", 0), 0u) << line;
    std::getline(lines, line);
    EXPECT_EQ(line, "[loop-test]: min=0 max=0 avg=0 counter=0");

    std::string const delimiter = "+" + std::string(40, '-') + "+" + std::string(30, '-') + "+" +
                                  std::string(10, '-') + "+" + std::string(10, '-') + "+" +
                                  std::string(5, '-') + "+" + std::string(60, '-') + "+";
    std::string const rest = delimiter + "\n" +
        "|" + blanks(18) + "name" + blanks(18) + "|" + blanks(12) + "events" + blanks(12) + "|" +
        blanks(2) + "count" + blanks(3) + "|" + blanks(1) + "handler" + blanks(2) + "|" + blanks(1) +
        "fd" + blanks(2) + "|" + blanks(26) + "measure" + blanks(27) + "|\n" +
        delimiter + "\n" +
        "|" + blanks(18) + "ctl" + blanks(19) + "|" + blanks(12) + "POLLIN" + blanks(12) + "|" +
        blanks(4) + "0" + blanks(5) + "|" + blanks(1) + "attached" + blanks(1) +
        centred(std::to_string(named.lowlevel_fd()), 5) + "|" + blanks(16) +
        "min=0 max=0 avg=0 counter=0" + blanks(17) + "|\n" +
        centred("Unknown", 40) + centred("POLLIN|POLLOUT", 30) + centred("0", 10) +
        centred("unattached", 10) + centred(std::to_string(unbound.lowlevel_fd()), 5) +
        centred("min=0 max=0 avg=0 counter=0", 60) + "|\n" +
        delimiter + "\n\n";
    std::string tail;
    std::getline(lines, tail, '\0');
    EXPECT_EQ(tail, rest);
}

}  // namespace
