// An RTP channel on the daemon running on the simulated board: the test's own UDP sockets on
// loopback are its far end, the board socket shows the RTP session, the switch and the
// driver requests.

#include "tests/loopback.h"
#include "tests/pcap_writer.h"
#include "tests/sim_daemon_test_support.h"
#include "tests/tcp_client.h"
#include "tests/tshark.h"

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using testsupport::ControllerClient;
using testsupport::LoopbackUdp;
using testsupport::plainCommand;

// The first channel the simulated RTP driver hands out.
constexpr int kChannel = 1024;

class RtpE2E : public testsupport::SimDaemonTest {
protected:
    std::string ioctl(std::function<void(ZGCP::IoctlParams&)> select)
    {
        ZGCP::IoctlParams p;
        select(p);
        return on(20, testsupport::ioctlCommand(p));
    }
    // The RTP counts of a query: g729, g723, g711, g711mcc, universal.
    std::vector<int> rtpCounts()
    {
        ZGCP::Resources const r = resources();
        return {r.get_rtp_g729().getValue(), r.get_rtp_g723().getValue(), r.get_rtp_g711().getValue(),
                r.get_rtp_g711mcc().getValue(), r.get_universal().getValue()};
    }
};

TEST_F(RtpE2E, ChannelLivesFromSdesToBye)
{
    LoopbackUdp far;
    ASSERT_TRUE(far.bound());
    unsigned const remotePort = far.port() - 1u;
    unsigned const localPort = testsupport::freePort(SOCK_DGRAM) - 1u;

    trunkSlot7();

    ZGCP::CreateRtpParams p = testsupport::rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1", remotePort);
    p.set_codecRTP().set_shost().set_iaddr("127.0.0.1");
    p.set_codecRTP().set_shost().set_port(localPort);
    p.set_codecRTP().set_qos_dscp(TERM::IpQoSDSCP::ef);
    p.set_codecRTP().set_ssrc(0x01020304);
    EXPECT_EQ(on(20, testsupport::createCommand(testsupport::rtpParams(p))), "success");
    std::string const ch = std::to_string(kChannel);
    EXPECT_EQ(next(2), (std::vector<std::string>{"slot=20 transmitter active " + ch, "slot=20 receiver active " + ch}));

    // One SDES from the local RTCP port to the remote one.
    unsigned short from = 0;
    std::string const sdes = far.receive(ControllerClient::kTimeout, &from);
    ASSERT_GE(sdes.size(), 8u);
    EXPECT_EQ(from, localPort + 1);
    std::string const session = board->command("device /dev/rtp session " + ch);
    EXPECT_NE(session.find("dst=127.0.0.1:" + std::to_string(remotePort) + " src=127.0.0.1:" +
                           std::to_string(localPort) + " rx_pt=8 tx_pt=8 "),
              std::string::npos)
        << session;
    EXPECT_NE(session.find(" tos=184 rx=off pd=off"), std::string::npos) << session;

    // Both ways through the switch.
    EXPECT_EQ(on(20, testsupport::connectCommand(7)), "success");
    EXPECT_EQ(on(7, testsupport::connectCommand(20)), "success");
    EXPECT_EQ(output(37).rfind("ok <" + ch + " ", 0), 0u) << output(37);
    EXPECT_EQ(output(kChannel).rfind("ok <37 ", 0), 0u) << output(kChannel);
    // Its input stream is open: the receive direction runs.
    EXPECT_NE(board->command("device /dev/rtp session " + ch).find(" rx=on "), std::string::npos);

    // The channel's DTMF detector and the driver's PD event reach the controller.
    EXPECT_EQ(ioctl([](auto& q) { q.select_dtmf_enable(true); }), "success");
    EXPECT_EQ(board->command("device /dev/dtmf dtmf " + ch + " 5"), "ok sent=1");
    std::string const tone = signal();
    EXPECT_NE(tone.find("event dtmf : 5\n"), std::string::npos) << tone;
    EXPECT_EQ(board->command("device /dev/rtp event " + ch + " 1 3 250"), "ok sent=1");
    EXPECT_EQ(signal(), "rtp : pd : {\n  value 3,\n  timeout 250\n}");

    // A new transmit payload type: a new session, whose events still arrive.
    EXPECT_EQ(ioctl([](auto& q) { q.select_encoder_mode(ZGCP::CodecMode::ulaw); }), "success");
    std::string const dump = board->command("dump /dev/rtp");
    EXPECT_EQ(dump.find(';'), std::string::npos) << "the old session is closed: " << dump;
    EXPECT_NE(dump.find("rx_pt=8 tx_pt=0 "), std::string::npos) << dump;
    std::string const before = session.substr(3, session.find(" dst=") - 3);  // "1024: open=N"
    EXPECT_NE(dump.rfind(before + " ", 0), 0u) << "the session is a new open: " << dump;
    EXPECT_EQ(board->command("device /dev/rtp event " + ch + " 1 4 250"), "ok sent=1");
    EXPECT_EQ(signal(), "rtp : pd : {\n  value 4,\n  timeout 250\n}");

    // The voice driver's codec channels; without it, those the factory keeps.
    EXPECT_EQ(rtpCounts(), std::vector<int>({16, 16, 64, 32, 8}));
    EXPECT_EQ(board->command("remove /dev/voice"), "ok");
    EXPECT_EQ(rtpCounts(), std::vector<int>({0, 0, 0, 32, 8}));
    EXPECT_TRUE(logged("rtp[0,0,0,8]: device \"/dev/voice\" open fail: No such file or directory\n"));

    // Destroyed: its receive direction stopped as it is disconnected, then the driver's stop
    // requests in order, the switch output off, one BYE.
    unsigned long long const mark = journalNext();
    EXPECT_EQ(on(20, plainCommand(ZGCP::Command::destroy::id)), "success");
    std::vector<std::string> rtpRequests;
    for (std::string const& e : journal(mark))
        if (e.rfind("ioctl /dev/rtp ", 0) == 0)
            rtpRequests.push_back(e.substr(15));
    EXPECT_EQ(rtpRequests, (std::vector<std::string>{"stop-rx -> 0", "stop-first -> 0", "stop -> 0", "stop-last -> 0",
                                                      "disable-event 1 -> 0"}));
    EXPECT_EQ(output(kChannel).rfind("ok off ", 0), 0u) << output(kChannel);
    std::string const bye = far.receive(ControllerClient::kTimeout, &from);
    EXPECT_EQ(bye.size(), 20u);
    EXPECT_EQ(from, localPort + 1);

    if (testsupport::findTool("tshark").empty())
        GTEST_SKIP() << "tshark is not installed (scripts/setup installs it): RTCP not decoded independently";
    testsupport::PcapWriter capture(testsupport::PcapWriter::kRawIp);
    capture.addUdp(std::uint16_t(localPort + 1), far.port(), sdes);
    capture.addUdp(std::uint16_t(localPort + 1), far.port(), bye);
    std::vector<std::vector<std::string>> rows;
    std::string error;
    ASSERT_TRUE(testsupport::tsharkFields(capture.bytes(),
                                          {"rtcp.pt", "rtcp.length", "rtcp.ssrc.identifier", "rtcp.sdes.type",
                                           "rtcp.sdes.text", "rtcp.length_check"},
                                          rows, error, {"-d", "udp.port==" + std::to_string(far.port()) + ",rtcp"}))
        << error;
    // The SDES items CNAME, EMAIL and PHONE with the list's end; lengths in words minus one.
    std::string const items = "media-gateway,admin@media-gateway.invalid,+0 000 000 0000";
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{
                        {"202", std::to_string(sdes.size() / 4 - 1), "0x01020304", "1,3,4,0", items, "1"},
                        {"203", "4", "0x01020304", "", "session end", "1"}}));
}

// Without an ssrc from the controller the SSRC is drawn at random: another start of the
// daemon draws another one.
TEST_F(RtpE2E, ASsrcOfItsOwnDiffersFromStartToStart)
{
    auto drawn = [&] {
        EXPECT_EQ(on(20, testsupport::createCommand(testsupport::rtpParams(
                             testsupport::rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1", 40000)))),
                  "success");
        std::string const session = board->command("device /dev/rtp session " + std::to_string(kChannel));
        std::size_t const at = session.find(" ssrc=");
        return at == std::string::npos ? session : session.substr(at, session.find(' ', at + 1) - at);
    };
    std::string const first = drawn();
    EXPECT_EQ(first.rfind(" ssrc=", 0), 0u) << first;
    restart();
    EXPECT_NE(drawn(), first);
}

}  // namespace
