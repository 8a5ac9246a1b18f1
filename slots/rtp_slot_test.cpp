#include "slots/rtp_slot.h"

#include "slots/rtp_factory.h"
#include "tests/loopback.h"
#include "tests/loop_pump.h"
#include "tests/slots_test_support.h"
#include "tests/tcp_client.h"

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cstring>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

using slotstest::Answer;
using slotstest::fail;
using slotstest::ok;
using testsupport::LoopbackUdp;
using Payload = TERM::Payload;
using Cause = ZGCP::ErrorCause;

constexpr char const* kRtp = "/dev/rtp";
constexpr int kWait = 5000;

struct RtpTest : slotstest::SlotsTest {
    RtpTest() { RtpFactory::instance(); }
    ~RtpTest() override
    {
        env.sim.clearFailures();
        // The echo canceller outlives the slot on its timeslot: off again on the channels of
        // the test, so that a later slot on one of them starts as a first one does.
        for (int ch : channels)
            Hardware::TonecReceiverService::instance().echoCancel(unsigned(ch), false);
    }

    // An RTP channel to 127.0.0.1 at the port whose next one the far end listens on, from a
    // local port whose next one is free.
    ZGCP::CreateRtpParams params(Payload::NamedNumber payload = Payload::ptG711_Alaw)
    {
        ZGCP::CreateRtpParams p = testsupport::rtpCreate(payload, "127.0.0.1", far.port() - 1u);
        p.set_codecRTP().set_ssrc(7);
        p.set_codecRTP().set_shost().set_iaddr("127.0.0.1");
        p.set_codecRTP().set_shost().set_port(testsupport::freePort(SOCK_DGRAM) - 1u);
        return p;
    }
    Answer create(ZGCP::CreateRtpParams const& p)
    {
        Answer const answer = SlotsTest::create(20, testsupport::rtpParams(p));
        if (slot())
            channels.insert(channel());
        return answer;
    }
    Answer ioctl(ZGCP::IoctlParams const& p) { return run(20, testsupport::ioctlCommand(p)); }
    RtpSlot* slot() { return dynamic_cast<RtpSlot*>(at(20)); }
    int channel() { return slot()->GetTransmitChannel(); }
    // The channels the test's slots had.
    std::set<int> channels;
    // The model's session on the channel ("1024: open=3 dst=... rx_pt=8 tx_pt=8 ...").
    std::string session(int ch) { return env.rtp.command({"session", std::to_string(ch)}); }
    std::size_t sessions()
    {
        env.sim.service();
        return env.rtp.sessions().size();
    }
    // The RTCP packet type of the next datagram at the far end; 0 when none comes.
    int rtcp(unsigned short* from = nullptr)
    {
        std::string const d = far.receive(kWait, from);
        return d.size() >= 8 ? static_cast<unsigned char>(d[1]) : 0;
    }

    LoopbackUdp far;
};

// The source address and RTCP port with shost are the end-to-end test's; here without shost the
// RTCP socket takes the far end's port on another loopback address (both sockets may bind it).
TEST_F(RtpTest, CreateParametersBecomeTheSessionRecordAndTheRtcpPorts)
{
    struct Case {
        char const* name;
        std::function<void(TERM::RtpParams&)> edit;
        Payload::NamedNumber tx, rx;  // txPayload and rxPayload
        char const* session;          // the model's session from rx_pt to tos
        bool echoCanceller;
    };
    Case const cases[] = {
        {"A-law, mu-law transmitted", [](auto&) {}, Payload::ptG711_Ulaw, Payload::ptG711_Alaw,
         "rx_pt=8 tx_pt=0 factor=0 vad=0 crate=0 ssrc=7 ttl=0 tos=-1", false},
        {"G.729 with A-law transmitted, G.723 received", [](auto& r) { r.set_payload(Payload::ptG729); },
         Payload::ptG711_Alaw, Payload::ptG723, "rx_pt=18 tx_pt=8 factor=0 vad=0 crate=0 ssrc=7 ttl=0 tos=-1", false},
        {"G.729 with G.723 transmitted, mu-law received", [](auto& r) { r.set_payload(Payload::ptG729); },
         Payload::ptG723, Payload::ptG711_Ulaw, "rx_pt=0 tx_pt=18 factor=0 vad=0 crate=0 ssrc=7 ttl=0 tos=-1", false},
        {"every option",
         [](auto& r) {
             r.set_pfactor(3);
             r.set_crate(5);
             r.set_vad(true);
             r.set_ttl(16);
             r.set_qos_dscp(TERM::IpQoSDSCP::af41);
             r.set_echo().set_suppressor(true);
             r.set_echo().set_canceller(true);
         },
         Payload::ptG711_Alaw, Payload::ptG711_Alaw, "rx_pt=8 tx_pt=8 factor=3 vad=1 crate=1 ssrc=7 ttl=16 tos=136",
         true},
    };
    for (Case const& c : cases) {
        far = LoopbackUdp("127.0.0.2", 0, true);
        ZGCP::CreateRtpParams p = params();
        p.set_codecRTP().omit_shost();
        p.set_codecRTP().set_dhost().set_iaddr("127.0.0.2");
        p.set_txPayload(c.tx);
        p.set_rxPayload(c.rx);
        c.edit(p.set_codecRTP());
        std::string const dport = std::to_string(far.port() - 1u);
        ASSERT_EQ(create(p), ok()) << c.name << err.text();
        unsigned short from = 0;
        EXPECT_EQ(rtcp(&from), 202) << c.name;
        EXPECT_EQ(from, far.port()) << c.name;
        std::string const expected = "dst=127.0.0.2:" + dport + " src=0.0.0.0:" + dport + " " + c.session;
        EXPECT_NE(session(channel()).find(expected), std::string::npos) << c.name << "\n" << expected;
        auto const* dtmf = env.dtmf.channel(std::uint32_t(channel()));
        EXPECT_EQ(dtmf && dtmf->lms, c.echoCanceller) << c.name;
        EXPECT_EQ(destroy(20), ok());
    }
}

TEST_F(RtpTest, CreatesThatFailLeaveNothingOpen)
{
    LoopbackUdp taken;
    struct Case {
        char const* name;
        std::function<void(ZGCP::CreateRtpParams&)> edit;
        std::function<void()> arrange;
        Answer answer;
        std::string line;  // in the log or error stream; "" for none at all
    };
    auto none = [] {};
    auto failRequest = [this](unsigned long request) {
        return [this, request] { env.sim.failRequest(kRtp, request, EIO); };
    };
    Case const cases[] = {
        // Declined without a word: the radio factories take these.
        {"radio request", [](auto& p) { p.set_codecRTP().set_radio(); }, none, fail(Cause::insufficientResources), ""},
        {"payload without a type", [](auto& p) { p.set_codecRTP().set_payload(Payload::ptT38_UDP_TL); }, none,
         fail(Cause::insufficientResources), "rtp do not created: payload ptT38-UDP-TLnot found\n"},
        {"dhost address", [](auto& p) { p.set_codecRTP().set_dhost().set_iaddr("gateway"); }, none,
         fail(Cause::invalidParams), "rtp do not created: invalid dhost address \"gateway\"\n"},
        {"dhost port without an RTCP port", [](auto& p) { p.set_codecRTP().set_dhost().set_port(65535); }, none,
         fail(Cause::invalidParams), "rtp do not created: invalid dhost port 65535\n"},
        {"pfactor", [](auto& p) { p.set_codecRTP().set_pfactor(70000); }, none, fail(Cause::invalidParams),
         "rtp do not created: invalid pfactor 70000\n"},
        {"RTCP port taken", [&](auto& p) { p.set_codecRTP().set_shost().set_port(taken.port() - 1u); }, none,
         fail(Cause::insufficientResources),
         "rtp do not created: can not bind socket [errno=Address already in use, port=" +
             std::to_string(taken.port()) + "]\n"},
        {"device missing", [](auto&) {}, [this] { env.sim.failOpen(kRtp, ENOENT); },
         fail(Cause::insufficientResources), "device \"/dev/rtp\" open fail: No such file or directory\n"},
        {"session refused", [](auto&) {}, failRequest(rtp::kBeginSession), fail(Cause::insufficientResources),
         "begin session fail !!! \n"},
        {"channel refused", [](auto&) {}, failRequest(rtp::kAddChannel), fail(Cause::insufficientResources),
         "add channel fail !!!\n"},
    };
    for (Case const& c : cases) {
        testsupport::CaptureStream e{std::cerr};
        testsupport::CaptureStream l{std::clog};
        ZGCP::CreateRtpParams p = params();
        c.edit(p);
        c.arrange();
        EXPECT_EQ(create(p), c.answer) << c.name;
        std::string const lines = e.text() + l.text();
        if (c.line.empty()) {
            EXPECT_EQ(lines.find("rtp"), std::string::npos) << c.name << "\n" << lines;
        } else {
            EXPECT_NE(lines.find("]: " + c.line), std::string::npos) << c.name << "\n" << lines;
        }
        EXPECT_EQ(sessions(), 0u) << c.name;
        EXPECT_EQ(far.receive(0), "") << c.name;
        env.sim.clearFailures();
    }
}

// The requests the voice-processing receivers serve are theirs to test, and the end-to-end test
// shows one of them reaching the slot's channel; here the session's own requests.
TEST_F(RtpTest, CodecModesRestartTheSessionOnlyForANewPayloadTypeAndPdEventsAreTheDrivers)
{
    using P = ZGCP::IoctlParams;
    auto encoder = [](ZGCP::CodecMode::NamedNumber m) { return P(P::encoder_mode::id, m); };
    auto decoder = [](ZGCP::CodecMode::NamedNumber m) { return P(P::decoder_mode::id, m); };
    P pdEnable, pdDisable, other;
    pdEnable.select_pd_enable().set_timeout(100);
    pdDisable.select_pd_disable();
    other.select_dtmf_disable();
    struct Step {
        P request;
        unsigned long failing;  // the request the device refuses; 0 for none
        Answer answer;
        char const* line;                   // ends a line in the log or error stream
        std::vector<char const*> requests;  // on the device, each from its name on
        char const* session;                // the model's payload types on the channel; "" for none
    };
    Step const steps[] = {
        {pdEnable, 0, ok(), "RTP SET EVENT PD timeout=100\n", {"enable-event 1 0 100 0 0 100 0 0 0 -> 0"},
         "rx_pt=18 tx_pt=18"},
        {pdEnable, rtp::kEnableEvent, fail(Cause::unsupported),
         "RTP SET EVENT PD fail: errno=\"Input/output error\"\n", {"enable-event"}, "rx_pt=18 tx_pt=18"},
        {pdDisable, 0, ok(), "RTP RESET EVENT PD\n", {"disable-event 1 -> 0"}, "rx_pt=18 tx_pt=18"},
        {other, 0, fail(Cause::unsupported), "", {}, "rx_pt=18 tx_pt=18"},
        // lbrc is the receive payload type the slot was created with: 18, as sent.
        {encoder(ZGCP::CodecMode::lbrc), 0, ok(), " - Nothing to do\n", {}, "rx_pt=18 tx_pt=18"},
        {decoder(ZGCP::CodecMode::ulaw), 0, ok(), " - OK\n", {"begin ", "add-channel "}, "rx_pt=0 tx_pt=18"},
        {decoder(ZGCP::CodecMode::lbrc), 0, ok(), " - OK\n", {"begin ", "add-channel "}, "rx_pt=18 tx_pt=18"},
        {encoder(ZGCP::CodecMode::alaw), rtp::kBeginSession, fail(Cause::unsupported),
         "fail to restart RTP session!\n", {"begin "}, ""},
    };
    ASSERT_EQ(create(params(Payload::ptG729)), ok());
    ASSERT_EQ(rtcp(), 202);
    int const ch = channel();
    for (Step const& s : steps) {
        testsupport::CaptureStream e{std::cerr};
        testsupport::CaptureStream l{std::clog};
        if (s.failing)
            env.sim.failRequest(kRtp, s.failing, EIO);
        auto const from = env.mark();
        EXPECT_EQ(ioctl(s.request), s.answer) << s.request;
        std::vector<std::string> const done = env.requests(from, kRtp);
        ASSERT_EQ(done.size(), s.requests.size()) << s.request;
        for (std::size_t i = 0; i < done.size(); ++i)
            EXPECT_EQ(done[i].rfind(s.requests[i], 0), 0u) << done[i];
        EXPECT_NE((l.text() + e.text()).find(s.line), std::string::npos) << l.text() << e.text();
        EXPECT_NE(session(ch).find(s.session), std::string::npos) << session(ch);
        // The old session is closed.
        EXPECT_EQ(sessions(), *s.session ? 1u : 0u);
    }
    // The goodbye goes out all the same.
    EXPECT_EQ(destroy(20), ok());
    EXPECT_EQ(rtcp(), 203);
}

// Without the squelch dependence the end-to-end test shows the receive direction started.
TEST_F(RtpTest, InputStreamWaitsForTheSquelchWhenItDependsOnIt)
{
    ASSERT_EQ(create(params()), ok());
    slot()->setTransmissionDependOnSQU(true);
    auto const from = env.mark();
    EXPECT_TRUE(slot()->IOnInputStream());
    slot()->IOnInputRelease();
    EXPECT_EQ(env.requests(from, kRtp), std::vector<std::string>{"stop-rx -> 0"});
}

TEST_F(RtpTest, DriverEventsAreReadInBurstsUntilTheDeviceRunsDry)
{
    ASSERT_EQ(create(params()), ok());
    int const ch = channel();
    board::sim::OpenFile* open = nullptr;
    for (board::sim::OpenFile* f : env.rtp.opens())
        if (static_cast<board::sim::RtpModel::Session const&>(*f->state).channel == ch)
            open = f;
    ASSERT_NE(open, nullptr);
    signals.take();
    std::string const head = "rtp[" + std::to_string(ch) + "]: ";

    // Three records at once: each is logged, the PD events are reported, the other type is not.
    for (rtp_event e : {rtp_event{1, 5, 100, {}}, rtp_event{2, 0, 0, {}}, rtp_event{1, 6, 200, {}}})
        ASSERT_TRUE(env.rtp.inject(ch, e));
    testsupport::settle();
    EXPECT_EQ(slotstest::linesOf(log.text(), head + "rtp event:  type="),
              head + "rtp event:  type=1\n" + head + "rtp event:  type=2\n" + head + "rtp event:  type=1\n");
    auto pd = [](int value, int timeout) {
        return "rtp : pd : {\n  value " + std::to_string(value) + ",\n  timeout " + std::to_string(timeout) + "\n}";
    };
    EXPECT_EQ(signals.take(), (std::vector<std::string>{pd(5, 100), pd(6, 200)}));

    // A short record, and a long one (a record with more behind it), each end their burst
    // and are not taken for a record; what follows comes on the next one.
    std::string const size = std::to_string(sizeof(rtp_event));
    struct Case {
        std::size_t size;
        std::string line;
    } const cases[] = {
        {10, head + "rtp event: short record of 10 bytes of " + size + ", dropped\n"},
        {sizeof(rtp_event) + 4, head + "rtp event: long record of more than " + size + " bytes, dropped\n"},
    };
    for (Case const& c : cases) {
        std::size_t const said = err.count(c.line);
        std::vector<char> bytes(c.size, 0);
        rtp_event const pd9{1, 9, 900, {}};
        std::memcpy(bytes.data(), &pd9, std::min(sizeof pd9, bytes.size()));
        ASSERT_TRUE(open->send(bytes.data(), bytes.size()));
        ASSERT_TRUE(env.rtp.inject(ch, rtp_event{1, 7, 300, {}}));
        testsupport::settle();
        EXPECT_EQ(err.count(c.line), said + 1) << err.text();
        EXPECT_EQ(signals.take(), std::vector<std::string>{pd(7, 300)});
    }

    // The driver's end goes: said once, and the slot stops reading.
    ::shutdown(open->modelFd(), SHUT_RDWR);
    testsupport::settle();
    testsupport::settle();
    EXPECT_EQ(slotstest::linesOf(err.text(), head + "fail to read"), head + "fail to read from rtp: end of file\n");
}

TEST(RtpStrError, CodesHaveTheirTextsAndOthersAreUnknown)
{
    struct Case {
        int code;
        char const* text;
    };
    Case const cases[] = {{0x3000122, "Don't send this packet now"},
                          {0x300010d, "Unknown RTP Error 50331917"},
                          {-1, "Unknown RTP Error -1"}};
    for (Case const& c : cases)
        EXPECT_STREQ(RTPStrError(c.code), c.text);
}

}  // namespace
