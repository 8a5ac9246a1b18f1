#pragma once

// Shared by the fuzz targets of the monitoring controller: the process's part (a network of
// its own with only its loopback up and no packet socket, so that no network interface is
// sampled; a board root with the folders the controller reads and writes; the listener of
// the agent and the configuration of one agent link to it), and an input's run on a
// monitoring controller of its own, on a fresh simulated board with "/dev/hal" and a fresh
// test clock, after which no descriptor or timer may be left.

#include "base/clock.h"
#include "base/ini_file.h"
#include "board/board.h"
#include "board/sim/hal_model.h"
#include "board/sim/sim_board.h"
#include "monitoring/monitoring_ctl.h"
#include "runtime/ipc_signal.h"
#include "tests/fuzz_support.h"
#include "tests/loop_pump.h"
#include "tests/loopback.h"

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>

namespace monfuzz {

// Built at a target's first input, and kept.
struct Process {
    static void OnBrokenPipe(int) {}
    // Before the listener is made, in the network it listens on.
    static bool prepare(char const* target, char const* logVariable)
    {
        testsupport::privateNetwork(target);
        testsupport::noPacketSockets(target);
        IPC::Signal::handle(SIGPIPE, OnBrokenPipe, SA_RESTART);
        testsupport::quietStreams(logVariable);
        return true;
    }

    // The daemon's log is shown when the variable is set.
    Process(char const* name, char const* logVariable) : target(name), prepared(prepare(name, logVariable)) {}

    char const* target;
    bool prepared;
    std::string cwd = std::filesystem::current_path().string();
    // Removed when the process ends.
    std::string root =
        testsupport::boardRoot(target, {"/var", "/usr/local/etc", "/proc/voice", "/proc/driver/hdlc/peb22554"});
    testsupport::LoopbackListener listener{4};
    std::string config = "[snmpagent]\nhost=127.0.0.1:" + std::to_string(listener.port()) + "\nname=qelt\n";
};

// One input's monitoring controller and the board and clock it runs on.
struct Controller {
    explicit Controller(Process const& process)
    {
        IniFile::File file;
        std::istringstream(process.config) >> file;
        monitoring.Configure(file);
    }

    Mux::TestClock clock;
    board::sim::SimBoard sim;
    board::sim::HalModel& hal = sim.add<board::sim::HalModel>();
    board::ScopedBoard installed{sim};
    MonitoringCtl monitoring;
};

// Runs run(controller) on a fresh controller; then the working folder is the process's again
// (the configuration check moves into the root) and nothing is left beyond what the process
// held before.
template <class Run>
void runInput(Process const& process, Run const& run)
{
    testsupport::settle();
    testsupport::Baseline baseline;
    baseline.take();
    {
        Controller controller(process);
        run(controller);
    }
    testsupport::settle();
    if (::chdir(process.cwd.c_str()) != 0)
        testsupport::breach(process.target, "cannot go back to the working folder");
    if (std::string const left = baseline.left(); !left.empty())
        testsupport::breach(process.target, left);
}

}  // namespace monfuzz
