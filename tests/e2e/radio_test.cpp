// Radio channels on the daemon running on the simulated board: the board socket plays the
// radio signalling of the IP side through the extension driver and shows what the daemon
// sends, the controller connection commands the radio and receives its reports.

#include "tests/loopback.h"
#include "tests/pcap_writer.h"
#include "tests/radio_commands.h"
#include "tests/sim_daemon_test_support.h"
#include "tests/tshark.h"

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::ControllerClient;
using testsupport::DaemonLauncher;
using testsupport::LoopbackUdp;
using Lines = std::vector<std::string>;

// The first channel the simulated RTP driver hands out.
constexpr int kChannel = 1024;

// Octets as hexadecimal text, in the processor's own order for the numbers.
std::string hex(void const* data, std::size_t size)
{
    static char const digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        auto const octet = static_cast<std::uint8_t const*>(data)[i];
        out += {digits[octet >> 4], digits[octet & 15]};
    }
    return out;
}
std::string h16(std::uint16_t v) { return hex(&v, sizeof v); }
std::string h32(std::uint32_t v) { return hex(&v, sizeof v); }

class RadioE2E : public testsupport::SimDaemonTest {
protected:
    // The sender and the command of the next rtpExt signal: "10.0.0.1 gw-set-ptt".
    std::string report()
    {
        std::string const s = signal();
        auto after = [&](std::string const& key) {
            std::size_t at = s.find(key);
            return at == std::string::npos ? std::string("?") : s.substr(at + key.size(), s.find_first_of("\", ", at + key.size()) - at - key.size());
        };
        return s.rfind("rtpExt", 0) == 0 ? after("session-addr \"") + " " + after("params ") : s;
    }

    std::string create(unsigned number, ZGCP::CreateRtpParams const& p)
    {
        std::string const answer = on(number, testsupport::createCommand(testsupport::rtpParams(p)));
        std::string const ch = std::to_string(kChannel);
        EXPECT_EQ(next(2), Lines({"slot=" + std::to_string(number) + " transmitter active " + ch,
                                  "slot=" + std::to_string(number) + " receiver active " + ch}));
        return answer;
    }
    std::string ioctl(unsigned number, ZGCP::IoctlParams const& p) { return on(number, testsupport::ioctlCommand(p)); }

    // The radio's extension session: the newest open of the extension device.
    std::string extOpen()
    {
        std::string const dump = board->command("dump /dev/rtp_ext");
        std::size_t const last = dump.rfind("; ");
        std::string const entry = dump.substr(last == std::string::npos ? 3 : last + 2);
        return entry.substr(0, entry.find(':'));
    }
    std::string ext(std::string const& command) { return board->command("device /dev/rtp_ext " + command); }
    std::string rtpSession() { return board->command("device /dev/rtp session " + std::to_string(kChannel)); }
    // The payloads the daemon wrote, oldest first, waiting until there are n.
    Lines written(std::string const& open, std::size_t n)
    {
        Lines out;
        DaemonLauncher::waitFor(
            [&] {
                std::istringstream in(ext("written " + open).substr(2));
                for (std::string p; in >> p;)
                    out.push_back(p);
                return out.size() >= n;
            },
            5000);
        return out;
    }

    // The record of a journaled request ("ioctl /dev/rtp begin 1 2 -> 0") as octets.
    static std::string record(std::string const& entry, std::string const& request)
    {
        std::istringstream in(entry.substr(entry.find(request) + request.size()));
        std::string out;
        for (std::string word; in >> word && word != "->";)
            out += h32(std::uint32_t(std::stoll(word)));
        return out;
    }
};

TEST_F(RadioE2E, ZarnRadioReportsCommandsAndResendsItsState)
{
    LoopbackUdp far;
    ASSERT_TRUE(far.bound());
    unsigned const localPort = testsupport::freePort(SOCK_DGRAM) - 1u;
    unsigned long long const mark = journalNext();
    ZGCP::CreateRtpParams p =
        testsupport::radioCreate(testsupport::radioStatus(testsupport::zarnStatus()), "127.0.0.1", far.port() - 1);
    p.set_codecRTP().set_shost(testsupport::hostAddress("127.0.0.1", int(localPort)));
    p.set_codecRTP().set_ssrc(0x0a0b0c0d);
    // The radio request's voice settings; a negative delay is none.
    TERM::RtpRadioRequest& radio = p.set_codecRTP().set_radio();
    radio.set_bss_enable(true);
    radio.set_ng_enable(true);
    radio.set_rx_delay(20);
    radio.set_tx_delay(-5);
    ASSERT_EQ(create(20, p), "success");
    EXPECT_FALSE(far.receive(ControllerClient::kTimeout).empty()) << "the SDES";

    // The session and channel records as the RTP driver got them, octet by octet.
    Lines const begin = journal(mark, "ioctl /dev/rtp begin "), add = journal(mark, "ioctl /dev/rtp add-channel ");
    ASSERT_EQ(begin.size(), 1u);
    ASSERT_EQ(add.size(), 1u);
    EXPECT_EQ(record(begin[0], " begin "), "7f000001" + h16(std::uint16_t(far.port() - 1)) + "0000" + "7f000001" +
                                               h16(std::uint16_t(localPort)) + h16(8) + h16(8) + h16(2) + "00" + "00" +
                                               "0000" + h32(0x0a0b0c0d) + std::string(16, '0') + h32(0) + h32(~0u));
    EXPECT_EQ(record(add[0], " add-channel "), "ffffffffffffffffffffffff" + h32(1));
    std::string const dsp = board->command("device /dev/dsp channel " + std::to_string(kChannel));
    EXPECT_NE(dsp.find("on=bss,ng "), std::string::npos) << dsp;
    EXPECT_NE(dsp.find(" delays=20/0"), std::string::npos) << dsp;
    // The extension session is attached to the slot's RTP session, for this process.
    std::string const open = extOpen();
    std::string const session = ext("session " + open);
    EXPECT_EQ(session.rfind("ok " + open + ": etype=0x1337 params=0/0/0/0 attach=", 0), 0u) << session;
    EXPECT_NE(session.find("/" + std::to_string(daemon.pid()) + "@" + std::to_string(kChannel) + " filter=-"),
              std::string::npos)
        << session;

    // Every second the radio's four groups, in this order: flags, channel, remote, standby.
    Lines const groups{"81500000", "845000000000000543178000" "02020000", "8650000000000000", "8750000000030100"};
    EXPECT_EQ(written(open, 4), groups);
    EXPECT_EQ(written(open, 4), groups);

    // Both senders are heard while the radio does not transmit.
    EXPECT_EQ(ext("send " + open + " 10.0.0.1 11 03340000"), "ok sent=1");
    EXPECT_EQ(report(), "10.0.0.1 gw-set-ptt");
    EXPECT_EQ(ext("send " + open + " 10.0.0.2 12 02f000000000000743180000"), "ok sent=1");
    EXPECT_EQ(report(), "10.0.0.2 gw-set-freq");

    // The controller makes 10.0.0.1 the owner: WM_TRANS goes out at once, and the driver
    // takes only the owner's packets from then on.
    EXPECT_EQ(ioctl(20, testsupport::rtpExtIoctl(testsupport::zarnTrans(true, "10.0.0.1", 11))), "success");
    Lines const sent = written(open, 1);
    EXPECT_NE(std::find(sent.begin(), sent.end(), "825400000100000a0000000b"), sent.end());
    EXPECT_NE(ext("session " + open).find(" filter=10.0.0.1 "), std::string::npos);
    EXPECT_EQ(ext("send " + open + " 10.0.0.2 12 03340000"), "ok sent=0");
    EXPECT_EQ(ext("send " + open + " 10.0.0.1 11 02f000000000000743180000"), "ok sent=1");
    EXPECT_EQ(report(), "10.0.0.1 gw-set-freq");
}

// A packet carrying a value that the controller's ZARN types cannot carry is reported all
// the same: the value goes as the type's neutral one where it has one, else as the nearest
// one it carries, and the daemon says so once a field.
TEST_F(RadioE2E, ZarnValuesTheControllerCannotCarryAreReportedMappedAndLoggedOnce)
{
    LoopbackUdp far;
    ASSERT_TRUE(far.bound());
    ZGCP::CreateRtpParams p =
        testsupport::radioCreate(testsupport::radioStatus(testsupport::zarnStatus()), "127.0.0.1", far.port() - 1);
    p.set_codecRTP().set_shost(testsupport::hostAddress("127.0.0.1", int(testsupport::freePort(SOCK_DGRAM)) - 1));
    ASSERT_EQ(create(20, p), "success");
    std::string const open = extOpen();
    struct Case {
        char const* payload;
        char const* command;  // as the report carries it, on one line
        char const* said;     // by the first value of its field that is met
    } const cases[] = {
        {"0bf00000c8000000", "gw-set-squelshe : { squelshe no-config }", "squelshe=200 cannot go to the controller, sent as 0"},
        {"0cf0000009000000", "gw-set-rte : { rte no-config }", "rte=9 cannot go to the controller, sent as 0"},
        {"0df0000005000000", "gw-set-standby : { state standby }",
         "standby-state-channel=5 cannot go to the controller, sent as 1"},
        {"84f00000000000054317800063ff0000",
         "wm-chan : { freq { channel 5, frequency \"151.500000\" }, squelshe no-config, rte no-config }", nullptr},
        {"87f0000007090200", "wm-standby : { state-channel standby, group 9, state-receiver standby }",
         "standby-state-receiver=2 cannot go to the controller, sent as 1"},
        {"0bf00000c8000000", "gw-set-squelshe : { squelshe no-config }", nullptr},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.payload);
        EXPECT_EQ(ext("send " + open + " 10.0.0.1 11 " + c.payload), "ok sent=1");
        std::istringstream words(signal());
        std::string report;
        for (std::string word; words >> word;)
            report += (report.empty() ? "" : " ") + word;
        EXPECT_EQ(report.rfind("rtpExt", 0), 0u) << report;
        EXPECT_NE(report.find(std::string("params ") + c.command), std::string::npos) << report;
    }
    EXPECT_EQ(on(20, testsupport::plainCommand(ZGCP::Command::ping::id)), "success") << "nothing more came";
    for (Case const& c : cases)
        EXPECT_EQ(c.said ? daemon.said(c.said) : 1u, 1u) << c.said << ": said once";
    EXPECT_EQ(daemon.said("encode error"), 0u);
}

TEST_F(RadioE2E, Ed137RadioFollowsItsSquelchAndIsSupervised)
{
    LoopbackUdp far;
    ASSERT_TRUE(far.bound());
    unsigned const localPort = testsupport::freePort(SOCK_DGRAM) - 1u;
    std::string const ch = std::to_string(kChannel);

    // Transmission follows the squelch; a keep-alive time-out of 50 s keeps it from aborting.
    TERM::ED137RadioStatus status = testsupport::ed137Status(false);
    TERM::ED137RadioResponse& response = status.set_radio_response(testsupport::ed137Response());
    response.set_transmission_depend_on_squ(true);
    response.set_r2s_keepalive_period(1000);
    response.set_r2s_keepalive_multiplier(50);
    ZGCP::CreateRtpParams p = testsupport::radioCreate(testsupport::radioStatus(status), "127.0.0.1", far.port() - 1);
    p.set_codecRTP().set_shost(testsupport::hostAddress("127.0.0.1", int(localPort)));
    p.set_codecRTP().set_ssrc(0x01020304);
    ASSERT_EQ(create(30, p), "success");
    std::string const sdes = far.receive(ControllerClient::kTimeout);
    std::string open = extOpen();
    EXPECT_NE(ext("session " + open).find(": etype=0x167 params=1/123/50/1 attach="), std::string::npos);
    EXPECT_NE(rtpSession().find(" rx=off "), std::string::npos) << "no transmission before the squelch opens";

    // The radio's squelch from the controller switches the RTP transmission, once a change.
    unsigned long long mark = journalNext();
    for (bool squ : {true, true, false})
        EXPECT_EQ(ioctl(30, testsupport::rtpExtIoctl(testsupport::ed137Command(false, testsupport::ed137Header(0, squ)))),
                  "success");
    EXPECT_EQ(ioctl(30, testsupport::rtpExtIoctl(testsupport::zarnTrans(true, "10.0.0.1", 11))), "error=6")
        << "a ZARN command is unsupported";
    EXPECT_EQ(journal(mark, "ioctl /dev/rtp start-rx"), Lines({"ioctl /dev/rtp start-rx -> 0"}));
    EXPECT_EQ(journal(mark, "ioctl /dev/rtp stop-rx"), Lines({"ioctl /dev/rtp stop-rx -> 0"}));
    // The create-time status and the two changes went out as rx headers.
    EXPECT_EQ(written(open, 3), Lines({"00000000", "10000000", "00000000"}));

    // PTT from the IP side is reported; the same state again within the interval is not.
    EXPECT_EQ(ext("send " + open + " 10.0.0.1 11 2000"), "ok sent=1");
    EXPECT_EQ(report(), "10.0.0.1 tx");
    EXPECT_EQ(ext("send " + open + " 10.0.0.1 11 2000"), "ok sent=1");
    EXPECT_TRUE(DaemonLauncher::waitFor([&] { return ext("session " + open).find(" queued=0 ") != std::string::npos; }))
        << "read in a drain of its own";
    EXPECT_EQ(ext("send " + open + " 10.0.0.1 11 4000"), "ok sent=1");
    std::string const coupling = signal();
    EXPECT_NE(coupling.find("ptt coupling-ptt-on"), std::string::npos) << coupling;
    // Every value of the header's fields reaches the controller: a PTT type beyond the named
    // ones as an extension of its extensible type.
    EXPECT_EQ(ext("send " + open + " 10.0.0.1 11 ffc0"), "ok sent=1");
    std::string const reserved = signal();
    EXPECT_NE(reserved.find("ptt-id 63"), std::string::npos) << reserved;

    // A codec change stops the extension session and attaches a new one to the new RTP
    // session of the same channel.
    mark = journalNext();
    ZGCP::IoctlParams encoder;
    encoder.select_encoder_mode(ZGCP::CodecMode::ulaw);
    EXPECT_EQ(ioctl(30, encoder), "success");
    Lines order;
    for (std::string const& e : journal(mark))
        if (e.rfind("ioctl /dev/rtp_ext detach", 0) == 0 || e.rfind("ioctl /dev/rtp begin", 0) == 0 ||
            e.rfind("ioctl /dev/rtp_ext attach", 0) == 0)
            order.push_back(e.substr(0, e.find(' ', 20)));
    EXPECT_EQ(order, Lines({"ioctl /dev/rtp_ext detach", "ioctl /dev/rtp begin", "ioctl /dev/rtp_ext attach"}));
    open = extOpen();
    EXPECT_NE(ext("session " + open).find("/-1@" + ch + " "), std::string::npos) << ext("session " + open);

    // Destroyed: the extension session ends before the RTP channel; one BYE.
    mark = journalNext();
    EXPECT_EQ(on(30, testsupport::plainCommand(ZGCP::Command::destroy::id)), "success");
    Lines ends;
    for (std::string const& e : journal(mark))
        if (e.rfind("ioctl /dev/rtp_ext ", 0) == 0 || e.rfind("ioctl /dev/rtp stop", 0) == 0)
            ends.push_back(e);
    EXPECT_EQ(ends, Lines({"ioctl /dev/rtp_ext detach -> 0", "ioctl /dev/rtp stop-first -> 0", "ioctl /dev/rtp stop -> 0",
                           "ioctl /dev/rtp stop-last -> 0"}));
    std::string const bye = far.receive(ControllerClient::kTimeout);

    // The defaults: a 200 ms keep-alive period ten times, so 2 s of silence aborts the radio
    // at every tick of its 1 s interval.
    p = testsupport::radioCreate(testsupport::radioStatus(testsupport::ed137Status(false)), "127.0.0.1", far.port() - 1);
    p.set_codecRTP().set_shost(testsupport::hostAddress("127.0.0.1", int(localPort)));
    ASSERT_EQ(create(32, p), "success");
    EXPECT_NE(ext("session " + extOpen()).find(": etype=0x167 params=1/123/10/1 attach="), std::string::npos);
    EXPECT_EQ(next(2), Lines({"slot=32 abort 151", "slot=32 abort 151"}));
    EXPECT_EQ(on(32, testsupport::plainCommand(ZGCP::Command::destroy::id)), "success");

    if (testsupport::findTool("tshark").empty())
        GTEST_SKIP() << "tshark is not installed (scripts/setup installs it): RTCP not decoded independently";
    testsupport::PcapWriter capture(testsupport::PcapWriter::kRawIp);
    capture.addUdp(std::uint16_t(localPort + 1), far.port(), sdes);
    capture.addUdp(std::uint16_t(localPort + 1), far.port(), bye);
    std::vector<std::vector<std::string>> rows;
    std::string error;
    ASSERT_TRUE(testsupport::tsharkFields(capture.bytes(), {"rtcp.pt", "rtcp.ssrc.identifier", "rtcp.length_check"},
                                          rows, error, {"-d", "udp.port==" + std::to_string(far.port()) + ",rtcp"}))
        << error;
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"202", "0x01020304", "1"}, {"203", "0x01020304", "1"}}));
}

}  // namespace
