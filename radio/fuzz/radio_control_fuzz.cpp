// Fuzz target of the radio controls' reception: radio RTP slots made as the controller makes
// them (a create whose RTP parameters carry a radio request, through the slot table and the
// radio factories), fed through the simulated extension device "/dev/rtp_ext" with what far
// senders send, and driven by the controller's rtpExt ioctls, codec changes, steps of the
// test clock and ends of the devices. The input is a row of steps, each chosen by its first
// byte modulo kSteps (Step), its operands read from the bytes after it (a missing one reads
// as 0).
//
// After every step:
// - every message the server sends the controller (the slots' rtpExt and abort signals
//   among them) is a TPKT frame holding a message that decodes, and every signal encodes
//   and decodes again (one that does not encode would be dropped on the way out);
// - every payload a control wrote to the device reads back with the codec's own unpacker
//   (a ZARN gateway writes only the radio's state packets, 129-135);
// - a running status timer is due within its interval and the next tick (the loop's next
//   timer no later), and a status interval stays within the bounds the controls give it;
// - an ED-137 radio reports the same state at most once a status interval;
// - on an input without device faults: a ZARN radio has re-sent its transmission packet
//   within two seconds of the last one, and an ED-137 radio silent for its keep-alive
//   time-out has been aborted (abort 151) by the tick after.
// After the input every slot is destroyed: no extension or RTP session, descriptor, timer
// or packet of the pool is left and no switch output is driven; then a fresh slot of each
// signalling takes a payload and reports it. A breach aborts the run.
//
// Each input starts from the same state: no slot, no failure armed, the clock at the same
// reading. Corpus: radio/fuzz/radio_control_corpus. The daemon's log, with
// the signals the controller reads, is shown with RADIO_CONTROL_LOG=1.

#include "hardware/hw_mux.h"
#include "messages/term.h"
#include "messages/zgcp.h"
#include "radio/r2s_proto.h"
#include "radio/rtp_ext_factory.h"
#include "radio/rtp_ext_slot.h"
#include "radio/sig_proto.h"
#include "runtime/multiplexer.h"
#include "slots/rtp_factory.h"
#include "slots/slots.h"
#include "tests/fuzz_daemon_support.h"
#include "tests/loop_pump.h"
#include "tests/radio_commands.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using testsupport::breach;
using Input = testsupport::FuzzInput;
using RTPSignalling::ED137RadioControl;
using RTPSignalling::ED137RadioParams;
using RTPSignalling::RadioControl;

constexpr char kName[] = "radio_control_fuzz";
// Sessions of several kilobytes: the length limit of the inputs the engine makes.
constexpr char kMaxLen[] = "-max_len=8192";

// The slot numbers an input uses.
constexpr unsigned kFirstSlot = 20;
constexpr unsigned kSlots = 2;
// Far senders: 10.0.0.1 to 10.0.0.4, SSRC 101 to 104.
constexpr unsigned kSenders = 4;
// Clock time the steps of one input may pass in all: past the longest keep-alive time-out.
constexpr std::uint32_t kTimeSteps = ED137RadioParams::kMaxKeepAlive * 2;
// Where the clock stands at the start of each input.
constexpr std::uint32_t kStartMs = 1000000;
// A ZARN radio re-sends a group more than 999 ms after its last send, at a tick that comes
// at most an interval (1 s) and 10 ms after the one before.
constexpr std::uint32_t kZarnResendMs = 999 + RadioControl::kDefaultInterval + 10 + 1;

enum Step {
    kCreate,      // slot, kind, then the kind's values
    kCreatePer,   // slot, length, then a create of the RTP parameters in PER
    kDestroy,     // slot
    kPacket,      // slot, sender, then a packet of the slot's signalling built from the bytes
    kRaw,         // slot, sender, length (255: longer than any payload), then the bytes
    kBurst,       // slot, count: the packet built last, again, from each sender in turn
    kIoctl,       // slot, then a command of the slot's signalling built from the bytes
    kIoctlPer,    // slot, length, then a radio command in PER
    kCodec,       // slot, which: a codec change (encoder or decoder, A-law or mu-law)
    kTime,        // n: the clock moves on by 2^(n mod 17) ms, within kTimeSteps
    kFault,       // device, fault: a failure of the extension or the RTP device, or none
    kSteps
};

enum class Kind { zarn, zarnOnlyRtp, ed137 };

std::uint32_t senderAddress(unsigned sender) { return htonl(0x0a000001u + sender % kSenders); }
std::string senderText(unsigned sender) { return "10.0.0." + std::to_string(sender % kSenders + 1); }
std::uint32_t senderSsrc(unsigned sender) { return 101 + sender % kSenders; }

// What the target knows of a slot it made.
struct Shadow {
    bool ed137 = false;
    // The clock when a payload the control takes last came (ED-137), or when the
    // transmission packet was written last (ZARN).
    std::uint32_t last = 0;
    bool abortSeen = false;  // abort 151 since then
};

// The daemon's part under test, built once and never destroyed.
struct Gateway : testsupport::DaemonHarness {
    Gateway() : DaemonHarness(kName, "RADIO_CONTROL_LOG", kStartMs)
    {
        HwMux::instance();
        RtpFactory::instance();
        RtpZARNFactory::instance();
        RtpED137Factory::instance();
        bind(signals);
    }

    testsupport::SignalWatch signals{kName};
};

Gateway* gateway = nullptr;

// One input's run.
class Run {
public:
    explicit Run(Input& in) : in_(in) {}

    void steps()
    {
        while (!in_.done())
            step(Step(in_.byte() % kSteps));
        check();
    }

    // Every slot goes; nothing of them may stay.
    void finish()
    {
        for (unsigned s = 0; s < kSlots; ++s)
            gateway->table.Execute(kFirstSlot + s, testsupport::plainCommand(ZGCP::Command::destroy::id));
        check();
        gateway->env.sim.clearFailures();
        testsupport::settle();
        gateway->checkLeftOver();
    }

    // A fresh slot of each signalling takes a payload from a far sender and reports it.
    void useAgain()
    {
        faults_ = true;  // no liveness checks: these slots live for a moment only
        struct Fresh {
            Kind kind;
            std::vector<std::uint8_t> payload;
        };
        Fresh const fresh[] = {{Kind::zarn, zarnFlags()}, {Kind::ed137, ed137Tx()}};
        for (Fresh const& f : fresh) {
            create(0, f.kind, nullptr);
            reports_ = 0;
            if (!deliver(0, 0, f.payload))
                breach(kName, "a fresh radio slot takes no payload");
            if (reports_ == 0)
                breach(kName, "a fresh radio slot reports nothing of a payload");
            finish();
        }
    }

private:
    void step(Step kind)
    {
        switch (kind) {
        case kCreate: {
            unsigned const s = in_.byte() % kSlots;
            Kind const k = Kind(in_.byte() % 3);
            create(s, k, &in_);
            break;
        }
        case kCreatePer: {
            unsigned const s = in_.byte() % kSlots;
            std::vector<std::uint8_t> const bytes = in_.take(in_.byte());
            ZGCP::CreateRtpParams params;
            if (testsupport::decodePer(bytes, params) && params.get_codecRTP().radio_isPresent())
                execute(s, testsupport::createCommand(testsupport::rtpParams(params)), params.get_codecRTP());
            break;
        }
        case kDestroy:
            gateway->table.Execute(kFirstSlot + in_.byte() % kSlots,
                                   testsupport::plainCommand(ZGCP::Command::destroy::id));
            break;
        case kPacket: {
            unsigned const s = in_.byte() % kSlots;
            unsigned const sender = in_.byte();
            RtpExtSlot* slot = at(s);
            if (slot == nullptr)
                break;
            last_ = shadow_[s].ed137 ? ed137Packet() : zarnPacket();
            if (!last_.empty())
                deliver(s, sender, last_);
            break;
        }
        case kRaw: {
            unsigned const s = in_.byte() % kSlots;
            unsigned const sender = in_.byte();
            std::size_t const length = in_.byte();
            std::vector<std::uint8_t> bytes = in_.take(std::max<std::size_t>(length % 255, 1));
            // Longer than any payload: the bytes given, over and over.
            std::size_t const given = bytes.size();
            if (length == 255 && given > 0)
                for (std::size_t i = given; i < RadioControl::kMaxPayload + 100; ++i)
                    bytes.push_back(bytes[i % given]);
            if (!bytes.empty())
                deliver(s, sender, last_ = bytes);
            break;
        }
        case kBurst: {
            unsigned const s = in_.byte() % kSlots;
            unsigned const count = in_.byte() % 64;
            for (unsigned i = 0; i < count && !last_.empty(); ++i)
                queue(s, i, last_);
            break;
        }
        case kIoctl: {
            unsigned const s = in_.byte() % kSlots;
            if (at(s) != nullptr)
                ioctl(s, testsupport::rtpExtIoctl(shadow_[s].ed137 ? ed137Command() : zarnCommand()));
            break;
        }
        case kIoctlPer: {
            unsigned const s = in_.byte() % kSlots;
            std::vector<std::uint8_t> const bytes = in_.take(in_.byte());
            TERM::RadioModifier modifier;
            if (testsupport::decodePer(bytes, modifier))
                ioctl(s, testsupport::rtpExtIoctl(modifier));
            break;
        }
        case kCodec: {
            unsigned const s = in_.byte() % kSlots;
            std::uint8_t const which = in_.byte();
            auto const mode = which & 2 ? ZGCP::CodecMode::ulaw : ZGCP::CodecMode::alaw;
            ioctl(s, which & 1 ? ZGCP::IoctlParams(ZGCP::IoctlParams::encoder_mode::id, mode)
                               : ZGCP::IoctlParams(ZGCP::IoctlParams::decoder_mode::id, mode));
            break;
        }
        case kTime: passTime(in_.byte()); break;
        case kFault: fault(); break;
        default: break;
        }
        check();
    }

    // A create of the kind, its values from the input (none: the plainest).
    void create(unsigned s, Kind kind, Input* in)
    {
        auto b = [in] { return in ? in->byte() : std::uint8_t(0); };
        TERM::RadioStatus status;
        if (kind == Kind::ed137) {
            std::uint8_t const bits = b();
            TERM::ED137RadioStatus ed = testsupport::ed137Status(bits & 1);
            if (bits & 2) {
                ed.set_sqi().set_bss_method().setFromInt(b() % 4);
                ed.set_sqi().set_bss_quality(b() % 32);
            }
            if (bits & 4) {
                TERM::ED137RadioResponse r = testsupport::ed137Response();
                r.set_type().setFromInt(b() % 5);
                r.set_txrxmode().setFromInt(b() % 3);
                r.set_r2s_keepalive_period(20 + b() * 4 % 981);
                r.set_r2s_keepalive_multiplier(2 + b() % 49);
                r.set_sigtime(1 + b() % 50);
                r.set_transmission_depend_on_squ((bits & 8) != 0);
                ed.set_radio_response(r);
            }
            status = testsupport::radioStatus(ed);
        } else {
            TERM::ZarnRadioStatus z = testsupport::zarnStatus();
            std::uint8_t const flags = b();
            z.set_flags(testsupport::radioFlags(b() % 16, flags & 1, flags & 2));
            z.set_freq().set_channel(b());
            static char const* const frequencies[] = {"151.5", "0", "-3", "1e40", "nan", "x", ""};
            z.set_freq().set_frequency(frequencies[b() % 7]);
            z.set_remote().set_no(b());
            z.set_remote().set_ch(b());
            z.set_squelshe().setFromInt(b() % 3);
            z.set_rte().setFromInt(b() % 6);
            z.set_standby_state_channel().setFromInt(int(b() % 3) - 1);
            z.set_standby_group(b());
            status = testsupport::radioStatus(z);
        }
        ZGCP::CreateRtpParams p = testsupport::radioCreate(status, "127.0.0.1", 5000 + 10 * int(s));
        TERM::RtpParams& rtp = p.set_codecRTP();
        // The voice processing a radio create may ask for.
        std::uint8_t const extras = b();
        TERM::RtpRadioRequest& radio = rtp.set_radio();
        if (extras & 1)
            radio.set_rx_delay(int(b()) - 16);
        if (extras & 2)
            radio.set_tx_delay(b());
        if (extras & 4)
            radio.set_bss_enable((extras & 8) != 0);
        if (extras & 16)
            radio.set_ng_enable((extras & 32) != 0);
        rtp.set_shost(testsupport::hostAddress("127.0.0.1", 6000 + 10 * int(s)));
        rtp.set_pfactor(b() % 4);
        if (kind == Kind::zarnOnlyRtp) {
            TERM::RtpExtDescription& other = rtp.set_rtp_e2m().set_mode().select_only_rtp();
            other.set_fd(b());
            other.set_pid(b());
        }
        execute(s, testsupport::createCommand(testsupport::rtpParams(p)), rtp);
    }

    void execute(unsigned s, ZGCP::Command const& create, TERM::RtpParams const& rtp)
    {
        if (gateway->table.Execute(kFirstSlot + s, create).kind != Slots::Answer::success || at(s) == nullptr)
            return;
        Shadow& shadow = shadow_[s];
        shadow = Shadow{};
        shadow.ed137 = rtp.get_radio().get_status().ed_137_isSelected();
        shadow.last = Mux::milliseconds();
        lastReport_[s].clear();
    }

    RtpExtSlot* at(unsigned s) const
    {
        return dynamic_cast<RtpExtSlot*>(gateway->table.GetSlotAt(kFirstSlot + s % kSlots));
    }

    // The extension session of the slot in the model: the open attached to its channel.
    std::optional<unsigned> session(unsigned s) const
    {
        RtpExtSlot* slot = at(s);
        if (slot == nullptr)
            return std::nullopt;
        gateway->env.sim.service();
        for (auto const* session : gateway->env.rtpExt.sessions())
            if (session->attachedChannel && *session->attachedChannel == slot->GetTransmitChannel())
                return session->open;
        return std::nullopt;
    }

    // Queues a payload from the sender for the slot; false when the device does not take it.
    bool queue(unsigned s, unsigned sender, std::vector<std::uint8_t> const& payload)
    {
        std::optional<unsigned> const open = session(s);
        rtp_ext_source const source{senderSsrc(sender), senderAddress(sender), 0};
        if (!open || !gateway->env.rtpExt.deliver(*open, source, payload))
            return false;
        // What the control decodes of it: at most a payload's length.
        std::size_t const length = std::min(payload.size(), RadioControl::kMaxPayload);
        r2s_proto rec;
        if (shadow_[s].ed137 && r2s_proto_unpack_tx(&rec, payload.data(), length) == 0)
            heard_[s] = true;
        return true;
    }

    bool deliver(unsigned s, unsigned sender, std::vector<std::uint8_t> const& payload)
    {
        bool const taken = queue(s, sender, payload);
        check();
        return taken;
    }

    void ioctl(unsigned s, ZGCP::IoctlParams const& params)
    {
        gateway->table.Execute(kFirstSlot + s, testsupport::ioctlCommand(params));
    }

    // A ZARN packet: a type the codec knows, the header and body from the input.
    std::vector<std::uint8_t> zarnPacket()
    {
        sig_proto rec;
        sig_proto_init(&rec);
        rec.type = std::uint32_t(sig_proto_packet_const_name[in_.byte() % 20].id);
        rec.priority = in_.byte() % 16;
        std::uint16_t const flags = in_.bigWord16();
        std::uint32_t* const flag[] = {&rec.flag_t, &rec.flag_p, &rec.flag_r, &rec.flag_s, &rec.flag_b,
                                       &rec.flag_rv, &rec.flag_sh, &rec.flag_rs, &rec.flag_pw};
        for (std::size_t i = 0; i < std::size(flag); ++i)
            *flag[i] = flags >> i & 1;
        rec.flag_c = flags >> 9 & 3;
        rec.status = in_.bigWord16() % 512;
        std::vector<std::uint8_t> const body = in_.take(in_.byte() % 24);
        if (!body.empty())
            std::memcpy(&rec.body, body.data(), body.size());
        if (rec.type == GW_SEL_CALL)
            rec.body.gw_sel_call.callerID_length = std::min<std::uint8_t>(rec.body.gw_sel_call.callerID_length, 16);
        if (rec.type == WM_SEL_CALL_TRANS)
            rec.body.wm_sel_call_trans.callerID_length =
                std::min<std::uint8_t>(rec.body.wm_sel_call_trans.callerID_length, 16);
        std::uint8_t buf[RadioControl::kMaxPayload];
        int const n = sig_proto_pack(&rec, buf, sizeof buf);
        return n > 0 ? std::vector<std::uint8_t>(buf, buf + n) : std::vector<std::uint8_t>{};
    }

    // An ED-137 payload: tx (what a far side sends) or rx, the headers and features from the
    // input.
    std::vector<std::uint8_t> ed137Packet()
    {
        std::uint8_t const bits = in_.byte();
        r2s_proto rec;
        r2s_proto_init(&rec, bits & 1 ? R2S_PROTO_RX : R2S_PROTO_TX);
        // Each operand in a statement of its own: the order of a call's arguments is the compiler's.
        std::uint32_t const ptt = in_.byte() % 8;
        std::uint32_t const pttId = in_.byte() % 64;
        if (bits & 1)
            r2s_proto_set_rx_header(&rec, ptt, bits >> 1 & 1, pttId, bits >> 2 & 1, bits >> 3 & 1, bits >> 4 & 1);
        else
            r2s_proto_set_tx_header(&rec, ptt, pttId, bits >> 2 & 1, bits >> 3 & 1);
        for (unsigned i = 0, count = in_.byte() % 4; i < count; ++i) {
            r2s_proto_additional& a = rec.additional[rec.count++];
            a.type = in_.byte() % 8;
            for (std::uint32_t& w : a.value.word)
                w = in_.byte();
        }
        std::uint8_t buf[RadioControl::kMaxPayload];
        int const n = r2s_proto_pack(&rec, buf, sizeof buf);
        return n > 0 ? std::vector<std::uint8_t>(buf, buf + n) : std::vector<std::uint8_t>{};
    }

    // A ZARN command: a transmission (wm-trans), or another command of the gateway's or the
    // workstation's with its values from the input.
    TERM::RadioModifier zarnCommand()
    {
        std::uint8_t const bits = in_.byte();
        unsigned const owner = in_.byte();
        int const prio = in_.byte() % 16;
        TERM::RadioModifier m = testsupport::zarnTrans(bits & 1, senderText(owner), senderSsrc(owner), prio);
        TERM::ZarnRadioModifierParams& params = m.ref_zarn().set_params();
        TERM::RadioFlags const flags = testsupport::radioFlags(prio, bits & 1, bits & 2);
        std::string const caller(in_.byte() % 8, 'A' + bits % 26);
        switch (bits >> 2 & 7) {
        case 1: params.select_gw_set_ptt().set_flags(flags); break;
        case 2: {
            TERM::RadioCommandGWSetSelCall& c = params.select_gw_set_selcall();
            c.set_flags(flags);
            c.set_ip(senderText(owner));
            c.set_ssrc(senderSsrc(owner));
            c.set_cid(caller);
            break;
        }
        case 3: {
            TERM::RadioCommandWMSelCall& c = params.select_wm_selcall();
            c.set_flags(flags);
            c.set_ip(senderText(owner));
            c.set_ssrc(senderSsrc(owner));
            c.set_cid(caller);
            break;
        }
        case 4: {
            TERM::RadioFrequency& f = params.select_gw_set_freq().set_freq();
            f.set_channel(in_.byte());
            std::string const units = std::to_string(in_.bigWord16());
            f.set_frequency(units + "." + std::to_string(in_.byte()));
            break;
        }
        case 5: params.select_gw_set_squelshe().set_squelshe().setFromInt(in_.byte() % 3); break;
        case 6: params.select_gw_set_standby().set_state().setFromInt(int(in_.byte() % 3) - 1); break;
        default: break;
        }
        return m;
    }

    TERM::RadioModifier ed137Command()
    {
        std::uint8_t const bits = in_.byte();
        unsigned const owner = in_.byte();
        int const ptt = in_.byte() % 5;
        unsigned const pttId = in_.byte() % 64;
        TERM::ED137RadioHeader const header = testsupport::ed137Header(ptt, bits & 2, pttId);
        return testsupport::ed137Command(bits & 1, header, senderText(owner), senderSsrc(owner));
    }

    // A GW_FLAG packet, and an ED-137 tx payload with PTT on.
    static std::vector<std::uint8_t> zarnFlags()
    {
        sig_proto rec;
        sig_proto_init(&rec);
        rec.type = GW_FLAG;
        rec.priority = 3;
        std::uint8_t buf[64];
        int const n = sig_proto_pack(&rec, buf, sizeof buf);
        return std::vector<std::uint8_t>(buf, buf + std::max(n, 0));
    }
    static std::vector<std::uint8_t> ed137Tx()
    {
        r2s_proto rec;
        r2s_proto_init(&rec, R2S_PROTO_TX);
        r2s_proto_set_tx_header(&rec, 1, 2, 0, 0);
        std::uint8_t buf[64];
        int const n = r2s_proto_pack(&rec, buf, sizeof buf);
        return std::vector<std::uint8_t>(buf, buf + std::max(n, 0));
    }

    void fault()
    {
        board::sim::SimBoard& board = gateway->env.sim;
        std::uint8_t const device = in_.byte();
        std::uint8_t const what = in_.byte();
        char const* const path = device & 1 ? rtp::kPath : rtp_ext::kPath;
        faults_ = true;
        using Kind = board::sim::ReadFault::Kind;
        switch (what % 6) {
        case 0:
        case 1:
        case 2: board.failRead(path, board::sim::ReadFault{Kind(what % 3), 0}, 1); break;
        case 3: board.failRead(path, board::sim::ReadFault{Kind::error, EIO}, 1 + what / 6 % 3); break;
        case 4: board.failOpen(path, what & 8 ? EMFILE : EIO, 1); break;
        default: {
            auto const& requests = board.device(path)->requests();
            board.failRequest(path, requests[device / 2 % requests.size()].number, EIO, 1);
            break;
        }
        }
    }

    void passTime(std::uint8_t operand)
    {
        std::uint32_t const ms = time_.spend(1u << (operand % 17));
        testsupport::passTime(gateway->clock, ms, 1000, [this] { check(); });
    }

    void check()
    {
        testsupport::settle();
        // An ED-137 control read what came: the far side is heard.
        for (unsigned s = 0; s < kSlots; ++s)
            if (std::exchange(heard_[s], false) && at(s))
                shadow_[s] = Shadow{true, Mux::milliseconds(), false};
        for (auto const& signal : gateway->controller.take()) {
            unsigned const s = unsigned(signal.slot) - kFirstSlot;
            if (s >= kSlots)
                continue;
            if (signal.signal.rtpExt_isSelected()) {
                ++reports_;
                sameReport(s, signal.signal.asValueNotation());
            }
            bool const abort = signal.signal.abort_isSelected();
            if (abort && signal.signal.get_abort().getValue() == ED137RadioControl::kKeepAliveLost)
                shadow_[s].abortSeen = true;
        }
        checkWritten();
        for (unsigned s = 0; s < kSlots; ++s)
            if (RtpExtSlot* slot = at(s))
                checkTimer(s, *slot);
    }

    // An ED-137 radio reports the same state at most once a status interval.
    void sameReport(unsigned s, std::string const& report)
    {
        RtpExtSlot* slot = at(s);
        std::uint32_t const now = Mux::milliseconds();
        if (slot && shadow_[s].ed137 && report == lastReport_[s]
            && now - lastReportAt_[s] < slot->control()->timerInterval())
            breach(kName, "an ED-137 state reported again after " + std::to_string(now - lastReportAt_[s])
                                           + " ms: " + report);
        lastReport_[s] = report;
        lastReportAt_[s] = now;
    }

    // Every payload written reads back with the unpacker of its session's signalling.
    void checkWritten()
    {
        board::sim::RtpExtModel& ext = gateway->env.rtpExt;
        gateway->env.sim.service();
        for (auto const* session : ext.sessions()) {
            bool const zarn = session->init && session->init->etype == 0x1337;
            for (auto const& payload : ext.takeWritten(session->open)) {
                if (zarn) {
                    sig_proto rec;
                    if (sig_proto_unpack(&rec, payload.data(), payload.size()) != 0 || rec.type < WM_FLAG)
                        breach(kName, "a ZARN payload written that is not a state packet");
                    if (rec.type == WM_FLAG || rec.type == WM_TRANS || rec.type == WM_SEL_CALL_TRANS)
                        noteTransmission(session->attachedChannel);
                    continue;
                }
                r2s_proto rec;
                if (r2s_proto_unpack_rx(&rec, payload.data(), payload.size()) != 0
                    && r2s_proto_unpack_tx(&rec, payload.data(), payload.size()) != 0)
                    breach(kName, "an ED-137 payload written that does not unpack");
            }
        }
    }

    void noteTransmission(std::optional<int> channel)
    {
        for (unsigned s = 0; s < kSlots; ++s)
            if (RtpExtSlot* slot = at(s); slot && !shadow_[s].ed137 && channel == slot->GetTransmitChannel())
                shadow_[s].last = Mux::milliseconds();
    }

    void checkTimer(unsigned s, RtpExtSlot& slot)
    {
        RadioControl const& control = *slot.control();
        std::uint32_t const interval = control.timerInterval();
        if (interval < RadioControl::kMinInterval
            || interval > std::max(RadioControl::kDefaultInterval, ED137RadioParams::kMaxKeepAlive / 2))
            breach(kName, "a status interval out of bounds: " + std::to_string(interval));
        if (!control.timerEnabled())
            return;
        int const next = multiplexer.next_timer_wait();
        if (!control.timerRunning() || next < 0 || std::uint32_t(next) > interval + 10)
            breach(kName, "a status timer not due within its interval: " + std::to_string(next));
        if (faults_ || !session(s))
            return;
        Shadow const& shadow = shadow_[s];
        std::uint32_t const since = Mux::milliseconds() - shadow.last;
        if (!shadow.ed137 && since > kZarnResendMs)
            breach(kName, "a ZARN radio re-sent no transmission packet for " + std::to_string(since)
                                           + " ms");
        if (shadow.ed137 && since >= keepAlive(s) + interval + 10 && !shadow.abortSeen)
            breach(kName, "an ED-137 radio silent for " + std::to_string(since) + " ms is not aborted");
    }

    // The keep-alive time-out of an ED-137 slot, of which its create made the status interval
    // the half.
    std::uint32_t keepAlive(unsigned s) const { return at(s)->control()->timerInterval() * 2 + 1; }

    Input& in_;
    std::array<Shadow, kSlots> shadow_{};
    std::array<bool, kSlots> heard_{};
    std::array<std::string, kSlots> lastReport_;
    std::array<std::uint32_t, kSlots> lastReportAt_{};
    std::vector<std::uint8_t> last_;
    testsupport::TimeBudget time_{kTimeSteps};
    bool faults_ = false;
    unsigned reports_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    testsupport::quietFuzzer(argc, argv, {kMaxLen});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    testsupport::runInput<Run>(gateway, kStartMs, data, size);
    return 0;
}
