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
inline std::string linesOf(std::string const& text, std::string const& prefix)
{
    std::istringstream in(text);
    std::string out;
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0)
            out += line + '\n';
    return out;
}

// A signal in short: "transmitter active 37", "receiver inactive", or the alternative's
// value notation for the others.
inline std::string describe(ZGCP::Signal const& s)
{
    auto stream = [](char const* side, ZGCP::Stream const& st) {
        std::ostringstream os;
        os << side << (st.active_isSelected() ? " active " + std::to_string(st.get_active().getValue()) : " inactive");
        return os.str();
    };
    if (s.receiver_isSelected())
        return stream("receiver", s.get_receiver());
    if (s.transmitter_isSelected())
        return stream("transmitter", s.get_transmitter());
    if (s.query_isSelected())
        return "query";
    return s.asValueNotation();
}

// Sees every signal the slot table sends (the server shows it to the other services).
class SignalRecorder : public CtrlSrv::Service {
public:
    void OnConnect() override {}
    void OnDisconnect() override {}
    bool OnCommand(ZGCP::Command const&) override { return false; }
    void OnSignal(ZGCP::Signal const& signal) override
    {
        signals.push_back(signal);
        texts.push_back(describe(signal));
    }
    // The texts recorded since the last take.
    std::vector<std::string> take()
    {
        std::vector<std::string> out;
        out.swap(texts);
        signals.clear();
        return out;
    }

    std::vector<ZGCP::Signal> signals;
    std::vector<std::string> texts;
};

using testsupport::BusChannel;

inline ZGCP::CreateParams trunk(unsigned t, unsigned ts) { return testsupport::trunkParams(t, ts); }
inline ZGCP::CreateParams bri(unsigned t, unsigned ch) { return testsupport::briParams(t, ch); }
inline ZGCP::CreateParams map(std::optional<BusChannel> tx, std::optional<BusChannel> rx)
{
    return testsupport::mapParams(tx, rx);
}
inline ZGCP::CreateParams ext(int tx, int rx) { return testsupport::extParams(tx, rx); }
inline ZGCP::CreateParams echo(int bus, int channel) { return testsupport::echoParams(bus, channel); }
inline ZGCP::Command createCmd(ZGCP::CreateParams const& params) { return testsupport::createCommand(params); }
inline ZGCP::Command connectCmd(unsigned target) { return testsupport::connectCommand(target); }
inline ZGCP::Command disconnectCmd() { return testsupport::plainCommand(ZGCP::Command::disconnect::id); }
inline ZGCP::Command destroyCmd() { return testsupport::plainCommand(ZGCP::Command::destroy::id); }
inline ZGCP::Command activateCmd() { return testsupport::plainCommand(ZGCP::Command::activate::id); }
inline ZGCP::Command deactivateCmd() { return testsupport::plainCommand(ZGCP::Command::deactivate::id); }

using Answer = Slots::Answer;
inline Answer ok() { return Answer::ok(); }
inline Answer fail(ZGCP::ErrorCause::NamedNumber cause) { return Answer::fail(cause); }

inline std::ostream& operator<<(std::ostream& os, Answer const& a)
{
    switch (a.kind) {
    case Answer::notTaken: return os << "not taken";
    case Answer::success: return os << "success";
    case Answer::delayed: return os << "delayed";
    case Answer::error: return os << "error " << int(a.cause);
    }
    return os;
}

// The slot table bound to a server of its own with a signal recorder, over the simulated
// board, with the factories of the daemon; every slot goes when the test ends.
struct SlotsTest : ::testing::Test {
    SimEnv& env = SimEnv::get();
    testsupport::CaptureStream err{std::cerr};
    testsupport::CaptureStream log{std::clog};
    CtrlSrv::Server server;
    SignalRecorder signals;
    Slots& table = Slots::instance();

    SlotsTest()
    {
        HwMux::instance();
        MapFactory::instance();
        ExtFactory::instance();
        EchoFactory::instance();
        server.Bind(&table);
        server.Bind(&signals);
    }
    ~SlotsTest() override
    {
        table.OnDisconnect();
        EXPECT_TRUE(table.live().empty());
    }

    Answer run(unsigned number, ZGCP::Command const& command) { return table.Execute(number, command); }
    Answer create(unsigned number, ZGCP::CreateParams const& params) { return run(number, createCmd(params)); }
    Answer connect(unsigned from, unsigned to) { return run(from, connectCmd(to)); }
    Answer disconnect(unsigned number) { return run(number, disconnectCmd()); }
    Answer destroy(unsigned number) { return run(number, destroyCmd()); }
    Answer activate(unsigned number) { return run(number, activateCmd()); }
    Answer deactivate(unsigned number) { return run(number, deactivateCmd()); }
    Slot* at(unsigned number) { return table.GetSlotAt(number); }
    board::sim::HalModel::Output output(int channel) { return env.hal.output(channel); }
};

}  // namespace slotstest
