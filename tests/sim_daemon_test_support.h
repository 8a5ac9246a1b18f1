#pragma once

// The fixture of the end-to-end tests that drive server-sim: the daemon started under a fresh
// root, a controller connection, and the board console.

#include "tests/board_client.h"
#include "tests/controller_client.h"
#include "tests/daemon_launcher.h"
#include "tests/slot_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A message in short: describeZgcp, with the slot signals said in short: the stream state of
// receiver and transmitter ("slot=7 transmitter active 37"), "slot=20 userData 0a0b",
// "slot=30 abort 0", "slot=40 ioctl stopRecording : userRequest", "slot=20 activated",
// "slot=20 deactivated", "slot=20 modemProceeding auth : {...}".
std::string describe(ZGCP::Message const& m);

class SimDaemonTest : public ::testing::Test {
protected:
    SimDaemonTest() : daemon(GW_SERVER_SIM_BINARY) {}
    ~SimDaemonTest() override = default;

    void SetUp() override;
    void TearDown() override;

    // The daemon stopped and started again, with a new controller connection and board console.
    void restart();

    // Restarts the daemon until it holds the fixed port of the authentication listener, which
    // a daemon of another test may hold for a while; the tests that need the port hold its
    // lock (tests/e2e/CMakeLists.txt).
    void takeAuthPort();

    // A new controller connection (the daemon has seen it when this returns true).
    bool attach();

    // A ping whose answer is the next message.
    bool pinged();

    // The commands the tests send most.
    static ZGCP::Command create(ZGCP::CreateParams const& params) { return createCommand(params); }
    static ZGCP::Command connect(unsigned target) { return connectCommand(target); }
    // Slot 7, time slot 5 of trunk 1, for the slots of a test to join (its stream signals
    // taken).
    void trunkSlot7();

    // Sends the command (with the next sequence number, and the slot number when given)
    // and returns the next message that arrives, in short.
    std::string call(ZGCP::Command const& command, std::optional<unsigned> slot = std::nullopt);

    // The next message that arrives, in short (describe()); a fixture may say more.
    virtual std::string next();

    std::vector<std::string> next(int n);

    // The answer to the command for the slot number: "success" or "error=N" when it carries
    // the command's sequence and slot numbers, the whole message in short otherwise.
    std::string on(unsigned number, ZGCP::Command const& command);
    std::string answer(std::string const& text, std::optional<unsigned> number) const;
    // The same, the signals that come before the answer passed over; for a command without a
    // slot when there is no number.
    std::string done(std::optional<unsigned> number, ZGCP::Command const& command);

    // Appends the command, with the next sequence number (and the slot number when given), to a
    // burst of commands sent in one write.
    void append(Bytes& burst, ZGCP::Command const& command, std::optional<unsigned> slot = std::nullopt);
    // The answers to the commands numbered from first to the last sent, in short (describe())
    // by number, each of which must come once; the signals that come before the last go to
    // the callback.
    std::map<int, std::string> answers(int first, std::function<void(ZGCP::Message const&)> const& signal = {});

    // The next message, which must be a signal: its value notation ("no signal" otherwise).
    std::string signal();

    // The resources a slot-less query reports, the other signals before its answer and its
    // report passed over (empty ones when no report comes).
    ZGCP::Resources resources();

    // The number the board's journal gives its next entry.
    unsigned long long journalNext();
    // The journal's entries from the one numbered from up to what it holds now (the switch adds
    // entries on every loop pass), page by page, that begin with the prefix, without numbers:
    // "ioctl /dev/rtp stop -> 0". Entries the journal dropped before they were read fail the
    // test.
    std::vector<std::string> journal(unsigned long long from, std::string const& prefix = "");

    // The state of a switch output as the board socket reports it ("ok =0xd5 disables=2").
    std::string output(int channel);
    bool logged(std::string const& line);

    DaemonLauncher daemon;
    std::optional<ControllerClient> client;
    std::optional<BoardClient> board;
    int seq = 0;
};

}  // namespace testsupport
