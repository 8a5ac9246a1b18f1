// Fuzz target of the records of the tone device "/dev/dtmf" and the voice-processing device
// "/dev/dsp" as their services read them and hand them to the receivers of the media slots:
// RTP channels and mixer ports made through the slot table, whose detectors (DTMF, IVA,
// VAD, SD, BSS, tone filters) the input switches on and off with the controller's ioctls,
// while the simulated devices send well-formed records for known and unknown timeslots under
// current, stale and made-up ids, records that are short, long or of unknown types, bursts
// of them, and ends of the devices between them. The input is a row of steps, each chosen by
// its first byte modulo kSteps (Step), its operands read from the bytes after it (a missing
// one reads as 0).
//
// Checks:
// - each detector signal a slot sends comes from the record the services read last, a whole
//   record of the right device for the slot's timeslot, that the rules accept: a DTMF code
//   while the channel's DTMF detector is on under the record's id, an IVA code while IVA is
//   on under the id of the receiver's last DTMF enable, VAD and SD while on under the id of
//   their enable, BSS while on (ids and states as the device model holds them);
// - every message the server sends the controller decodes, and every signal encodes;
// - after the input, once the board works again: both devices are back (the services opened
//   them again) and serve a fresh RTP channel's DTMF and VAD detectors; no slot, descriptor,
//   timer or packet of the pool is left, no switch output is driven, and, where no request
//   was made to fail, no detector is left on for a timeslot no slot holds.
// A breach aborts the run. Each input starts from the same state: no slot, no failure armed,
// both devices open, the clock at the same reading. Corpus: hardware/fuzz/device_records_corpus.
// The daemon's log, with the signals the controller reads, is shown with DEVICE_RECORDS_LOG=1.

#include "board/board.h"
#include "board/dsp.h"
#include "board/dtmf.h"
#include "hardware/dsproc_receiver.h"
#include "hardware/hw_mux.h"
#include "hardware/tonec_receiver.h"
#include "messages/zgcp.h"
#include "runtime/device_return.h"
#include "runtime/multiplexer.h"
#include "slots/mixer.h"
#include "slots/rtp_factory.h"
#include "slots/rtp_slot.h"
#include "slots/slots.h"
#include "tests/fuzz_daemon_support.h"
#include "tests/loop_pump.h"
#include "tests/slot_commands.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::breach;
using Input = testsupport::FuzzInput;
using P = ZGCP::IoctlParams;

constexpr char kName[] = "device_records_fuzz";
// Sessions of several kilobytes: the length limit of the inputs the engine makes.
constexpr char kMaxLen[] = "-max_len=8192";

constexpr unsigned kFirstSlot = 30;
constexpr unsigned kSlots = 4;
// The mixer unit the ports take channels of.
constexpr int kUnit = 3;
constexpr int kUnitChannels = 32;
// Clock time the steps of one input may pass in all: past the longest wait of a device's
// return, so that a device that ended is tried several times.
constexpr std::uint32_t kTimeSteps = 3 * DeviceReturn::last_wait_ms;
constexpr std::uint32_t kStartMs = 1000000;

enum Step {
    kRtp,        // slot: an RTP channel
    kMixerIn,    // slot, channel: a mixer input port
    kMixerOut,   // slot, channel: a mixer output port (tone and flags events only)
    kDestroy,    // slot
    kIoctl,      // slot, which, then its values: a function of the slot on or off
    kIoctlPer,   // slot, length, then an ioctl in PER
    kBss,        // slot, on: BSS of an RTP channel, as the radio factories set it
    kToneRecord, // target, code, id
    kDspRecord,  // target, type, id, then the payload's 12 bytes
    kRaw,        // device, length (255: the record sent last and more), then the bytes
    kBurst,      // count: the record sent last, again
    kEnd,        // device, fault: the device ends, its opens or requests fail
    kTime,       // n: the clock moves on by 2^(n mod 17) ms, within kTimeSteps
    kClear,      // the board works again
    kSteps
};

// The board as the services see it, passing everything to the simulated board and keeping
// what was read last.
class ReadTap : public board::Board {
public:
    explicit ReadTap(board::sim::SimBoard& sim) : sim_(sim) {}

    int open(char const* path, int flags) override { return sim_.open(path, flags); }
    int ioctl(int fd, unsigned long request, void* arg) override { return sim_.ioctl(fd, request, arg); }
    int ifaceIoctl(unsigned long request, ifreq* ifr) override { return sim_.ifaceIoctl(request, ifr); }
    void pause(unsigned int us) override { sim_.pause(us); }
    void closing(int fd) override { sim_.closing(fd); }
    ssize_t read(int fd, void* buf, std::size_t size) override
    {
        // The whole length of the record about to be read, which a shorter read cuts.
        char peek;
        ssize_t const whole = ::recv(fd, &peek, 1, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
        ssize_t const n = sim_.read(fd, buf, size);
        last.fd = fd;
        last.size = n > 0 ? std::max(n, whole) : n;
        last.bytes.fill(0);
        if (n > 0)
            std::memcpy(last.bytes.data(), buf, std::min(std::size_t(n), last.bytes.size()));
        return n;
    }

    struct Read {
        int fd = -1;
        ssize_t size = 0;  // of the record, however much of it was read
        std::array<std::uint8_t, 32> bytes{};
    };
    Read last;

private:
    board::sim::SimBoard& sim_;
};

// What the target knows of the slot numbers it uses.
struct SlotInfo {
    int ts = -1;
    // The id of the last DTMF enable the slot's receiver made, as the device model showed it,
    // and the model's id of the timeslot when the target looked last.
    std::uint32_t rid = 0;
    std::uint32_t modelId = 0;
};

class Gateway;
Gateway* gateway = nullptr;

// A detector's signal must come from a record the rules accept.
class SignalCheck : public testsupport::SignalWatch {
public:
    SignalCheck() : SignalWatch(kName) {}

    // The timeslot each signal shown came from (none: not a detector's), in order.
    std::deque<std::optional<std::uint32_t>> causes;

protected:
    void seen(ZGCP::Signal const& signal) override;
};

// The daemon's part under test, built once and never destroyed.
class Gateway : public testsupport::DaemonHarness {
public:
    Gateway() : DaemonHarness(kName, "DEVICE_RECORDS_LOG", kStartMs)
    {
        env.mixer.addUnit(kUnit, kUnitChannels, 16);
        HwMux::instance();
        RtpFactory::instance();
        Mixer::MixerFactory::instance().RefreshResources();
        Hardware::TonecReceiverService::instance();
        Hardware::DSProcReceiverService::instance();
        bind(signals);
    }

    ReadTap tap{env.sim};
    board::ScopedBoard installed{tap};
    SignalCheck signals;
    std::array<SlotInfo, kSlots> slots{};
};

std::uint32_t modelDtmfId(std::uint32_t ts)
{
    auto const* c = gateway->env.dtmf.channel(ts);
    return c ? c->id : 0;
}

// The slot number's record, its receiver's DTMF id brought up to date with the model.
SlotInfo* infoOf(std::uint32_t ts)
{
    for (unsigned s = 0; s < kSlots; ++s) {
        SlotInfo& info = gateway->slots[s];
        if (info.ts < 0 || std::uint32_t(info.ts) != ts || gateway->table.GetSlotAt(kFirstSlot + s) == nullptr)
            continue;
        std::uint32_t const id = modelDtmfId(ts);
        if (id != info.modelId)
            info.rid = info.modelId = id;
        return &info;
    }
    return nullptr;
}

// Why the record read last may not give the signal; empty when it may.
std::string refused(ZGCP::Signal const& signal, std::uint32_t& ts)
{
    ReadTap::Read const& r = gateway->tap.last;
    bool const tone = r.fd >= 0 && r.fd == Hardware::TonecReceiverService::instance().lowlevel_fd();
    bool const dsp = r.fd >= 0 && r.fd == Hardware::DSProcReceiverService::instance().lowlevel_fd();
    bool const toneCode = signal.tonec_isSelected() && !signal.get_tonec().get_event().dtmfDone_isSelected()
                          && !signal.get_tonec().get_event().tone_presence_isSelected();
    if (toneCode) {
        tonec_event_record rec;
        std::memcpy(&rec, r.bytes.data(), sizeof rec);
        if (!tone || r.size != ssize_t(sizeof rec))
            return "not from a whole tone record";
        ts = rec.timeslot;
        auto const* c = gateway->env.dtmf.channel(rec.timeslot);
        SlotInfo const* info = infoOf(rec.timeslot);
        if (c == nullptr || info == nullptr)
            return "for a timeslot no slot holds";
        if (rec.code <= 127 && (!c->dtmf || rec.id != c->id))
            return "a DTMF code the detector is not on for under id " + std::to_string(rec.id);
        if (rec.code > 127 && (!c->iva || rec.id != info->rid))
            return "an IVA code while IVA is off or under another id than " + std::to_string(info->rid);
        return {};
    }
    bool const vad = signal.vad_isSelected(), sd = signal.sd_isSelected(), bss = signal.bss_isSelected();
    bool const flags = signal.selcal_isSelected();
    bool const toneFilter = signal.tonec_isSelected() && signal.get_tonec().get_event().tone_presence_isSelected();
    if (!vad && !sd && !bss && !flags && !toneFilter)
        return {};
    dsproc_event_record rec;
    std::memcpy(&rec, r.bytes.data(), sizeof rec);
    if (!dsp || r.size != ssize_t(sizeof rec))
        return "not from a whole voice-processing record";
    ts = rec.timeslot;
    auto const* c = gateway->env.dsp.channel(rec.timeslot);
    if (infoOf(rec.timeslot) == nullptr)
        return "for a timeslot no slot holds";
    auto on = [&](std::uint32_t bit, bool byId) {
        if (c == nullptr || !(c->on & bit))
            return false;
        auto const id = c->ids.find(bit);
        return !byId || (id != c->ids.end() && id->second == rec.id);
    };
    std::uint32_t const expected = vad ? (rec.type == dsp::kEventFlags ? dsp::kEventFlags : dsp::kEventVad)
                                   : sd  ? dsp::kEventSd
                                   : bss ? dsp::kEventBss
                                   : flags ? dsp::kEventFlags
                                           : dsp::kEventTone;
    if (rec.type != expected)
        return "from a record of type " + std::to_string(rec.type);
    if ((rec.type == dsp::kEventVad && !on(dsp::kVad, true)) || (rec.type == dsp::kEventSd && !on(dsp::kSd, true))
        || (rec.type == dsp::kEventBss && !on(dsp::kBss, false)))
        return "of a function that is not on under id " + std::to_string(rec.id);
    return {};
}

void SignalCheck::seen(ZGCP::Signal const& signal)
{
    std::uint32_t ts = 0;
    if (std::string const why = refused(signal, ts); !why.empty())
        breach(kName, "a detector signal " + why + ": " + signal.asValueNotation());
    bool const detector = signal.tonec_isSelected() ? !signal.get_tonec().get_event().dtmfDone_isSelected()
                                                    : signal.vad_isSelected() || signal.sd_isSelected()
                                                          || signal.bss_isSelected() || signal.selcal_isSelected();
    causes.push_back(detector ? std::optional<std::uint32_t>(ts) : std::nullopt);
}

// One input's run.
class Run {
public:
    // Nothing is known of the slot numbers yet.
    explicit Run(Input& in) : in_(in)
    {
        for (SlotInfo& info : gateway->slots)
            info = SlotInfo{};
    }

    void steps()
    {
        while (!in_.done())
            step(Step(in_.byte() % kSteps));
        check();
    }

    // Every slot goes, the board works again and the devices come back: nothing may stay.
    void finish()
    {
        for (unsigned s = 0; s < kSlots; ++s)
            run(s, testsupport::plainCommand(ZGCP::Command::destroy::id));
        board::sim::SimBoard& board = gateway->env.sim;
        board.clearFailures();
        // A request made to fail may have left a function on in a driver: both devices end, so
        // that the drivers let go of everything before the next input.
        if (failedRequests_) {
            for (bool tone : {true, false})
                board.failRead(device(tone).path(), board::sim::ReadFault{board::sim::ReadFault::Kind::hangup, 0}, 1);
            testsupport::settle();
        }
        comeBack();
        check();
        leftOver();
    }

    // A fresh RTP channel's DTMF and VAD detectors report what the devices send.
    void useAgain()
    {
        failedRequests_ = false;
        if (!create(0, testsupport::rtpParams(testsupport::rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1", 7000))))
            breach(kName, "a fresh RTP channel is refused");
        std::uint32_t const ts = std::uint32_t(gateway->slots[0].ts);
        run(0, testsupport::ioctlCommand(P(P::dtmf_enable::id, true)));
        run(0, testsupport::ioctlCommand(P(P::vad_enable::id, true)));
        reports_ = 0;
        gateway->env.dtmf.inject(ts, 5);
        dsproc_event_record vad{};
        vad.timeslot = ts;
        vad.type = dsp::kEventVad;
        vad.id = gateway->env.dsp.channel(ts)->ids.at(dsp::kVad);
        vad.payload.vad = {1, 1, 0};
        gateway->env.dsp.inject(vad);
        check();
        if (reports_ != 2)
            breach(kName, "the devices back serve a fresh channel with " + std::to_string(reports_)
                                           + " of 2 events");
        finish();
    }

private:
    void step(Step kind)
    {
        switch (kind) {
        case kRtp: {
            unsigned const s = in_.byte() % kSlots;
            create(s, testsupport::rtpParams(testsupport::rtpCreate(TERM::Payload::ptG711_Alaw, "127.0.0.1",
                                                                    7000 + 10 * int(s))));
            break;
        }
        case kMixerIn:
        case kMixerOut: {
            unsigned const s = in_.byte() % kSlots;
            ZGCP::MixerChannel const channel = testsupport::tdmChannel(in_.byte() % kUnitChannels);
            create(s, kind == kMixerIn ? testsupport::mixerInParams(kUnit, channel)
                                       : testsupport::mixerOutParams(kUnit, channel, {}));
            break;
        }
        case kDestroy: run(in_.byte() % kSlots, testsupport::plainCommand(ZGCP::Command::destroy::id)); break;
        case kIoctl: {
            unsigned const s = in_.byte() % kSlots;
            run(s, testsupport::ioctlCommand(ioctl()));
            break;
        }
        case kIoctlPer: {
            unsigned const s = in_.byte() % kSlots;
            std::vector<std::uint8_t> const bytes = in_.take(in_.byte());
            P params;
            if (testsupport::decodePer(bytes, params))
                run(s, testsupport::ioctlCommand(params));
            break;
        }
        case kBss: {
            unsigned const s = in_.byte() % kSlots;
            bool const on = in_.byte() & 1;
            if (auto* rtp = dynamic_cast<RtpSlot*>(gateway->table.GetSlotAt(kFirstSlot + s)))
                rtp->enableBSS(on);
            break;
        }
        case kToneRecord: toneRecord(); break;
        case kDspRecord: dspRecord(); break;
        case kRaw: {
            bool const tone = in_.byte() & 1;
            std::size_t const length = in_.byte();
            std::vector<std::uint8_t> const given = in_.take(std::max<std::size_t>(length % 255, 1));
            // 255: the record sent last with the bytes after it, longer than any record.
            std::vector<std::uint8_t> bytes = length == 255 ? last_ : given;
            if (length == 255)
                bytes.insert(bytes.end(), given.begin(), given.end());
            if (!given.empty())
                send(tone, bytes);
            break;
        }
        case kBurst:
            for (unsigned i = 0, count = in_.byte(); i < count && !last_.empty(); ++i)
                device(lastTone_).broadcast(last_.data(), last_.size());
            break;
        case kEnd: end(); break;
        case kTime: passTime(in_.byte()); break;
        case kClear: gateway->env.sim.clearFailures(); break;
        default: break;
        }
        check();
    }

    // A create for the slot number; true when it made a slot.
    bool create(unsigned s, ZGCP::CreateParams const& params)
    {
        if (run(s, testsupport::createCommand(params)) != Slots::Answer::success)
            return false;
        Slot* slot = gateway->table.GetSlotAt(kFirstSlot + s);
        if (slot == nullptr)
            return false;
        SlotInfo& info = gateway->slots[s];
        info.ts = std::max(slot->GetTransmitChannel(), slot->GetReceiveChannel());
        info.rid = 0;
        info.modelId = modelDtmfId(std::uint32_t(info.ts));
        return true;
    }

    Slots::Answer::Kind run(unsigned s, ZGCP::Command const& command)
    {
        return gateway->table.Execute(kFirstSlot + s, command).kind;
    }

    // A function of the slot's channel switched on or off, or configured, by the input.
    P ioctl()
    {
        std::uint8_t const which = in_.byte();
        bool const on = which & 0x80;
        switch (which % 23) {
        case 0: return P(P::dtmf_enable::id, on);
        case 1: {
            P p;
            p.select_dtmf_disable();
            return p;
        }
        case 2: {
            ZGCP::DTMFParams d;
            d.set_threshold().set_twist(in_.byte());
            d.set_threshold().set_ratio(in_.byte());
            d.set_threshold().set_noise(in_.byte());
            d.set_level().set_silence(in_.byte());
            return P(P::dtmf_params::id, d);
        }
        case 3: return P(P::iva_enable::id, on);
        case 4: {
            ZGCP::IVAParams iva;
            iva.set_det_lvl_dB(-int(in_.byte()));
            return P(P::iva_params::id, iva);
        }
        case 5: return P(P::vad_enable::id, on);
        case 6: {
            P p;
            p.select_vad_disable();
            return p;
        }
        case 7: {
            P p;
            ZGCP::VADParams& v = p.select_vad_params();
            if (on) {
                TERM::VADParamsV2& v2 = v.select_v2();
                v2.set_voice_th_msec(in_.byte());
                v2.set_silence_th_msec(in_.byte());
                v2.set_e_th_dB(in_.byte());
            } else {
                v.select_v1();
            }
            return p;
        }
        case 8: return P(P::sd_enable::id, on);
        case 9: {
            P p;
            p.select_sd_disable();
            return p;
        }
        case 10: {
            P p;
            p.select_sd_params();
            return p;
        }
        case 11: {
            P p;
            p.select_rx_gain().set_gainDB(int(std::int8_t(in_.byte())));
            return p;
        }
        case 12: {
            P p;
            ZGCP::ToneFilter& f = p.select_tone_filter();
            f.set_freq(in_.bigWord16());
            f.set_enable(on);
            f.set_duration_th_msec(in_.byte());
            f.set_det_level_dB(-int(in_.byte()));
            return p;
        }
        case 13: {
            P p;
            ZGCP::Delays& d = p.select_delays();
            d.set_rx(in_.byte());
            d.set_tx(in_.byte());
            return p;
        }
        case 14: return P(P::echoSuppressor::id, on);
        case 15: return P(P::dtmf_reject_enable::id, on);
        case 16: {
            P p;
            ZGCP::MuteParams& m = p.select_mute_enable();
            m.set_rx((which & 0x40) != 0);
            m.set_tx(on);
            return p;
        }
        case 17: {
            P p;
            p.select_mute_disable();
            return p;
        }
        case 18: {
            // Digits of the DTMF pairs with their durations: the generator's timed steps.
            P p;
            ZGCP::TranslateDtmfParams& t = p.select_translateDTMF();
            for (unsigned i = 0, n = in_.byte() % 5; i < n; ++i) {
                ZGCP::DualTone tone;
                tone.set_freq1(697 + in_.byte());
                tone.set_freq2(1209 + in_.byte());
                t.set_digits().push_back(tone);
            }
            if (on) {
                t.set_toneDuration(in_.byte());
                t.set_pauseDuration(in_.byte());
            }
            return p;
        }
        case 19: {
            P p;
            if (on)
                p.select_activateWaitTone();
            else
                p.select_deactivateWaitTone();
            return p;
        }
        case 20: {
            P p;
            if (on) {
                ZGCP::ToneGenerator& g = p.select_tone_gen_enable();
                g.set_freq(in_.bigWord16());
                g.set_amp(in_.bigWord16());
            } else {
                p.select_tone_gen_disable();
            }
            return p;
        }
        case 21: {
            P p;
            TERM::SelcalCommand& c = p.select_selcal();
            c.set_signs(std::string(in_.byte() % 6, char('0' + which % 10)));
            if (on)
                c.set_amp(in_.bigWord16());
            return p;
        }
        default: {
            P p;
            p.select_dtmf_reject_disable();
            return p;
        }
        }
    }

    // Whose timeslot a record names: a slot's (by number), or one no slot holds.
    std::uint32_t target(std::uint8_t operand) const
    {
        SlotInfo const& info = gateway->slots[operand % kSlots];
        if (operand & 0x80 || info.ts < 0)
            return operand & 0x40 ? 0xFFFFFFFFu - (operand & 3) : std::uint32_t(operand & 0x3f);
        return std::uint32_t(info.ts);
    }

    // An id from the operand: the current one (0-127), one before it (stale), 0 or made up.
    std::uint32_t id(std::uint8_t operand, std::uint32_t current)
    {
        if (operand < 128)
            return current;
        if (operand < 192)
            return current - 1 - (operand & 7);
        return operand < 224 ? 0 : in_.bigWord32();
    }

    void toneRecord()
    {
        std::uint32_t const ts = target(in_.byte());
        std::uint8_t const code = in_.byte();
        // 0-127 DTMF, then the IVA codes shifted, then any word.
        std::uint32_t const value = code < 128   ? code
                                    : code < 224 ? std::uint32_t(code & 31) << dtmf::kIvaShift
                                                 : in_.bigWord32();
        tonec_event_record r{value, ts, in_.bigWord16(), id(in_.byte(), modelDtmfId(ts))};
        send(true, std::vector<std::uint8_t>(reinterpret_cast<std::uint8_t const*>(&r),
                                             reinterpret_cast<std::uint8_t const*>(&r) + sizeof r));
    }

    void dspRecord()
    {
        static std::uint32_t const types[] = {dsp::kEventVad, dsp::kEventSd, dsp::kEventBss, dsp::kEventTone,
                                              dsp::kEventFlags};
        dsproc_event_record r{};
        r.timeslot = target(in_.byte());
        std::uint8_t const type = in_.byte();
        r.type = type < 250 ? types[type % 5] : in_.bigWord32();
        std::uint32_t const feature = r.type == dsp::kEventVad ? dsp::kVad
                                      : r.type == dsp::kEventSd ? dsp::kSd
                                                                : dsp::kBss;
        std::uint32_t current = 0;
        if (auto const* c = gateway->env.dsp.channel(r.timeslot))
            if (auto const it = c->ids.find(feature); it != c->ids.end())
                current = it->second;
        r.id = id(in_.byte(), current);
        std::vector<std::uint8_t> const payload = in_.take(sizeof r.payload);
        if (!payload.empty())
            std::memcpy(r.payload.bytes, payload.data(), payload.size());
        send(false, std::vector<std::uint8_t>(reinterpret_cast<std::uint8_t const*>(&r),
                                              reinterpret_cast<std::uint8_t const*>(&r) + sizeof r));
    }

    board::sim::Device& device(bool tone) const
    {
        return tone ? static_cast<board::sim::Device&>(gateway->env.dtmf) : gateway->env.dsp;
    }

    void send(bool tone, std::vector<std::uint8_t> const& bytes)
    {
        device(tone).broadcast(bytes.data(), bytes.size());
        last_ = bytes;
        lastTone_ = tone;
    }

    void end()
    {
        board::sim::SimBoard& board = gateway->env.sim;
        std::uint8_t const which = in_.byte();
        std::uint8_t const fault = in_.byte();
        std::string const& path = device(which & 1).path();
        int const times = 1 + fault / 8 % 4;
        using Kind = board::sim::ReadFault::Kind;
        switch (fault % 6) {
        case 0:
        case 1:
        case 2: board.failRead(path, board::sim::ReadFault{Kind(fault % 3), 0}, 1); break;
        case 3: board.failRead(path, board::sim::ReadFault{Kind::error, fault & 0x80 ? EAGAIN : EIO}, times); break;
        case 4: board.failOpen(path, EIO, fault & 0x80 ? -1 : times); break;
        default: {
            auto const& requests = device(which & 1).requests();
            board.failRequest(path, requests[which / 2 % requests.size()].number, EIO, times);
            failedRequests_ = true;
            break;
        }
        }
    }

    void passTime(std::uint8_t operand)
    {
        std::uint32_t const ms = time_.spend(1u << (operand % 17));
        testsupport::passTime(gateway->clock, ms, 1000, [this] { check(); });
    }

    // The devices' tries go on until both are back and past their trial.
    void comeBack()
    {
        Hardware::DriverService* const services[] = {&Hardware::TonecReceiverService::instance(),
                                                     &Hardware::DSProcReceiverService::instance()};
        for (Hardware::DriverService* service : services)
            service->init();
        for (std::uint32_t waited = 0; waited <= 2 * DeviceReturn::last_wait_ms; waited += 1000) {
            bool const away = std::any_of(std::begin(services), std::end(services), [](auto* s) { return s->away(); });
            if (!away && multiplexer.timer_count() == gateway->baseline.timers())
                break;
            testsupport::advance(gateway->clock, 1000);
        }
        for (Hardware::DriverService* service : services)
            if (!service->IsActive())
                breach(kName, "a device that ended is not back");
    }

    void check()
    {
        testsupport::settle();
        auto& causes = gateway->signals.causes;
        for (auto const& signal : gateway->controller.take()) {
            if (causes.empty())
                breach(kName, "a signal sent that the services were not shown");
            std::optional<std::uint32_t> const ts = causes.front();
            causes.pop_front();
            unsigned const s = unsigned(signal.slot) - kFirstSlot;
            if (ts && (s >= kSlots || gateway->slots[s].ts != int(*ts)))
                breach(kName, "a detector signal of timeslot " + std::to_string(*ts) + " sent for slot "
                                               + std::to_string(signal.slot));
            if (ts)
                ++reports_;
        }
    }

    void leftOver()
    {
        gateway->env.sim.service();
        if (!failedRequests_)
            for (SlotInfo const& info : gateway->slots)
                detectorsOff(info.ts);
        gateway->checkLeftOver();
    }

    // What a slot switched on its channel is off once it has gone.
    static void detectorsOff(int ts)
    {
        if (ts < 0)
            return;
        auto const* tone = gateway->env.dtmf.channel(std::uint32_t(ts));
        if (tone && (tone->dtmf || tone->iva || tone->rejection))
            breach(kName, "a tone detector is left on for timeslot " + std::to_string(ts));
        auto const* dsp = gateway->env.dsp.channel(std::uint32_t(ts));
        if (dsp && ((dsp->on & (dsp::kVad | dsp::kBss | dsp::kNg)) || !dsp->toneFilters.empty()))
            breach(kName, "a voice-processing function is left on for timeslot " + std::to_string(ts));
    }

    Input& in_;
    std::vector<std::uint8_t> last_;
    bool lastTone_ = true;
    testsupport::TimeBudget time_{kTimeSteps};
    bool failedRequests_ = false;
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
