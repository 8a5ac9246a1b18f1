#include "radio/rtp_ext_slot.h"

#include "board/sim/rtp_ext_model.h"
#include "radio/rtp_ext_factory.h"
#include "tests/loopback.h"
#include "tests/radio_commands.h"
#include "tests/slots_test_support.h"
#include "tests/tcp_client.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using slotstest::fail;
using slotstest::ok;
using testsupport::LoopbackUdp;
using Cause = ZGCP::ErrorCause;
using namespace testsupport;

struct RadioSlotTest : slotstest::SlotsTest {
    RadioSlotTest()
    {
        RtpFactory::instance();
        RtpZARNFactory::instance();
        RtpED137Factory::instance();
    }
    ~RadioSlotTest() override { env.sim.clearFailures(); }

    // A radio channel to the far end, from a free local port.
    ZGCP::CreateRtpParams params(TERM::RadioStatus const& status)
    {
        ZGCP::CreateRtpParams p = radioCreate(status, "127.0.0.1", far.port() - 1);
        p.set_codecRTP().set_shost(hostAddress("127.0.0.1", testsupport::freePort(SOCK_DGRAM) - 1));
        return p;
    }
    slotstest::Answer create(ZGCP::CreateRtpParams const& p) { return SlotsTest::create(20, rtpParams(p)); }
    RtpExtSlot* slot() { return dynamic_cast<RtpExtSlot*>(at(20)); }
    // The newest extension session as the model shows it, without its open number.
    std::string extension()
    {
        env.sim.service();
        std::string const dump = ext->dump();
        std::size_t const last = dump.rfind("; ");
        std::string const entry = dump.substr(last == std::string::npos ? 0 : last + 2);
        return entry.substr(entry.find(": ") + 2);
    }

    board::sim::RtpExtModel* ext = &env.rtpExt;
    LoopbackUdp far;
};

TEST_F(RadioSlotTest, EachCreateGetsItsSlotKindExtensionSessionAndTimer)
{
    std::string const own = std::to_string(::getpid());
    auto response = [](std::function<void(TERM::ED137RadioResponse&)> const& edit) {
        TERM::ED137RadioStatus s = ed137Status(false);
        edit(s.set_radio_response(ed137Response()));
        return radioStatus(s);
    };
    struct Case {
        char const* name;
        TERM::RadioStatus status;
        std::function<void(TERM::RtpParams&)> edit;
        char const* kind;
        std::string extension;  // the end of the session's dump, from the init words
        std::uint32_t interval;  // 0: no timer
    };
    Case const cases[] = {
        {"ZARN, both", radioStatus(zarnStatus()), [](auto& r) { r.set_rtp_e2m().set_mode().select_both_rtp_and_rtp_ext(); },
         "rtp ext ZARN (GW)", "params=0/0/0/0 attach=@/" + own + "@{ch}", 1000},
        {"ZARN, only RTP",
         radioStatus(zarnStatus()),
         [](auto& r) {
             r.set_rtp_e2m().set_slot(1);
             r.set_rtp_e2m().set_channel(2);
             TERM::RtpExtDescription& d = r.set_rtp_e2m().set_mode().select_only_rtp();
             d.set_fd(17);
             d.set_pid(300);
         },
         "rtp ext ZARN (GW)", "", 0},
        {"ED-137, packet factor 0", radioStatus(ed137Status(false)), [](auto& r) { r.set_pfactor(0); },
         "rtp ext ED137 (GW)", "params=1/123/10/1 attach=@/-1@{ch}", 1000},
        {"ED-137, packet factor 3", radioStatus(ed137Status(false)), [](auto& r) { r.set_pfactor(3); },
         "rtp ext ED137 (GW)", "params=1/123/6/1 attach=@/-1@{ch}", 1000},
        {"ED-137, signalling time 3", response([](auto& r) { r.set_sigtime(3); }), [](auto&) {}, "rtp ext ED137 (GW)",
         "params=1/123/30/3 attach=@/-1@{ch}", 1000},
        // Out of the controller's range: the supervision is held at its shortest.
        {"ED-137, period 0", response([](auto& r) { r.set_r2s_keepalive_period(0); }), [](auto&) {},
         "rtp ext ED137 (GW)", "params=1/123/0/1 attach=@/-1@{ch}", 20},
    };
    for (Case const& c : cases) {
        ZGCP::CreateRtpParams p = params(c.status);
        c.edit(p.set_codecRTP());
        ASSERT_EQ(create(p), ok()) << c.name << err.text();
        EXPECT_STREQ(slot()->GetName(), c.kind) << c.name;
        std::string const ch = std::to_string(slot()->GetTransmitChannel());
        RTPSignalling::RadioControl const& control = *slot()->control();
        EXPECT_EQ(control.timerRunning(), c.interval != 0) << c.name;
        EXPECT_EQ(c.interval == 0 || control.timerInterval() == c.interval, true) << c.name;
        if (c.extension.empty()) {
            EXPECT_NE(env.rtp.command({"session", ch}).find(" ext=17/300"), std::string::npos) << c.name;
        } else {
            // The descriptor number is the slot's own, whatever it is.
            std::string session = extension();
            std::size_t const at = session.find("attach=") + 7;
            session.replace(at, session.find('/', at) - at, "@");
            std::string expected = c.extension;
            expected.replace(expected.find("{ch}"), 4, ch);
            EXPECT_NE(session.find(expected + " filter=-"), std::string::npos) << c.name << "\n" << session;
        }
        EXPECT_EQ(destroy(20), ok()) << c.name;
        env.sim.service();
        EXPECT_TRUE(ext->sessions().empty()) << c.name;
    }
    EXPECT_NE(log.text().find("]: keep-alive 0 ms x 10 held at 40 ms\n"), std::string::npos) << log.text();
}

TEST_F(RadioSlotTest, CreatesThatBuildNothing)
{
    struct {
        char const* name;
        std::function<void(TERM::RtpParams&)> edit;
        slotstest::Answer answer;
        char const* line;
    } const cases[] = {
        {"a payload without a payload type", [](auto& r) { r.set_payload(TERM::Payload::ptT38_UDP_TL); },
         fail(Cause::insufficientResources), "rtp ext ZARN[16,16,64,8]: rtp do not created: payload ptT38-UDP-TLnot found\n"},
        {"no port for RTCP", [](auto& r) { r.set_shost().set_port(65535); }, fail(Cause::invalidParams),
         "rtp ext ZARN[16,16,64,8]: rtp do not created: invalid shost port 65535\n"},
    };
    for (auto const& c : cases) {
        ZGCP::CreateRtpParams p = params(radioStatus(zarnStatus()));
        c.edit(p.set_codecRTP());
        testsupport::CaptureStream lines{std::clog};
        EXPECT_EQ(create(p), c.answer) << c.name;
        EXPECT_NE(lines.text().find(c.line), std::string::npos) << c.name << "\n" << lines.text();
        env.sim.service();
        EXPECT_TRUE(env.rtp.sessions().empty()) << c.name;
    }
}

TEST_F(RadioSlotTest, ACodecChangeTheRtpDriverRefusesLeavesTheExtensionStopped)
{
    ASSERT_EQ(create(params(radioStatus(ed137Status(false)))), ok()) << err.text();
    env.sim.failRequest(rtp::kPath, rtp::kBeginSession, EIO);
    ZGCP::IoctlParams const ulaw(ZGCP::IoctlParams::encoder_mode::id, ZGCP::CodecMode::ulaw);
    EXPECT_EQ(run(20, testsupport::ioctlCommand(ulaw)), fail(Cause::unsupported));
    env.sim.service();
    EXPECT_TRUE(ext->sessions().empty());
}

TEST_F(RadioSlotTest, ACodecChangeAttachesTheExtensionToTheNewRtpSession)
{
    ZGCP::CreateRtpParams p = params(radioStatus(zarnStatus()));
    TERM::RtpExtDescription& other = p.set_codecRTP().set_rtp_e2m().set_mode().select_only_rtp();
    other.set_fd(17);
    other.set_pid(300);
    ASSERT_EQ(create(p), ok()) << err.text();
    std::string const ch = std::to_string(slot()->GetTransmitChannel());
    EXPECT_EQ(run(20, ioctlCommand(ZGCP::IoctlParams(ZGCP::IoctlParams::decoder_mode::id, ZGCP::CodecMode::ulaw))), ok());
    env.sim.service();
    ASSERT_EQ(env.rtp.sessions().size(), 1u) << "the old session is closed";
    EXPECT_NE(env.rtp.command({"session", ch}).find(" rx_pt=0 tx_pt=8 "), std::string::npos);
    EXPECT_NE(env.rtp.command({"session", ch}).find(" ext=17/300"), std::string::npos);
}

}  // namespace
