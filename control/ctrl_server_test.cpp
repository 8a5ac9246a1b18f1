#include "control/ctrl_server.h"

#include "control/acceptor_net.h"
#include "runtime/multiplexer.h"
#include "tests/capture.h"
#include "tests/controller_client.h"
#include "tests/loop_pump.h"

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::CaptureStream;
using testsupport::ControllerClient;
using testsupport::pingCommand;
using testsupport::zgcpCommand;
using testsupport::zgcpMessage;

typedef std::vector<std::string> Journal;

// A command handler whose reactions the test sets; it writes what it hears to a journal
// shared with the other handlers.
class Handler : public CtrlSrv::Service {
public:
    Handler(std::string name, Journal& journal) : name_(std::move(name)), journal_(journal) {}

    void OnConnect() override { note("connect"); }
    void OnDisconnect() override { note("disconnect"); }
    bool OnCommand(ZGCP::Command const& command) override
    {
        note("command " + std::to_string(command.currentSelection()) + " slot " + std::to_string(GetSlot()));
        return onCommand ? onCommand(command) : false;
    }
    void OnSignal(ZGCP::Signal const& signal) override
    {
        note(signal.currentSelection() == ZGCP::Signal::abort::id
                 ? "abort " + std::to_string(signal.get_abort().getValue())
                 : "signal " + std::to_string(signal.currentSelection()));
        if (onSignal)
            onSignal(signal);
    }

    std::function<bool(ZGCP::Command const&)> onCommand;
    std::function<void(ZGCP::Signal const&)> onSignal;

private:
    void note(std::string const& what) { journal_.push_back(name_ + ": " + what); }

    std::string name_;
    Journal& journal_;
};

ZGCP::Signal abortSignal(int value) { return ZGCP::Signal(ZGCP::Signal::abort::id, value); }

ZGCP::Command command(ZGCP::Command::destroy::Id) { return testsupport::destroyCommand(); }

// A server with handlers a, b and c bound in that order, listening on a loopback port, and
// a controller connected to it.
class CtrlServer : public ::testing::Test {
protected:
    CtrlServer() : a("a", journal), b("b", journal), c("c", journal)
    {
        server.Bind(&a);
        server.Bind(&b);
        server.Bind(&c);
        port = testsupport::freePort();
        EXPECT_TRUE(server.Activate(new Control::AcceptorNet(port, false)));
    }

    void connect()
    {
        ASSERT_TRUE(client.connect(port));
        ASSERT_TRUE(testsupport::runUntil([&] { return server.link()->IsConnected(); }, 5000));
        journal.clear();
    }

    void SetUp() override { connect(); }

    std::string send(ZGCP::Message const& message)
    {
        EXPECT_TRUE(client.send(message));
        return client.receiveText();
    }

    // Runs the loop long enough for a stray message to arrive; whatever came is kept.
    bool quiet()
    {
        testsupport::runUntil([] { return false; }, 50);
        client.tcp().receive(client.pending() + 1, 1);
        return client.pending() == 0;
    }

    std::string peer() const { return server.link()->GetAddr(); }

    Journal journal;
    Handler a, b, c;
    CtrlSrv::Server server;
    std::uint16_t port = 0;
    ControllerClient client;
};

TEST_F(CtrlServer, ResponseRepeatsTheCommandsSequenceAndSlotNumbers)
{
    // Each answer carries only what its own command carried, whatever the one before held.
    struct {
        std::optional<int> seq;
        std::optional<unsigned> slot;
        std::optional<ZGCP::ErrorCause::NamedNumber> error;
        char const* answer;
    } const cases[] = {
        {7, 5, std::nullopt, "seq=7 slot=5 success"},
        {std::nullopt, std::nullopt, std::nullopt, "success"},
        {-3, std::nullopt, ZGCP::ErrorCause::busError, "seq=-3 error=10"},
        {std::nullopt, 1023, ZGCP::ErrorCause::slotIdBusy, "slot=1023 error=11"},
        {std::nullopt, 0, std::nullopt, "slot=0 success"},
        {4, std::nullopt, ZGCP::ErrorCause::invalidParams, "seq=4 error=0"},
    };
    for (auto const& c : cases) {
        a.onCommand = [&](ZGCP::Command const&) {
            if (c.error)
                a.Error(*c.error);
            else
                a.Success();
            return true;
        };
        EXPECT_EQ(c.answer, send(zgcpCommand(pingCommand(), c.seq, c.slot)));
    }
}

TEST_F(CtrlServer, CommandGoesToTheHandlersInBindOrderUntilOneTakesIt)
{
    b.onCommand = [&](ZGCP::Command const&) {
        b.Error(ZGCP::ErrorCause::slotNotExists);
        return true;
    };
    EXPECT_EQ("seq=2 slot=9 error=3", send(zgcpCommand(command(ZGCP::Command::destroy::id), 2, 9)));
    EXPECT_EQ((Journal{"a: command 5 slot 9", "b: command 5 slot 9"}), journal);
    // Outside a command no slot is held.
    EXPECT_EQ(-1, server.GetSlot());
    EXPECT_FALSE(a.IsSlotPresent());

    // Nobody takes it.
    b.onCommand = nullptr;
    journal.clear();
    EXPECT_EQ("seq=4 slot=5 error=4", send(zgcpCommand(command(ZGCP::Command::destroy::id), 4, 5)));
    EXPECT_EQ((Journal{"a: command 5 slot 5", "b: command 5 slot 5", "c: command 5 slot 5"}), journal);
}

TEST_F(CtrlServer, SlotAboveTheRangeIsInvalidAndReachesNoHandler)
{
    a.onCommand = [&](ZGCP::Command const&) {
        a.Success();
        return true;
    };
    // The encoder refuses such numbers; the decoder lets them through.
    EXPECT_TRUE(client.sendFrame(testsupport::hexBytes("C0 01 01 04 00 0A")));
    EXPECT_EQ("seq=1 error=2", client.receiveText());
    EXPECT_TRUE(client.sendFrame(testsupport::hexBytes("40 FF FF 18")));
    EXPECT_EQ("error=2", client.receiveText());
    EXPECT_TRUE(journal.empty());
}

TEST_F(CtrlServer, ResponsesAndSignalsFromTheControllerAreUnexpected)
{
    ZGCP::PDU response(ZGCP::PDU::response::id, ZGCP::Response(ZGCP::Response::success::id, ASN1::Null()));
    EXPECT_EQ("seq=8 error=4", send(zgcpMessage(response, 8, 5)));
    ZGCP::PDU signal(ZGCP::PDU::signal::id, abortSignal(1));
    EXPECT_EQ("error=4", send(zgcpMessage(signal, std::nullopt, 5)));
    EXPECT_TRUE(journal.empty());
}

TEST_F(CtrlServer, TakenButUnansweredCommandGetsInternal)
{
    b.onCommand = [](ZGCP::Command const&) { return true; };
    CaptureStream err(std::cerr);
    EXPECT_EQ("seq=5 slot=2 error=5", send(zgcpCommand(pingCommand(), 5, 2)));
    EXPECT_EQ("ctrl [" + peer() + "]: software error: server do NOT send ack!!!\n", err.text());
}

TEST_F(CtrlServer, EveryCommandGetsOneResponse)
{
    CaptureStream err(std::cerr);
    // Two successes.
    a.onCommand = [&](ZGCP::Command const&) {
        a.Success();
        a.Success();
        return true;
    };
    EXPECT_EQ("seq=1 success", send(zgcpCommand(pingCommand(), 1)));
    // An error after a success.
    a.onCommand = [&](ZGCP::Command const&) {
        a.Success();
        a.Error(ZGCP::ErrorCause::internal);
        return true;
    };
    EXPECT_EQ("seq=2 success", send(zgcpCommand(pingCommand(), 2)));
    // A success after an error, and a second error.
    a.onCommand = [&](ZGCP::Command const&) {
        a.Error(ZGCP::ErrorCause::unsupported);
        a.Success();
        a.Error(ZGCP::ErrorCause::internal);
        return true;
    };
    EXPECT_EQ("seq=3 error=6", send(zgcpCommand(pingCommand(), 3)));
    // An error after a delayed answer.
    a.onCommand = [&](ZGCP::Command const&) {
        a.delayResponse();
        a.Error(ZGCP::ErrorCause::internal);
        return true;
    };
    EXPECT_TRUE(client.send(zgcpCommand(pingCommand(), 4, 6)));
    EXPECT_TRUE(quiet());
    // A handler that answers but does not take the command: nobody else answers.
    a.onCommand = [&](ZGCP::Command const&) {
        a.Success();
        return false;
    };
    EXPECT_EQ("seq=5 success", send(zgcpCommand(pingCommand(), 5)));
    EXPECT_TRUE(quiet());

    std::string const h = "ctrl [" + peer() + "]: software error: ";
    EXPECT_EQ(h + "success after the command's answer dropped\n" +  //
                  h + "error after the command's answer dropped\n" +    //
                  h + "success after the command's answer dropped\n" +  //
                  h + "error after the command's answer dropped\n" +    //
                  h + "error after the command's answer dropped\n" +    //
                  h + "error after the command's answer dropped\n",
              err.text());
    // The delayed command is still owed its answer.
    a.delayedSuccess(6, 4);
    EXPECT_EQ("seq=4 slot=6 success", client.receiveText());
}

TEST_F(CtrlServer, DelayedAnswerCarriesTheNumbersOfTheCommandItAnswers)
{
    int kept = -1;
    a.onCommand = [&](ZGCP::Command const& command) {
        if (command.currentSelection() == ZGCP::Command::destroy::id) {
            kept = a.delayResponse();
            return true;
        }
        a.Success();
        return true;
    };
    client.send(zgcpCommand(command(ZGCP::Command::destroy::id), 11, 7));
    EXPECT_TRUE(quiet());
    EXPECT_EQ(11, kept);
    EXPECT_EQ(1u, server.delayed_count());

    // Answered while another command is handled: still that command's numbers.
    b.onCommand = [&](ZGCP::Command const&) {
        b.delayedSuccess(7, unsigned(kept));
        b.Success();
        return true;
    };
    a.onCommand = nullptr;
    EXPECT_TRUE(client.send(zgcpCommand(pingCommand(), 12, 3)));
    EXPECT_EQ("seq=11 slot=7 success", client.receiveText());
    EXPECT_EQ("seq=12 slot=3 success", client.receiveText());
    EXPECT_EQ(0u, server.delayed_count());
}

TEST_F(CtrlServer, DelayedAnswerOfACommandWithoutSequenceNumberCarriesNone)
{
    int kept = -1;
    a.onCommand = [&](ZGCP::Command const& command) {
        if (command.currentSelection() == ZGCP::Command::destroy::id)
            kept = a.delayResponse();
        else
            a.Success();
        return true;
    };
    // The server has seen seq 30 before the destroy without one.
    EXPECT_EQ("seq=30 success", send(zgcpCommand(pingCommand(), 30)));
    client.send(zgcpCommand(command(ZGCP::Command::destroy::id), std::nullopt, 7));
    EXPECT_TRUE(quiet());
    a.delayedSuccess(7, unsigned(kept));
    EXPECT_EQ("slot=7 success", client.receiveText());
}

TEST_F(CtrlServer, DelayedAnswerIsSentOnceAndOnlyToTheControllerThatAsked)
{
    a.onCommand = [&](ZGCP::Command const&) {
        a.delayResponse();
        return true;
    };
    client.send(zgcpCommand(command(ZGCP::Command::destroy::id), 1, 7));
    client.send(zgcpCommand(command(ZGCP::Command::destroy::id), 2, 8));
    EXPECT_TRUE(quiet());
    EXPECT_EQ(2u, server.delayed_count());

    CaptureStream log(std::clog);
    a.delayedSuccess(8, 2);
    EXPECT_EQ("seq=2 slot=8 success", client.receiveText());
    // Owed once; a number nobody waits for gets nothing.
    a.delayedSuccess(8, 2);
    a.delayedSuccess(9, 2);
    EXPECT_TRUE(quiet());
    std::string const h = "ctrl [" + peer() + "]: ";
    EXPECT_EQ(h + "no delayed command of slot 8 waits for an answer: success dropped\n" + h +
                  "no delayed command of slot 9 waits for an answer: success dropped\n",
              log.text());

    // The controller goes: what it was owed goes with it.
    client.close();
    ASSERT_TRUE(testsupport::runUntil([&] { return server.delayed_count() == 0; }, 5000));
    connect();
    a.delayedSuccess(7, 1);
    EXPECT_TRUE(quiet());
}

TEST_F(CtrlServer, AnswersOutsideACommandGoNowhere)
{
    CaptureStream err(std::cerr);
    a.Success();
    a.Error(ZGCP::ErrorCause::internal);
    a.delayResponse();
    EXPECT_EQ(0u, server.delayed_count());
    EXPECT_TRUE(quiet());
    std::string const h = "ctrl [" + peer() + "]: software error: ";
    EXPECT_EQ(h + "success outside a command dropped\n" + h + "error outside a command dropped\n" + h +
                  "delayed answer outside a command dropped\n",
              err.text());
}

TEST_F(CtrlServer, SignalIsShownToTheOtherHandlersBeforeItIsSent)
{
    // b answers abort 1 with abort 2 of its own: it goes out first, and a sees it.
    b.onSignal = [&](ZGCP::Signal const& s) {
        if (s.get_abort().getValue() == 1)
            b.SendSignal(abortSignal(2));
    };
    a.SendSignal(abortSignal(1));
    EXPECT_EQ((Journal{"b: abort 1", "a: abort 2", "c: abort 2", "c: abort 1"}), journal);
    ZGCP::Message sent;
    ASSERT_TRUE(client.receive(sent));
    EXPECT_EQ(2, sent.get_pdu().get_signal().get_abort().getValue());
    ASSERT_TRUE(client.receive(sent));
    EXPECT_EQ("signal=7", testsupport::describeZgcp(sent));
    EXPECT_EQ(1, sent.get_pdu().get_signal().get_abort().getValue());
}

TEST_F(CtrlServer, SignalCarriesTheSlotOfTheCommandBeingHandled)
{
    a.onCommand = [&](ZGCP::Command const&) {
        a.Success();
        a.SendSignal(abortSignal(3));
        a.SendSignal(12, abortSignal(4));
        return true;
    };
    EXPECT_TRUE(client.send(zgcpCommand(pingCommand(), 1, 5)));
    EXPECT_EQ("seq=1 slot=5 success", client.receiveText());
    EXPECT_EQ("slot=5 signal=7", client.receiveText());
    EXPECT_EQ("slot=12 signal=7", client.receiveText());
    a.SendSignal(abortSignal(5));
    EXPECT_EQ("signal=7", client.receiveText());
}

TEST_F(CtrlServer, UndecodableMessageIsLoggedAndNotAnswered)
{
    a.onCommand = [&](ZGCP::Command const&) {
        a.Success();
        return true;
    };
    CaptureStream err(std::cerr);
    EXPECT_TRUE(client.sendFrame({0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(client.sendFrame({}));
    EXPECT_EQ("seq=1 success", send(zgcpCommand(pingCommand(), 1)));
    std::string const h = "ctrl [" + peer() + "]: receive fail: decode error!\n";
    EXPECT_EQ(h + " msg: FF FF FF \n" + h + " msg: \n", err.text());
    EXPECT_EQ((Journal{"a: command 12 slot -1"}), journal);
}

TEST_F(CtrlServer, ConnectAndDisconnectReachEveryHandlerInBindOrder)
{
    client.close();
    ASSERT_TRUE(testsupport::runUntil([&] { return journal.size() == 3; }, 5000));
    EXPECT_EQ((Journal{"a: disconnect", "b: disconnect", "c: disconnect"}), journal);
    journal.clear();

    CaptureStream log(std::clog);
    ASSERT_TRUE(client.connect(port));
    ASSERT_TRUE(testsupport::runUntil([&] { return journal.size() == 3; }, 5000));
    EXPECT_EQ((Journal{"a: connect", "b: connect", "c: connect"}), journal);
    EXPECT_EQ("ctrl [" + peer() + "]: controller connect.\n", log.text());
}

TEST_F(CtrlServer, DeactivateEndsTheConnectionAndTellsTheHandlers)
{
    bool connected = false;
    EXPECT_TRUE(a.CheckServerConnection(connected));
    EXPECT_TRUE(connected);
    server.Deactivate();
    EXPECT_EQ(nullptr, server.link());
    EXPECT_EQ((Journal{"a: disconnect", "b: disconnect", "c: disconnect"}), journal);
    EXPECT_TRUE(client.waitClosed());
    EXPECT_FALSE(a.CheckServerConnection(connected));

    // No connection held: nothing can be sent.
    CaptureStream err(std::cerr);
    a.SendSignal(abortSignal(1));
    EXPECT_EQ("ctrl [null]: send fail: Service not attached!\n", err.text());
    std::ostringstream header;
    server.PutHeader(header);
    EXPECT_EQ("ctrl [null]: ", header.str());
}

TEST_F(CtrlServer, MessageThatCannotBeEncodedIsNotSent)
{
    CaptureStream err(std::cerr);
    a.SendSignal(5000, abortSignal(1));
    EXPECT_EQ(0u, err.text().find("ctrl [" + peer() + "]: send fail: encode error! "));
    EXPECT_NE(std::string::npos, err.text().find("5000"));
    a.SendSignal(4, abortSignal(1));
    EXPECT_EQ("slot=4 signal=7", client.receiveText());
}

TEST_F(CtrlServer, HeaderShowsTheConnectionState)
{
    std::ostringstream connected;
    server.PutHeader(connected);
    EXPECT_EQ("ctrl [" + peer() + "]: ", connected.str());

    client.close();
    ASSERT_TRUE(testsupport::runUntil([&] { return !server.link()->IsConnected() && journal.size() == 3; }, 5000));
    bool isConnected = true;
    EXPECT_TRUE(a.CheckServerConnection(isConnected));
    EXPECT_FALSE(isConnected);
    std::ostringstream waiting;
    server.PutHeader(waiting);
    EXPECT_EQ("ctrl [not connected]: ", waiting.str());
    // Dropped by the connection while nobody is connected.
    a.SendSignal(abortSignal(1));
}

TEST(CtrlServerService, WithoutAServerNothingHappens)
{
    Journal journal;
    Handler alone("alone", journal);
    CaptureStream err(std::cerr);
    alone.Success();
    alone.Error(ZGCP::ErrorCause::internal);
    alone.SendSignal(abortSignal(1));
    alone.SendSignal(3, abortSignal(1));
    EXPECT_EQ(-1, alone.GetSlot());
    EXPECT_FALSE(alone.IsSlotPresent());
    EXPECT_EQ(-1, alone.delayResponse());
    alone.delayedSuccess(3, 4);
    bool connected = true;
    EXPECT_FALSE(alone.CheckServerConnection(connected));
    std::string line = "CtrlSrv::Service error! service not connected to server.\n";
    std::string expected;
    for (int i = 0; i < 8; ++i)
        expected += line;
    EXPECT_EQ(expected, err.text());
    EXPECT_TRUE(journal.empty());
}

TEST(CtrlServerService, HandlerLeavesItsServerWhenEitherGoes)
{
    Journal journal;
    auto server = std::make_unique<CtrlSrv::Server>();
    Handler kept("kept", journal);
    {
        Handler gone("gone", journal);
        server->Bind(&gone);
        server->Bind(&kept);
        server->Bind(&kept);
    }
    // Only the handler still alive hears it, once.
    server->OnDisconnect();
    EXPECT_EQ((Journal{"kept: disconnect"}), journal);

    // Bound to another server, it leaves the first.
    CtrlSrv::Server other;
    other.Bind(&kept);
    journal.clear();
    server->OnDisconnect();
    EXPECT_TRUE(journal.empty());
    server.reset();
    other.OnConnect();
    EXPECT_EQ((Journal{"kept: connect"}), journal);

    CaptureStream err(std::cerr);
    CtrlSrv::Server().Bind(&kept);
    kept.Success();
    EXPECT_EQ("CtrlSrv::Service error! service not connected to server.\n", err.text());
}

}  // namespace
