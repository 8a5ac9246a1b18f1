#pragma once

// The fixture of the end-to-end tests that churn every slot kind that goes through the
// time-slot switch (tests/e2e/switch_leftovers_test.cpp, tests/e2e/switch_failures_test.cpp):
// the kinds, each joined both ways with a trunk time slot, and what they need on the board.

#include "base/fd.h"
#include "tests/loopback.h"
#include "tests/radio_commands.h"
#include "tests/sim_daemon_test_support.h"
#include "tests/stub_child.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class SwitchKindsTest : public SimDaemonTest {
public:
    struct Kind {
        char const* name;
        ZGCP::CreateParams params;
        // Whether it has an output to the trunk and an input from it.
        bool output = true;
        bool input = true;
        // Its input opens on activate (an external channel).
        bool activate = false;
    };

    // Every kind but the echo slot, which this board declines. The QSIG slot is the 17th; its
    // B slot follows it.
    static constexpr unsigned kQsig = 17;
    // The media peers' kinds connect to the port given.
    static std::vector<Kind> kinds(std::uint16_t peerPort);

protected:
    static ZGCP::Command const disconnectCmd;
    static ZGCP::Command const destroyCmd;
    static ZGCP::Command const activateCmd;

    // Kind i is slot 10 + i, joined both ways with trunk slot 100 + i (trunk 2, time slot 1 + i).
    static unsigned slot(unsigned i) { return 10 + i; }
    static unsigned trunk(unsigned i) { return 100 + i; }
    void join(unsigned i, Kind const& kind);
    void destroy(unsigned i);

    // The stub programs, the phrase, the interface and the mixer unit the kinds use. The phrase
    // is a pipe held open here and never written: the player plays it without end, waiting on
    // it. A file would be played again on every loop pass (the simulated channel takes every
    // frame at once), each pass adding the switch's re-disable requests to the board's
    // journal faster than a test reads it.
    void prepare();

    Fd phraseWriter;
    LoopbackListener peer{64};
    StubChild relay{daemon.root(), "/usr/local/sbin/t38"};
    StubChild pppd{daemon.root(), "/usr/local/sbin/pppd"};
};

}  // namespace testsupport
