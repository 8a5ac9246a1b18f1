#pragma once

// Shared by the slot framework's in-process tests: the process's simulated board, a
// recorder of the signals the slot table sends, and builders of the controller's commands.

#include "control/ctrl_server.h"
#include "hardware/hw_mux.h"
#include "messages/zgcp.h"
#include "slots/echo_slot.h"
#include "slots/ext_slot.h"
#include "slots/map_slot.h"
#include "slots/slot.h"
#include "slots/slots.h"
#include "tests/capture.h"
#include "tests/sim_env.h"
#include "tests/slot_commands.h"

#include <gtest/gtest.h>

#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace slotstest {

using testsupport::SimEnv;

// The lines of a captured text that begin with the prefix, each with its line end.
std::string linesOf(std::string const& text, std::string const& prefix);

// A signal in short: "transmitter active 37", "receiver inactive", or the alternative's
// value notation for the others.
std::string describe(ZGCP::Signal const& s);

// Sees every signal the slot table sends (the server shows it to the other services).
class SignalRecorder : public CtrlSrv::Service {
public:
    void OnConnect() override;
    void OnDisconnect() override;
    bool OnCommand(ZGCP::Command const&) override;
    void OnSignal(ZGCP::Signal const& signal) override;
    // The texts recorded since the last take.
    std::vector<std::string> take();

    std::vector<ZGCP::Signal> signals;
    std::vector<std::string> texts;
};

using testsupport::BusChannel;

ZGCP::CreateParams trunk(unsigned t, unsigned ts);
ZGCP::CreateParams bri(unsigned t, unsigned ch);
ZGCP::CreateParams map(std::optional<BusChannel> tx, std::optional<BusChannel> rx);
ZGCP::CreateParams ext(int tx, int rx);
ZGCP::CreateParams echo(int bus, int channel);
ZGCP::Command createCmd(ZGCP::CreateParams const& params);
ZGCP::Command connectCmd(unsigned target);
ZGCP::Command disconnectCmd();
ZGCP::Command destroyCmd();
ZGCP::Command activateCmd();
ZGCP::Command deactivateCmd();

using Answer = Slots::Answer;
Answer ok();
Answer fail(ZGCP::ErrorCause::NamedNumber cause);

std::ostream& operator<<(std::ostream& os, Answer const& a);

// The slot table bound to a server of its own with a signal recorder, over the simulated
// board, with the factories of the daemon; every slot goes when the test ends.
struct SlotsTest : ::testing::Test {
    SimEnv& env = SimEnv::get();
    testsupport::CaptureStream err{std::cerr};
    testsupport::CaptureStream log{std::clog};
    CtrlSrv::Server server;
    SignalRecorder signals;
    Slots& table = Slots::instance();

    SlotsTest();
    ~SlotsTest() override;

    Answer run(unsigned number, ZGCP::Command const& command);
    Answer create(unsigned number, ZGCP::CreateParams const& params);
    Answer connect(unsigned from, unsigned to);
    Answer disconnect(unsigned number);
    Answer destroy(unsigned number);
    Answer activate(unsigned number);
    Answer deactivate(unsigned number);
    Slot* at(unsigned number);
    board::sim::HalModel::Output output(int channel);
};

}  // namespace slotstest
