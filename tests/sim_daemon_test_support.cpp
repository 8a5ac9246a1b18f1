#include "tests/sim_daemon_test_support.h"

#include "base/leading_number.h"

#include <cstdint>
#include <cstdlib>

namespace testsupport {

std::string describe(ZGCP::Message const& m)
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

void SimDaemonTest::SetUp()
{
    ASSERT_TRUE(daemon.start({daemon.portOption()}));
    ASSERT_TRUE(attach());
    board.emplace(daemon.root());
    ASSERT_TRUE(board->connected());
}

void SimDaemonTest::TearDown() { EXPECT_EQ(0, daemon.stop()); }

void SimDaemonTest::restart()
{
    board.reset();
    client.reset();
    EXPECT_EQ(daemon.stop(), 0);
    ASSERT_TRUE(daemon.start({daemon.portOption()}));
    ASSERT_TRUE(attach());
    board.emplace(daemon.root());
}

void SimDaemonTest::takeAuthPort()
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

bool SimDaemonTest::attach()
{
    client.emplace(testsupport::TcpClient::Waiting::Socket);
    client->skipSignal(ZGCP::Signal::trunkStatus::id);
    client->skipSignal(ZGCP::Signal::power::id);
    if (!client->connect(std::uint16_t(daemon.port()), DaemonLauncher::kTimeout))
        return false;
    // A ping round trip: the daemon has taken the connection.
    return pinged();
}

bool SimDaemonTest::pinged()
{
    std::string const text = call(plainCommand(ZGCP::Command::ping::id));
    EXPECT_EQ(text, "seq=" + std::to_string(seq) + " success");
    return text == "seq=" + std::to_string(seq) + " success";
}

void SimDaemonTest::trunkSlot7()
{
    ASSERT_EQ(on(7, create(trunkParams(1, 5))), "success");
    next(2);
}

std::string SimDaemonTest::call(ZGCP::Command const& command, std::optional<unsigned> slot)
{
    EXPECT_TRUE(client->send(testsupport::zgcpCommand(command, ++seq, slot)));
    return next();
}

std::string SimDaemonTest::next()
{
    ZGCP::Message m;
    if (!client->receive(m, ControllerClient::kTimeout))
        return "no message";
    return describe(m);
}

std::vector<std::string> SimDaemonTest::next(int n)
{
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i)
        out.push_back(next());
    return out;
}

std::string SimDaemonTest::on(unsigned number, ZGCP::Command const& command)
{
    return answer(call(command, number), number);
}

std::string SimDaemonTest::answer(std::string const& text, std::optional<unsigned> number) const
{
    std::string const prefix = "seq=" + std::to_string(seq) + (number ? " slot=" + std::to_string(*number) : "") + " ";
    return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text;
}

std::string SimDaemonTest::done(std::optional<unsigned> number, ZGCP::Command const& command)
{
    EXPECT_TRUE(client->send(testsupport::zgcpCommand(command, ++seq, number)));
    ZGCP::Message m;
    while (client->receive(m, ControllerClient::kTimeout))
        if (!m.get_pdu().signal_isSelected())
            return answer(describe(m), number);
    return "no message";
}

void SimDaemonTest::append(Bytes& burst, ZGCP::Command const& command, std::optional<unsigned> slot)
{
    Bytes const frame = tpktFrame(encodeZgcp(zgcpCommand(command, ++seq, slot)));
    burst.insert(burst.end(), frame.begin(), frame.end());
}

std::map<int, std::string> SimDaemonTest::answers(int first, std::function<void(ZGCP::Message const&)> const& signal)
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

std::string SimDaemonTest::signal()
{
    ZGCP::Message m;
    if (!client->receive(m, ControllerClient::kTimeout) || !m.get_pdu().signal_isSelected())
        return "no signal";
    return m.get_pdu().get_signal().asValueNotation();
}

ZGCP::Resources SimDaemonTest::resources()
{
    EXPECT_EQ(done(std::nullopt, plainCommand(ZGCP::Command::query::id)), "success");
    ZGCP::Message m;
    while (client->receive(m, ControllerClient::kTimeout) && m.get_pdu().signal_isSelected())
        if (m.get_pdu().get_signal().query_isSelected())
            return m.get_pdu().get_signal().get_query();
    return ZGCP::Resources();
}

unsigned long long SimDaemonTest::journalNext()
{
    unsigned long long next = 0;
    EXPECT_EQ(leadingNumber(std::string_view(board->command("journal 999999999999 1")).substr(3), next), NumberRead::read);
    return next;
}

std::vector<std::string> SimDaemonTest::journal(unsigned long long from, std::string const& prefix)
{
    std::vector<std::string> out;
    for (unsigned long long const end = journalNext(); from < end;) {
        std::string const page = board->command("journal " + std::to_string(from) + " 1000");
        std::size_t at = page.find(' ', 3);
        if (page.compare(0, 3, "ok ") != 0 || at == std::string::npos)
            break;
        EXPECT_EQ(std::strtoull(page.c_str() + at + 1, nullptr, 10), from) << "journal entries dropped unread";
        if (leadingNumber(std::string_view(page).substr(3, at - 3), from) != NumberRead::read)
            break;
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

std::string SimDaemonTest::output(int channel)
{
    return board->command("device /dev/hal output " + std::to_string(channel));
}

bool SimDaemonTest::logged(std::string const& line) { return daemon.logged(line); }

}  // namespace testsupport
