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
inline std::string describe(ZGCP::Message const& m)
{
    std::string text = describeZgcp(m);
    if (!m.get_pdu().signal_isSelected())
        return text;
    ZGCP::Signal const& s = m.get_pdu().get_signal();
    std::string const slot = m.slot_isPresent() ? "slot=" + std::to_string(m.get_slot().getValue()) + " " : "";
    auto stream = [&](char const* side, ZGCP::Stream const& st) {
        return slot + side + (st.active_isSelected() ? " active " + std::to_string(st.get_active().getValue()) : " inactive");
    };
    if (s.receiver_isSelected())
        return stream("receiver", s.get_receiver());
    if (s.transmitter_isSelected())
        return stream("transmitter", s.get_transmitter());
    if (s.abort_isSelected())
        return slot + "abort " + std::to_string(s.get_abort().getValue());
    if (s.ioctl_isSelected())
        return slot + "ioctl " + s.get_ioctl().asValueNotation();
    if (s.modemProceeding_isSelected())
        return slot + "modemProceeding " + s.get_modemProceeding().asValueNotation();
    if (s.activated_isSelected())
        return slot + "activated";
    if (s.deactivated_isSelected())
        return slot + "deactivated";
    if (s.userData_isSelected()) {
        static char const digits[] = "0123456789abcdef";
        std::string hex;
        for (char c : s.get_userData())
            hex += std::string{digits[std::uint8_t(c) >> 4], digits[c & 0xF]};
        return slot + "userData " + hex;
    }
    return text;
}

class SimDaemonTest : public ::testing::Test {
protected:
    SimDaemonTest() : daemon(GW_SERVER_SIM_BINARY) {}
    ~SimDaemonTest() override = default;

    void SetUp() override
    {
        ASSERT_TRUE(daemon.start({daemon.portOption()}));
        ASSERT_TRUE(attach());
        board.emplace(daemon.root());
        ASSERT_TRUE(board->connected());
    }

    void TearDown() override { EXPECT_EQ(0, daemon.stop()); }

    // The daemon stopped and started again, with a new controller connection and board console.
    void restart()
    {
        board.reset();
        client.reset();
        EXPECT_EQ(daemon.stop(), 0);
        ASSERT_TRUE(daemon.start({daemon.portOption()}));
        ASSERT_TRUE(attach());
        board.emplace(daemon.root());
    }

    // Restarts the daemon until it holds the fixed port of the authentication listener, which
    // a daemon of another test may hold for a while; the tests that need the port hold its
    // lock (tests/e2e/CMakeLists.txt).
    void takeAuthPort()
    {
        ASSERT_TRUE(DaemonLauncher::waitFor(
            [&] {
                if (daemon.err().find("fail to bind auth socket: ") == std::string::npos)
                    return true;
                restart();
                return false;
            },
            120000));
    }

    // A new controller connection (the daemon has seen it when this returns true).
    bool attach()
    {
        client.emplace(testsupport::TcpClient::Waiting::Socket);
        client->skipSignal(ZGCP::Signal::trunkStatus::id);
        client->skipSignal(ZGCP::Signal::power::id);
        if (!client->connect(std::uint16_t(daemon.port()), DaemonLauncher::kTimeout))
            return false;
        // A ping round trip: the daemon has taken the connection.
        return pinged();
    }

    // A ping whose answer is the next message.
    bool pinged()
    {
        std::string const text = call(plainCommand(ZGCP::Command::ping::id));
        EXPECT_EQ(text, "seq=" + std::to_string(seq) + " success");
        return text == "seq=" + std::to_string(seq) + " success";
    }

    // The commands the tests send most.
    static ZGCP::Command create(ZGCP::CreateParams const& params) { return createCommand(params); }
    static ZGCP::Command connect(unsigned target) { return connectCommand(target); }
    // Slot 7, time slot 5 of trunk 1, for the slots of a test to join (its stream signals
    // taken).
    void trunkSlot7()
    {
        ASSERT_EQ(on(7, create(trunkParams(1, 5))), "success");
        next(2);
    }

    // Sends the command (with the next sequence number, and the slot number when given)
    // and returns the next message that arrives, in short.
    std::string call(ZGCP::Command const& command, std::optional<unsigned> slot = std::nullopt)
    {
        EXPECT_TRUE(client->send(testsupport::zgcpCommand(command, ++seq, slot)));
        return next();
    }

    // The next message that arrives, in short (describe()); a fixture may say more.
    virtual std::string next()
    {
        ZGCP::Message m;
        if (!client->receive(m, ControllerClient::kTimeout))
            return "no message";
        return describe(m);
    }

    std::vector<std::string> next(int n)
    {
        std::vector<std::string> out;
        for (int i = 0; i < n; ++i)
            out.push_back(next());
        return out;
    }

    // The answer to the command for the slot number: "success" or "error=N" when it carries
    // the command's sequence and slot numbers, the whole message in short otherwise.
    std::string on(unsigned number, ZGCP::Command const& command)
    {
        return answer(call(command, number), number);
    }
    std::string answer(std::string const& text, std::optional<unsigned> number) const
    {
        std::string const prefix =
            "seq=" + std::to_string(seq) + (number ? " slot=" + std::to_string(*number) : "") + " ";
        return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text;
    }
    // The same, the signals that come before the answer passed over; for a command without a
    // slot when there is no number.
    std::string done(std::optional<unsigned> number, ZGCP::Command const& command)
    {
        EXPECT_TRUE(client->send(testsupport::zgcpCommand(command, ++seq, number)));
        ZGCP::Message m;
        while (client->receive(m, ControllerClient::kTimeout))
            if (!m.get_pdu().signal_isSelected())
                return answer(describe(m), number);
        return "no message";
    }

    // Appends the command, with the next sequence number (and the slot number when given), to a
    // burst of commands sent in one write.
    void append(Bytes& burst, ZGCP::Command const& command, std::optional<unsigned> slot = std::nullopt)
    {
        Bytes const frame = tpktFrame(encodeZgcp(zgcpCommand(command, ++seq, slot)));
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    // The answers to the commands numbered from first to the last sent, in short (describe())
    // by number, each of which must come once; the signals that come before the last go to
    // the callback.
    std::map<int, std::string> answers(int first, std::function<void(ZGCP::Message const&)> const& signal = {})
    {
        std::map<int, std::string> out;
        ZGCP::Message m;
        while (int(out.size()) <= seq - first && client->receive(m, ControllerClient::kTimeout)) {
            if (!m.get_pdu().signal_isSelected()) {
                EXPECT_TRUE(m.seq_isPresent() && out.emplace(m.get_seq().getValue(), describe(m)).second) << describe(m);
            } else if (signal) {
                signal(m);
            }
        }
        EXPECT_EQ(int(out.size()), seq - first + 1) << "answers missing";
        return out;
    }

    // The next message, which must be a signal: its value notation ("no signal" otherwise).
    std::string signal()
    {
        ZGCP::Message m;
        if (!client->receive(m, ControllerClient::kTimeout) || !m.get_pdu().signal_isSelected())
            return "no signal";
        return m.get_pdu().get_signal().asValueNotation();
    }

    // The resources a slot-less query reports, the other signals before its answer and its
    // report passed over (empty ones when no report comes).
    ZGCP::Resources resources()
    {
        EXPECT_EQ(done(std::nullopt, plainCommand(ZGCP::Command::query::id)), "success");
        ZGCP::Message m;
        while (client->receive(m, ControllerClient::kTimeout) && m.get_pdu().signal_isSelected())
            if (m.get_pdu().get_signal().query_isSelected())
                return m.get_pdu().get_signal().get_query();
        return ZGCP::Resources();
    }

    // The number the board's journal gives its next entry.
    unsigned long long journalNext() { return std::stoull(board->command("journal 999999999999 1").substr(3)); }
    // The journal's entries from the one numbered from up to what it holds now (the switch adds
    // entries on every loop pass), page by page, that begin with the prefix, without numbers:
    // "ioctl /dev/rtp stop -> 0". Entries the journal dropped before they were read fail the
    // test.
    std::vector<std::string> journal(unsigned long long from, std::string const& prefix = "")
    {
        std::vector<std::string> out;
        for (unsigned long long const end = journalNext(); from < end;) {
            std::string const page = board->command("journal " + std::to_string(from) + " 1000");
            std::size_t at = page.find(' ', 3);
            if (page.compare(0, 3, "ok ") != 0 || at == std::string::npos)
                break;
            EXPECT_EQ(std::strtoull(page.c_str() + at + 1, nullptr, 10), from) << "journal entries dropped unread";
            from = std::stoull(page.substr(3, at - 3));
            while (at++ < page.size()) {
                std::size_t const end = std::min(page.find("; ", at), page.size());
                std::string const text = page.substr(at, end - at).substr(page.find(' ', at) + 1 - at);
                if (text.rfind(prefix, 0) == 0)
                    out.push_back(text);
                at = end + 1;
            }
        }
        return out;
    }

    // The state of a switch output as the board socket reports it ("ok =0xd5 disables=2").
    std::string output(int channel) { return board->command("device /dev/hal output " + std::to_string(channel)); }
    bool logged(std::string const& line) { return daemon.logged(line); }

    DaemonLauncher daemon;
    std::optional<ControllerClient> client;
    std::optional<BoardClient> board;
    int seq = 0;
};

}  // namespace testsupport
