#include "tests/slots_test_support.h"

namespace slotstest {

std::string linesOf(std::string const& text, std::string const& prefix)
{
    std::istringstream in(text);
    std::string out;
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0)
            out += line + '\n';
    return out;
}

std::string describe(ZGCP::Signal const& s)
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

void SignalRecorder::OnConnect() {}

void SignalRecorder::OnDisconnect() {}

bool SignalRecorder::OnCommand(ZGCP::Command const&) { return false; }

void SignalRecorder::OnSignal(ZGCP::Signal const& signal)
{
    signals.push_back(signal);
    texts.push_back(describe(signal));
}

std::vector<std::string> SignalRecorder::take()
{
    std::vector<std::string> out;
    out.swap(texts);
    signals.clear();
    return out;
}

ZGCP::CreateParams trunk(unsigned t, unsigned ts) { return testsupport::trunkParams(t, ts); }
ZGCP::CreateParams bri(unsigned t, unsigned ch) { return testsupport::briParams(t, ch); }
ZGCP::CreateParams map(std::optional<BusChannel> tx, std::optional<BusChannel> rx)
{
    return testsupport::mapParams(tx, rx);
}
ZGCP::CreateParams ext(int tx, int rx) { return testsupport::extParams(tx, rx); }
ZGCP::CreateParams echo(int bus, int channel) { return testsupport::echoParams(bus, channel); }
ZGCP::Command createCmd(ZGCP::CreateParams const& params) { return testsupport::createCommand(params); }
ZGCP::Command connectCmd(unsigned target) { return testsupport::connectCommand(target); }
ZGCP::Command disconnectCmd() { return testsupport::plainCommand(ZGCP::Command::disconnect::id); }
ZGCP::Command destroyCmd() { return testsupport::plainCommand(ZGCP::Command::destroy::id); }
ZGCP::Command activateCmd() { return testsupport::plainCommand(ZGCP::Command::activate::id); }
ZGCP::Command deactivateCmd() { return testsupport::plainCommand(ZGCP::Command::deactivate::id); }

Answer ok() { return Answer::ok(); }
Answer fail(ZGCP::ErrorCause::NamedNumber cause) { return Answer::fail(cause); }

std::ostream& operator<<(std::ostream& os, Answer const& a)
{
    switch (a.kind) {
    case Answer::notTaken: return os << "not taken";
    case Answer::success: return os << "success";
    case Answer::delayed: return os << "delayed";
    case Answer::error: return os << "error " << int(a.cause);
    }
    return os;
}

SlotsTest::SlotsTest()
{
    HwMux::instance();
    MapFactory::instance();
    ExtFactory::instance();
    EchoFactory::instance();
    server.Bind(&table);
    server.Bind(&signals);
}

SlotsTest::~SlotsTest()
{
    table.OnDisconnect();
    EXPECT_TRUE(table.live().empty());
}

Answer SlotsTest::run(unsigned number, ZGCP::Command const& command) { return table.Execute(number, command); }
Answer SlotsTest::create(unsigned number, ZGCP::CreateParams const& params) { return run(number, createCmd(params)); }
Answer SlotsTest::connect(unsigned from, unsigned to) { return run(from, connectCmd(to)); }
Answer SlotsTest::disconnect(unsigned number) { return run(number, disconnectCmd()); }
Answer SlotsTest::destroy(unsigned number) { return run(number, destroyCmd()); }
Answer SlotsTest::activate(unsigned number) { return run(number, activateCmd()); }
Answer SlotsTest::deactivate(unsigned number) { return run(number, deactivateCmd()); }
Slot* SlotsTest::at(unsigned number) { return table.GetSlotAt(number); }
board::sim::HalModel::Output SlotsTest::output(int channel) { return env.hal.output(channel); }

}  // namespace slotstest
