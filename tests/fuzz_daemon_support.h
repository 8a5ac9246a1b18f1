#pragma once

// Shared by the fuzz targets that drive the daemon's slots and device services in process on
// the simulated board (with tests/fuzz_support.h): a controller connection over a socket
// pair, the controller's side of it (every message read back with the protocol's own coder),
// the signals checked as the server shows them, what is left of the slots and the switch
// outputs they drove, and the part of the daemon every such target builds once.

#include "asn1/asn1.h"
#include "base/clock.h"
#include "base/immortal.h"
#include "base/leading_number.h"
#include "board/sim/hal_model.h"
#include "board/sim/sim_board.h"
#include "control/ctrl_server.h"
#include "control/service.h"
#include "hardware/hw_mux.h"
#include "messages/zgcp.h"
#include "runtime/multiplexer.h"
#include "slots/slot_factory.h"
#include "slots/slots.h"
#include "tests/controller_client.h"
#include "tests/fuzz_support.h"
#include "tests/loop_pump.h"
#include "tests/sim_env.h"

#include <signal.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

// A controller connection over one end of a socket pair.
class ControllerLink : public Control::Service {
public:
    ControllerLink() : Control::Service(false) {}
    void take(Fd const& fd) { TakeConnection(fd, "fuzz"); }

protected:
    bool ImplActivate() override { return true; }
    void ImplDeactivate() override {}
    void ImplOnDisconnect() override {}
};

// The outputs of the switch still driven, as the switch model's runs ("513<512"):
// connected to an input, or written with anything but the idle byte, which only outputs off
// the shared bus send when let go.
inline std::string drivenOutputs(board::sim::HalModel const& hal)
{
    std::istringstream outputs(hal.dump());
    std::string driven;
    for (std::string run; outputs >> run;) {
        if (run.find(":off") != std::string::npos)
            continue;
        std::size_t const at = run.find("=0xd5");
        std::size_t const dash = run.find('-');
        long first = -1;
        leadingNumber(run, first);
        long last = first;
        if (dash < at)
            leadingNumber(std::string_view(run).substr(dash + 1), last);
        if (at == std::string::npos || (last >= HwMux::kBusFirst && first < HwMux::kBusFirst + HwMux::kBusCount))
            driven += " " + run;
    }
    return driven;
}

// Runs the loop turns the switch's re-disable pass takes to cover every shared-bus output
// (kRefreshPerPass of them a pass, at least one pass a turn): by then each output whose disable
// the board refused is disabled, once the board works again.
inline void redisableBus()
{
    for (int pass = 0; pass < (HwMux::kBusCount + HwMux::kRefreshPerPass - 1) / HwMux::kRefreshPerPass; ++pass)
        multiplexer.runOnce(0);
}

// Whether a slot is left in the table or in a factory.
inline bool slotLeft()
{
    if (!Slots::instance().live().empty())
        return true;
    for (SlotFactory* f = SlotFactory::first(); f != nullptr; f = f->next())
        if (!f->slots().empty())
            return true;
    return false;
}

// The lines a LineCount has counted must be the number the target expects of them.
inline void checkLines(char const* target, LineCount const& lines, std::size_t expected, char const* what)
{
    if (lines.count() != expected)
        breach(target, std::string("lines of ") + what + ": " + std::to_string(lines.count()) + " where "
                           + std::to_string(expected) + " must be");
}

// The opens of a device (by their ids) whose end the target brought are let go of: the
// daemon holds none of them any more, nor polls them.
inline void checkLetGo(char const* target, board::sim::SimBoard& sim, board::sim::Device const& device,
                       std::vector<unsigned> const& ended)
{
    sim.service();
    for (unsigned id : ended)
        for (board::sim::OpenFile const* f : device.opens())
            if (f->id() == id)
                breach(target, "an open of " + device.path() + " that ended is held");
}

// Whether the signal encodes and decodes again with the protocol's own coder, in a message
// as the server sends it (a signal that does not encode never reaches the controller).
inline bool codes(ZGCP::Signal const& signal)
{
    ZGCP::Message message;
    message.set_slot(1);
    message.set_pdu().select_signal(signal);
    ZGCP::Message back;
    return decodePer(encodePer(message), back);
}

// Sees every signal as the server shows it, while the slot sends it: each must encode and
// decode again; seen() looks further.
class SignalWatch : public CtrlSrv::Service {
public:
    explicit SignalWatch(char const* target) : target_(target) {}
    void OnConnect() override {}
    void OnDisconnect() override {}
    bool OnCommand(ZGCP::Command const&) override { return false; }
    void OnSignal(ZGCP::Signal const& signal) override
    {
        if (!codes(signal))
            breach(target_, "a signal that does not encode: " + signal.asValueNotation());
        seen(signal);
    }

protected:
    virtual void seen(ZGCP::Signal const&) {}

private:
    char const* target_;
};

// The controller's side of a server's connection, over a socket pair: every message the
// server sends is read back as a whole TPKT frame and decoded with the protocol's own
// coder; the signals are kept with their slot numbers.
class ControllerEnd {
public:
    struct Signal {
        int slot;  // -1 when the message names none
        ZGCP::Signal signal;
    };

    // Connects the server, which keeps its end for the process; with log, each signal read
    // is shown on the log stream.
    ControllerEnd(char const* target, bool log, CtrlSrv::Server& server) : target_(target), log_(log)
    {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
            std::abort();
        peer_ = Fd(pair[1]);
        // Room for every signal of a burst the loop sends in one turn, before this end reads:
        // the server's writes would otherwise wait, then end the connection.
        int const room = 16 << 20;
        if (::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room) != 0)
            ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
        auto* link = new ControllerLink;  // owned by the server
        server.Activate(link);
        link->take(Fd(pair[0]));
    }

    // Reads what has come: the signals of the whole frames, in order. A frame that is not a
    // TPKT frame holding one message that decodes, or the end of the connection, is a breach.
    std::vector<Signal> take()
    {
        bool const ended = receiveAll(peer_.lowlevel_fd(), in_);
        std::vector<Signal> out;
        takeFrames(target_, in_, [&](std::vector<std::uint8_t> const& body) {
            ZGCP::Message message;
            if (!decodePer(body, message))
                breach(target_, "a message that does not decode");
            if (!message.get_pdu().signal_isSelected())
                return;
            out.push_back({message.slot_isPresent() ? int(message.get_slot().getValue()) : -1,
                           message.get_pdu().get_signal()});
            if (log_)
                std::clog << target_ << ": signal of " << out.back().slot << ": "
                          << out.back().signal.asValueNotation() << std::endl;
        });
        if (ended)
            breach(target_, "the server ended the controller's connection");
        return out;
    }

private:
    char const* target_;
    bool log_;
    Fd peer_;
    std::vector<std::uint8_t> in_;
};

// The part of the daemon a target drives, built once and never destroyed: the test clock at
// startMs, the process's simulated board, the controller server with the slot table and a
// controller connected, and what every input must leave as it found it. The target's own
// part (its factories and services, and its SignalWatch bound with bind()) comes after.
struct DaemonHarness {
    DaemonHarness(char const* name, char const* logVariable, std::uint32_t startMs)
        : target(name), log(quietStreams(logVariable))
    {
        privateNetwork(target);
        ::signal(SIGPIPE, SIG_IGN);
        clock.setMilliseconds(startMs);
    }

    // The server dispatches to the slot table, then shows the signals to the watch.
    void bind(SignalWatch& signals)
    {
        server.Bind(&table);
        server.Bind(&signals);
    }

    // Once every slot is destroyed and the board works again: nothing of them is left (slots,
    // switch outputs once the re-disable pass has covered the bus, RTP and extension
    // sessions), nor anything beyond the baseline.
    void checkLeftOver()
    {
        env.sim.service();
        if (slotLeft())
            breach(target, "a slot is left");
        redisableBus();
        if (std::string const driven = drivenOutputs(env.hal); !driven.empty())
            breach(target, "switch outputs are left driven:" + driven);
        if (!env.rtpExt.sessions().empty())
            breach(target, "an extension session is left: " + env.rtpExt.dump());
        if (!env.rtp.sessions().empty())
            breach(target, "an RTP session is left: " + env.rtp.dump());
        env.sim.service();
        if (std::string const left = baseline.left(env.sim.ownDescriptors()); !left.empty())
            breach(target, left);
    }

    char const* const target;
    // The daemon's log, with the signals the controller reads, is shown when the variable is set.
    bool const log;
    Mux::TestClock clock;
    SimEnv& env = SimEnv::get();
    CtrlSrv::Server server;
    Slots& table = Slots::instance();
    ControllerEnd controller{target, log, server};
    Baseline baseline;
};

// The start of an input. The first builds the target's Gateway (a DaemonHarness), never
// destroyed, and has a Run of no input use it once (useAgain()) so that the services hold
// what they keep from their first use before the baseline is taken. Every input starts with
// the clock at startMs while nothing is pending on it.
template <class Run, class Gateway>
void prepare(Gateway*& gateway, std::uint32_t startMs)
{
    if (gateway == nullptr) {
        static Immortal<Gateway> instance;
        gateway = &instance.value;
        FuzzInput none(nullptr, 0);
        Run(none).useAgain();
        gateway->env.sim.service();
        gateway->baseline.take(gateway->env.sim.ownDescriptors());
    }
    if (multiplexer.timer_count() == 0)
        gateway->clock.setMilliseconds(startMs);
}

// One input, after prepare(): a Run of it takes its steps (checking after each), then
// finish() (every slot goes, the board works again: nothing of them may stay), then
// useAgain() (a fresh slot works).
template <class Run, class Gateway>
void runInput(Gateway*& gateway, std::uint32_t startMs, std::uint8_t const* data, std::size_t size)
{
    prepare<Run>(gateway, startMs);
    FuzzInput in(data, size);
    Run run(in);
    run.steps();
    run.finish();
    run.useAgain();
}

}  // namespace testsupport
