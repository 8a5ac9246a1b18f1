#include "slots/t38_slot.h"

#include "base/clock.h"
#include "tests/loop_pump.h"
#include "tests/slots_test_support.h"
#include "tests/stub_child.h"
#include "tests/temp_root.h"

#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>

namespace {

using namespace slotstest;

constexpr int kTimeout = 20000;

struct T38SlotTest : SlotsTest {
    testsupport::TempRoot root;
    testsupport::StubChild relay{root.dir(), T38SoftFactory::kProgram};
    T38SoftFactory& factory = T38SoftFactory::instance();

    T38SlotTest() { ChildWait::Activate(); }
    ~T38SlotTest() override
    {
        table.OnDisconnect();
        // The relays told to end are seen off before reaping stops, and their channels
        // closed (a relay's own child may hold one a moment longer than the relay).
        testsupport::runUntil(
            [&] {
                env.sim.service();
                return factory.retiring() == 0 && env.mcc.timeslots().empty();
            },
            kTimeout);
        ChildWaitService::childWaitService->Deactivate();
    }

    bool waitFor(std::function<bool()> const& done) { return testsupport::runUntil(done, kTimeout); }
    int pid(unsigned slot) { return static_cast<T38SoftSlot*>(at(slot))->childId(); }
    // Whether a child has not ended yet (an end is left to be reaped).
    static bool running(int pid)
    {
        siginfo_t info{};
        return ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
    }
};

TEST_F(T38SlotTest, TheRelayGetsAtMost27ExtraArguments)
{
    std::vector<std::string> extra;
    for (int i = 1; i <= 28; ++i)
        extra.push_back("x" + std::to_string(i));
    ASSERT_EQ(create(5, testsupport::t38Params("10.0.0.1", 4000, 5000, extra)), ok());
    int const p = pid(5);
    ASSERT_TRUE(waitFor([&] { return relay.lines(p).size() >= 2; }));
    std::string expected = "--child --remote 10.0.0.1/4000/5000";
    for (int i = 1; i <= 27; ++i)
        expected += " x" + std::to_string(i);
    EXPECT_EQ(relay.args(p), expected);
    EXPECT_NE(log.text().find("t38soft: arg[30]=x27\nt38soft: t38 daemon[" + std::to_string(p) + "] successfully started\n"),
              std::string::npos);
}

TEST_F(T38SlotTest, TheRelaysEndIsReportedAsAbortWithItsWaitStatus)
{
    struct Case {
        char const* how;
        int status;
        std::string line;
    } const cases[] = {
        {"killed", SIGKILL, "t38 daemon terminated by signal=9\n"},
        {"missing", 237 << 8, "t38 daemon terminated with code=237\n"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.how);
        std::string const how = c.how;
        if (how == "missing")
            std::remove(relay.path().c_str());
        ASSERT_EQ(create(5, testsupport::t38Params("10.0.0.1", 4000, 5000)), ok());
        signals.take();
        int const p = pid(5);
        if (how == "killed") {
            ASSERT_TRUE(waitFor([&] { return relay.lines(p).size() >= 2; }));
            ::kill(p, SIGKILL);
        }
        ASSERT_TRUE(waitFor([&] { return !signals.texts.empty(); }));
        // The channel went with the relay.
        EXPECT_EQ(signals.take(), (std::vector<std::string>{"receiver inactive", "transmitter inactive",
                                                            "abort : " + std::to_string(c.status)}));
        EXPECT_NE(log.text().find("05:t38 soft: " + c.line), std::string::npos) << log.text();
        // The slot stays until destroyed; its relay is gone, so nothing is told to end.
        EXPECT_EQ(pid(5), -1);
        ASSERT_EQ(destroy(5), ok());
        EXPECT_EQ(factory.retiring(), 0u);
    }
}

// The relay count runs beside the loop and is the line's leading number (0 when it has none,
// an empty line among them): a program that tells nothing holds the resources report a second
// at most; after a number no int holds, a line cut at its bound, or no answer, the last count
// stands, with one line that says why; without the program the board offers no relay.
TEST_F(T38SlotTest, TheRelayCountIsTheLinesLeadingNumberOrTheLastOneStands)
{
    Mux::TestClock clock;
    auto update = [&] {
        testsupport::advance(clock, T38SoftFactory::kCountMs);
        table.UpdateHardwareResources();
    };
    // The count of the report that comes.
    auto counted = [&] {
        EXPECT_TRUE(waitFor([&] { return !signals.signals.empty(); }));
        int const n = signals.signals.empty() ? -1 : signals.signals.back().get_query().get_t38_instances().getValue();
        signals.take();
        return n;
    };
    std::string const digits39(39, '7');
    std::string const blanks29(29, ' ');
    std::string const blanks30(30, ' ');
    std::string const cut = "t38soft: t38 daemon told a count longer than 31 characters: \"";
    struct Case {
        std::string settings;
        char const* held;  // what the program does while the report waits for it
        int count;
        std::string line;  // on the error stream, once ("" none)
        bool runs = false;  // the count comes while the program runs on
    } const cases[] = {
        {"INSTANCES=4", nullptr, 4, ""},
        {"INSTANCES='\\n' COUNT=format", nullptr, 0, ""},
        {"INSTANCES=7 COUNT=raw", nullptr, 7, ""},
        {"INSTANCES='\\r\\n' COUNT=format", nullptr, 0, ""},
        {"INSTANCES='3 relays'", nullptr, 3, ""},
        {"INSTANCES=' \\n' COUNT=format", nullptr, 0, ""},
        {"INSTANCES=+5", nullptr, 5, ""},
        {"INSTANCES=none", nullptr, 0, ""},
        {"INSTANCES=' -2 '", nullptr, -2, ""},
        {"INSTANCES=7", nullptr, 7, ""},
        {"INSTANCES=" + digits39 + " COUNT=raw", nullptr, 7,
         cut + digits39.substr(0, T38SoftFactory::kCountLineMax) + "\"; the last count stands\n"},
        // At the bound, the character after it tells: a digit cuts the number (after digits
        // an int would hold, or after its sign); an end of line, the output's end or a letter
        // leaves it whole.
        {"INSTANCES='" + blanks29 + "12345' COUNT=raw", nullptr, 7, cut + blanks29 + "12\"; the last count stands\n"},
        {"INSTANCES='" + blanks30 + "+5'", nullptr, 7, cut + blanks30 + "+\"; the last count stands\n"},
        {"INSTANCES='" + blanks29 + "12'", nullptr, 12, ""},
        {"INSTANCES='" + blanks29 + "13' COUNT=raw", nullptr, 13, ""},
        {"INSTANCES='" + blanks29 + "14x'", nullptr, 14, ""},
        {"INSTANCES='" + blanks30 + "+' COUNT=raw", nullptr, 0, ""},
        {"INSTANCES='" + blanks30 + " 5' COUNT=raw", nullptr, 0, ""},
        // Longer lines whose number ends within the bound.
        {"INSTANCES='3 relays available on this board today'", nullptr, 3, ""},
        {"INSTANCES=7", nullptr, 7, ""},
        {"INSTANCES='5" + std::string(30, ' ') + "' COUNT=raw", nullptr, 5, ""},
        {"INSTANCES=7", nullptr, 7, ""},
        // 31 characters from a program that runs on: the line is whole unless its number
        // reaches the bound, where only the next character can tell.
        {"INSTANCES='5" + blanks30 + "' COUNT=held", nullptr, 5, "", true},
        {"INSTANCES='3 relays available on this boar' COUNT=held", nullptr, 3, "", true},
        {"INSTANCES='" + blanks29 + "12' COUNT=held", "held", 3,
         "] told no count within 1000 ms, killed; the last count stands\n"},
        {"INSTANCES=7", nullptr, 7, ""},
        {"INSTANCES=2147483648", nullptr, 7, "t38 daemon told a count no int holds: \"2147483648\";"},
        {"INSTANCES=-2147483649", nullptr, 7, "t38 daemon told a count no int holds: \"-2147483649\";"},
        {"COUNT=hang", "stdin", 7, "] told no count within 1000 ms, killed; the last count stands\n"},
        {"COUNT=orphan", "exit", 7,
         "t38soft: t38 daemon ended without its count, and its output stayed open for 1000 ms; the last count "
         "stands\n"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.settings);
        relay.configure(c.settings);
        std::size_t const said = c.line.empty() ? 0 : err.count(c.line);
        std::size_t const runs = relay.pids().size();
        update();
        if (c.held) {
            ASSERT_TRUE(waitFor([&] {
                std::vector<int> const pids = relay.pids();
                if (pids.size() <= runs)
                    return false;
                for (std::string const& line : relay.lines(pids.back()))
                    if (line.rfind(c.held, 0) == 0)
                        return true;
                return false;
            }));
            testsupport::advance(clock, T38SoftFactory::kCountMs - 1);
            EXPECT_TRUE(signals.signals.empty());
            testsupport::advance(clock, 1);
        }
        EXPECT_EQ(counted(), c.count);
        if (c.runs) {
            EXPECT_TRUE(running(relay.pids().back()));
        }
        if (!c.line.empty()) {
            EXPECT_EQ(err.count(c.line), said + 1) << err.text();
        }
    }
    EXPECT_EQ(log.text().find("t38"), std::string::npos) << "a count says nothing";
    // The program that hung is the one its row ran.
    std::size_t const hung =
        std::find_if(std::begin(cases), std::end(cases), [](Case const& c) { return c.settings == "COUNT=hang"; })
        - std::begin(cases);
    EXPECT_EQ(err.count("t38soft: t38 daemon[" + std::to_string(relay.pids().at(hung)) + "] told no count"), 1u);

    std::remove(relay.path().c_str());
    update();
    EXPECT_EQ(counted(), 0);
    EXPECT_NE(log.text().find("t38: can't detect T38 resources\n"), std::string::npos);
}

TEST_F(T38SlotTest, ARelayThatIgnoresTermIsKilledAfterTheGracePeriod)
{
    Mux::TestClock clock;
    relay.configure("IGNORE=TERM");
    ASSERT_EQ(create(5, testsupport::t38Params("10.0.0.1", 4000, 5000)), ok());
    int const p = pid(5);
    ASSERT_TRUE(waitFor([&] { return relay.lines(p).size() >= 2; }));
    ASSERT_EQ(destroy(5), ok());
    EXPECT_EQ(at(5), nullptr);
    ASSERT_TRUE(waitFor([&] { return relay.recorded(p, "signal TERM"); }));
    testsupport::advance(clock, T38SoftFactory::kGraceMs - 1);
    EXPECT_EQ(::kill(p, 0), 0);
    EXPECT_EQ(factory.retiring(), 1u);
    testsupport::advance(clock, 1);
    ASSERT_TRUE(waitFor([&] { return factory.retiring() == 0; }));
    EXPECT_NE(err.text().find("t38soft: t38 daemon[" + std::to_string(p) + "] still runs 5000 ms after SIGTERM, killed\n"),
              std::string::npos);
    EXPECT_NE(log.text().find("t38soft: t38 daemon terminated by signal=9\n"), std::string::npos);
    // Only the streams of the create: no abort, the slot had gone.
    EXPECT_EQ(signals.take().size(), 2u);
}

}  // namespace
