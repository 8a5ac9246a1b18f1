// Every board device the daemon polls fails under it, one way after another (the board
// socket's fail-read): the loop does not spin, the owner hears of the end once, and once the
// slots are gone nothing is left of them. The tone, voice-processing and CAS devices come
// back by themselves, with one line when they go and one when they are back, as the daemon
// left them: what the board raises then reaches the controller with no new command. While
// they cannot be opened, every request that needs them answers an error; once they can, the
// next request opens them and is served.
//
// "/dev/mctl" has no row: the daemon only makes requests on it, a modem's data runs in its
// child on the modem's tty, so no read of it is polled. The network player only writes its
// channel: a read fault that needs a read (eof, an error) cannot reach it.

#include "tests/hardware_commands.h"
#include "tests/loopback.h"
#include "tests/process_figures.h"
#include "tests/radio_commands.h"
#include "tests/sim_daemon_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <optional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace testsupport;

// One way a device fails: the fail-read fault, and what the owners say of it.
struct Fault {
    char const* name;
    char const* why;  // the end's reason in the log line ("" : no end)
    int cause;        // the abort's cause
    int times = 1;    // opens (or reads) it strikes
    // Every open fails for kLasting after the end.
    bool lasting = false;
};
Fault const eof{"eof", "end of file", 0}, hangup{"hangup", "hang-up", 0}, err{"err", "device error", 0},
    eio{"EIO", "Input/output error", 5}, eagain{"EAGAIN", "", 0}, hangupThrice{"hangup", "hang-up", 0, 3},
    hangupLasting{"hangup", "hang-up", 0, 1, true};
constexpr std::chrono::seconds kLasting{10};

std::string label(Fault const& f)
{
    return std::string(f.name) + (f.times > 1 ? std::to_string(f.times) + "times" : "") + (f.lasting ? "Lasting" : "");
}

class DeviceFailures;

// What owns a device's descriptor: how it is made, and what it says of an end.
struct Owner {
    char const* name;
    char const* path;
    // The log line of an end (with no reason: any end), and the controller's report ("" :
    // none).
    std::function<std::string(Fault const&)> line, report;
    // For a device that comes back: its line then; a board command that raises an event of
    // the owner's channel (the tone channel of slot 20 given) and the signal it makes (on one
    // line, its timestamp "#"); the commands that need the device, and the slot they are for
    // (none: slotless).
    char const* back = nullptr;
    std::function<std::string(std::string const& channel)> raise = {};
    char const* raised = nullptr;
    std::function<std::vector<ZGCP::Command>()> requests = {};
    std::optional<unsigned> slot = std::nullopt;
};

struct Row {
    Owner const* owner;
    Fault fault;
};

void PrintTo(Row const& row, std::ostream* os) { *os << row.owner->name << ' ' << label(row.fault); }

class DeviceFailures : public testsupport::SimDaemonTest, public ::testing::WithParamInterface<Row> {
protected:
    // The messages up to the answer of a ping, which must come.
    std::vector<std::string> untilPing()
    {
        EXPECT_TRUE(client->send(zgcpCommand(pingCommand(), ++seq)));
        std::vector<std::string> out;
        std::string m;
        while ((m = next()) != "seq=" + std::to_string(seq) + " success" && m != "no message")
            out.push_back(m);
        EXPECT_NE(m, "no message") << "no answer to a ping";
        return out;
    }
    // Whether the signal comes, as "slot=N " (when it has one) and its value on one line, the
    // number of its timestamp "#".
    bool signalled(std::string const& signal)
    {
        ZGCP::Message m;
        while (client->receive(m, ControllerClient::kTimeout)) {
            std::string const slot = m.slot_isPresent() ? "slot=" + std::to_string(m.get_slot().getValue()) + " " : "";
            std::string text = oneLine(slot + m.get_pdu().get_signal().asValueNotation());
            if (std::size_t const at = text.find("timestamp "); at != std::string::npos)
                text.replace(at + 10, text.find(',', at) - at - 10, "#");
            if (m.get_pdu().signal_isSelected() && text == signal)
                return true;
        }
        return false;
    }
    void command(unsigned number, ZGCP::Command const& c) { EXPECT_EQ(done(number, c), "success"); }
    void make(unsigned number, ZGCP::CreateParams const& params)
    {
        command(number, createCommand(params));
        made.push_back(number);
    }
    // Both ways between the slot and trunk slot 7.
    void join(unsigned number)
    {
        command(7, connectCommand(number));
        command(number, connectCommand(7));
    }
    std::string dump(std::string const& path) { return board->command("dump " + path); }
    // The timeslot whose DTMF detector is on ("1024" of "1024: dtmf=on ...").
    std::string toneChannel()
    {
        std::string const d = dump("/dev/dtmf");
        std::size_t const at = d.find(": dtmf=on");
        std::size_t const from = d.find_last_of(' ', at) + 1;
        return at == std::string::npos ? "" : d.substr(from, at - from);
    }
    // The channel of the device's newest session, from its dump ("512" of "512:data:ino=...").
    std::string channel(std::string const& path)
    {
        std::string const d = dump(path);
        std::string const last = d.substr(d.rfind(' ') + 1);
        return last.substr(0, last.find(':'));
    }

    // An RTP channel to a port no one listens on, with the tone and voice-processing
    // services in use.
    void rtp(unsigned number)
    {
        make(number, rtpParams(rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1", 9)));
        ZGCP::IoctlParams dtmf, sd, vad;
        dtmf.select_dtmf_enable(true);
        sd.select_sd_params();
        vad.select_vad_enable(true);
        command(number, ioctlCommand(dtmf));
        command(number, ioctlCommand(sd));
        command(number, ioctlCommand(vad));
    }
    void destroyAll()
    {
        for (auto it = made.rbegin(); it != made.rend(); ++it)
            command(*it, destroyCommand());
        made.clear();
    }

    // Makes the owner of the device ready to read it: its slots made, joined to trunk slot 7
    // and active (the E1 service's CAS device is open from the controller's connect on).
    void ready(std::string const& owner)
    {
        if (owner == "mcc" || owner == "hdlcLink") {
            unsigned const number = owner == "mcc" ? 20 : 40;
            make(number, owner == "mcc" ? mccParams(ZGCP::MccType::data, ZGCP::MccMode::standard)
                                        : hdlcParams(2, 0x1234));
            join(number);
        } else if (owner == "ss7" || owner == "isdn" || owner == "qsig") {
            unsigned const number = owner == "qsig" ? 30 : 20;
            char const* const path = owner == "qsig" ? "/dev/dsp-data" : "/dev/mcc/ctl";
            make(number, owner == "ss7"    ? ss7Params(2, 5, 100, 200, true)
                         : owner == "isdn" ? isdnParams(ZGCP::IsdnType::pri, 2)
                                           : qsigParams(true));
            board->command("device " + std::string(path) + " peer " + channel(path) + " on");
            if (owner != "qsig")
                join(number);
            command(number, plainCommand(ZGCP::Command::activate::id));
        } else if (owner == "recorder" || owner == "player") {
            unsigned const number = owner == "recorder" ? 40 : 30;
            make(number, owner == "recorder" ? recorderParams("127.0.0.1", peer.port())
                                             : networkPlayerParams("127.0.0.1", peer.port(), 1));
            command(owner == "recorder" ? 7 : number, connectCommand(owner == "recorder" ? number : 7));
            peerSocket = peer.accept(DaemonLauncher::kTimeout);
        } else if (owner == "zarn" || owner == "ed137") {
            TERM::ED137RadioStatus ed137 = ed137Status(false);
            // The keep-alive does not end the radio during the test.
            ed137.set_radio_response(ed137Response()).set_r2s_keepalive_period(1000);
            ed137.set_radio_response().set_r2s_keepalive_multiplier(50);
            make(20, rtpParams(radioCreate(owner == "zarn" ? radioStatus(zarnStatus()) : radioStatus(ed137),
                                           "127.0.0.1", 9)));
        } else if (owner == "cas") {
            EXPECT_EQ(done(std::nullopt, casCommand("open", 1, 5, 9)), "success");
        } else {
            rtp(20);
        }
    }

    std::vector<unsigned> made;
    LoopbackListener peer;
    Fd peerSocket;
};

// A read that fails, where the others read the end.
bool failed(Fault const& f) { return f.cause != 0 || std::string(f.name) == err.name; }
auto line(std::string head) { return [head](Fault const& f) { return head + f.why; }; }
auto always(std::string text) { return [text](Fault const&) { return text; }; }
auto aborted(unsigned slot)
{
    return [slot](Fault const& f) { return "slot=" + std::to_string(slot) + " abort " + std::to_string(f.cause); };
}

std::vector<ZGCP::Command> ioctls(std::initializer_list<ZGCP::IoctlParams> params)
{
    std::vector<ZGCP::Command> out;
    for (ZGCP::IoctlParams const& p : params)
        out.push_back(ioctlCommand(p));
    return out;
}

// The requests of an RTP slot that need the tone device, its DTMF detection on at the end.
std::vector<ZGCP::Command> toneRequests()
{
    using P = ZGCP::IoctlParams;
    P digits, waitTone, selcal;
    ZGCP::DualTone five;
    five.set_freq1(770);
    five.set_freq2(1336);
    digits.select_translateDTMF().set_digits().push_back(five);
    waitTone.select_activateWaitTone();
    selcal.select_selcal().set_signs("ABCD");
    return ioctls({P(P::echoSuppressor::id, true), P(P::dtmf_reject_enable::id, true), digits, waitTone, selcal,
                   P(P::dtmf_enable::id, true)});
}

// Those that need the voice-processing device, its VAD on at the end.
std::vector<ZGCP::Command> voiceRequests()
{
    using P = ZGCP::IoctlParams;
    P gain, vadOff, sdOff;
    vadOff.select_vad_disable();
    sdOff.select_sd_disable();
    gain.select_rx_gain().set_gainDB(-6);
    return ioctls({sdOff, P(P::sd_enable::id, true), gain, toneFilterIoctl(2100, 400, -30), vadOff,
                   P(P::vad_enable::id, true)});
}

Owner const owners[] = {
    {"mcc", "/dev/mcc/ctl", line("20:MCC: MCC line closed: "), aborted(20)},
    {"hdlcLink", "/dev/mcc/ctl", line("]: read error: "), always("slot=40 deactivated")},
    {"ss7", "/dev/mcc/ctl", line("]: read error: "), always("slot=20 deactivated")},
    {"isdn", "/dev/mcc/ctl", line("20:MCC: read error: "), always("slot=20 deactivated")},
    {"qsig", "/dev/dsp-data", line("ats-qsig: read error: "), always("slot=30 deactivated")},
    // The recording ends as at the end of its source, or fails on an error.
    {"recorder", "/dev/mcc/ctl",
     [](Fault const& f) { return std::string(failed(f) ? "]: record aborted" : " closed."); },
     [](Fault const& f) {
         return std::string("slot=40 ioctl stopRecording : ") + (failed(f) ? "connectionAborted" : "userRequest");
     }},
    {"player", "/dev/mcc/ctl", always("]: play failed"), always("slot=30 abort 0")},
    {"cas", "/dev/e1-cas", line("E1: cas interface closed: "), always(""), "E1: cas interface opened!",
     [](std::string const&) { return "device /dev/e1-cas rx 1 5 7"; },
     "cas : { channel { path 1, timeslot 5 }, rx 7, tx 9 }",
     [] { return std::vector<ZGCP::Command>{casCommand("get", 1, 5)}; }},
    {"dtmf", "/dev/dtmf", line("fail to read from tonec: "), always(""), "tonec interface opened",
     [](std::string const& ts) { return "device /dev/dtmf dtmf " + ts + " 5"; },
     "slot=20 tonec : { timestamp #, event dtmf : 5 }",
     toneRequests, 20},
    {"dsp", "/dev/dsp", line("fail to read from dsproc: "), always(""), "dsproc interface opened",
     [](std::string const& ts) { return "device /dev/dsp vad " + ts + " 1 -"; }, "slot=20 vad : { vad-rx TRUE }",
     voiceRequests, 20},
    {"rtp", "/dev/rtp", line("rtp[1024]: fail to read from rtp: "), aborted(20)},
    {"zarn", "/dev/rtp_ext", line(": fail to read from rtp_ext: "), aborted(20)},
    {"ed137", "/dev/rtp_ext", line(": fail to read from rtp_ext: "), aborted(20)},
};

std::vector<Row> rows()
{
    std::vector<Row> out;
    for (Owner const& o : owners) {
        bool const player = std::string(o.name) == "player";
        for (Fault const& f : {eof, hangup, err, eio, eagain})
            if (!player || std::string(f.name) == hangup.name || std::string(f.name) == err.name)
                out.push_back({&o, f});
        if (o.back != nullptr) {
            out.push_back({&o, hangupThrice});
            out.push_back({&o, hangupLasting});
        }
    }
    return out;
}

TEST_P(DeviceFailures, EndsItsDescriptorOnceAndLeavesNothingBehind)
{
    Owner const& owner = *GetParam().owner;
    Fault const& fault = GetParam().fault;
    bool const ends = *fault.why != '\0';
    // A round without a failure first: the services the slots use opened then are the measure
    // of what the failure may leave open.
    make(7, trunkParams(1, 5));
    ready(owner.name);
    rtp(21);
    destroyAll();
    long const fds = openDescriptors(daemon.pid());
    int const devices = board->opens(owner.path);

    make(7, trunkParams(1, 5));
    ready(owner.name);
    untilPing();
    int const held = board->opens(owner.path);
    std::string const channel = toneChannel();
    std::map<int, std::string> const fdsHeld = descriptorTargets(daemon.pid(), false);
    std::size_t const said = daemon.said(owner.line(fault));
    std::size_t const saidBack = owner.back ? daemon.said(owner.back) : 0;
    auto const back = [&] { return daemon.said(owner.back) > saidBack; };
    auto const failed = std::chrono::steady_clock::now();
    if (fault.lasting) {
        ASSERT_EQ(board->command("fail-open " + std::string(owner.path) + " ENODEV always"), "ok");
    }
    std::string const times = std::to_string(fault.times);
    ASSERT_EQ(board->command("fail-read " + std::string(owner.path) + " " + fault.name + " " + times), "ok");
    EXPECT_LT(cpuSecondsOver(daemon.pid(), std::chrono::seconds(1)), 0.1) << "the loop spins";
    std::vector<std::string> const heard = untilPing();
    bool const returns = owner.back != nullptr && ends;
    std::string const unsupported = "error=" + std::to_string(ZGCP::ErrorCause::unsupported);
    auto const requests = [&](bool served) {
        for (ZGCP::Command const& r : owner.requests())
            EXPECT_EQ(done(owner.slot, r), served ? "success" : unsupported) << r.asValueNotation();
    };
    if (returns && fault.lasting) {
        // The requests meanwhile, at the start and at the end, find no device.
        requests(false);
        std::this_thread::sleep_until(failed + kLasting);
        requests(false);
    } else if (returns) {
        // Its strikes are used up once it is back.
        EXPECT_TRUE(DaemonLauncher::waitFor(back)) << daemon.err();
    }
    EXPECT_EQ(board->command("clear-failures"), "ok");
    if (returns && fault.lasting) {
        // Served once it can be opened: the first request opens it.
        requests(true);
    }

    EXPECT_EQ(daemon.said(owner.line(fault)) - said, ends ? 1u : 0u) << daemon.err();
    if (owner.back != nullptr) {
        if (returns) {
            EXPECT_TRUE(DaemonLauncher::waitFor(back)) << daemon.err();
        }
        EXPECT_EQ(daemon.said(owner.back) - saidBack, returns ? 1u : 0u) << daemon.out();
        // What the board raises now reaches the controller.
        EXPECT_EQ(board->command(owner.raise(channel)).substr(0, 2), "ok");
        EXPECT_TRUE(signalled(owner.raised));
    }
    std::string const report = ends ? owner.report(fault) : "";
    EXPECT_EQ(std::count(heard.begin(), heard.end(), report), report.empty() ? 0 : 1) << testing::PrintToString(heard);
    if (!ends) {
        EXPECT_EQ(board->opens(owner.path), held) << "EAGAIN is not an end";
        // Still polled: what the board sends after the EAGAIN is taken.
        ASSERT_EQ(board->command("fail-read " + std::string(owner.path) + " EAGAIN"), "ok");
        EXPECT_EQ(board->command("clear-failures"), "ok");
        EXPECT_TRUE(DaemonLauncher::waitFor([&] { return board->command("unread " + std::string(owner.path)) == "ok 0"; }));
    }
    if (fault.cause == eio.cause) {
        // One the daemon held before is gone (a device that comes back has a new socket).
        std::map<int, std::string> const now = descriptorTargets(daemon.pid(), false);
        EXPECT_FALSE(std::includes(now.begin(), now.end(), fdsHeld.begin(), fdsHeld.end()))
            << "the descriptor that failed stays open";
    }

    destroyAll();
    EXPECT_EQ(board->switchLeftovers(), "");
    EXPECT_LE(board->opens(owner.path), devices) << dump(owner.path);
    EXPECT_LE(openDescriptors(daemon.pid()), fds);
    EXPECT_EQ(childCount(daemon.pid()), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryDevice, DeviceFailures, ::testing::ValuesIn(rows()),
                         [](::testing::TestParamInfo<Row> const& info) {
                             return std::string(info.param.owner->name) + "_" + label(info.param.fault);
                         });

}  // namespace
