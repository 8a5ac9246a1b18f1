#include "hardware/dsproc_receiver.h"

#include "base/immortal.h"
#include "base/trace_ctl.h"
#include "hardware/board_devices.h"
#include "messages/term.h"
#include "messages/zgcp.h"

#include <fcntl.h>

#include <algorithm>
#include <iostream>

namespace Hardware {

namespace {

// Never destroyed, so that receivers left at exit may still unlink themselves.
Immortal<Containers::CyclicList> receiverList;

// The driver's parameters of VAD before version 2, whatever the controller sent.
constexpr std::uint32_t kVadV1[3] = {3, 127, 0};

std::ostream& recordFields(std::ostream& os, dsproc_event_record const& r)
{
    return os << " timeslot=" << r.timeslot << " id=" << r.id << " type=" << r.type;
}

void traceRecord(dsproc_event_record const& r)
{
    recordFields(std::clog << "dsproc event: ", r) << std::endl;
    auto const& p = r.payload;
    switch (r.type) {
    case dsp::kEventVad:
        std::clog << "dsproc vad event: " << " dir_mask=" << p.vad.dir_mask << " vad_rx=" << p.vad.vad_rx
                  << " vad_tx=" << p.vad.vad_tx << std::endl;
        break;
    case dsp::kEventSd: std::clog << "dsproc sd event: " << " sd_rx=" << p.sd.sd_rx << std::endl; break;
    case dsp::kEventBss: std::clog << "dsproc bss event: " << " score=" << p.bss.score << std::endl; break;
    case dsp::kEventFlags:
        std::clog << "dsproc flags event: " << std::hex << " flags=" << p.flags.flags << ", mask=" << p.flags.mask
                  << std::dec << std::endl;
        break;
    }
}

// A VAD or SD record is taken only while this receiver has the function on and under the
// id of its last enable.
bool accepted(DSProcReceiver::State const& function, dsproc_event_record const& r, bool trace)
{
    if (function.state != 1) {
        if (trace)
            recordFields(std::clog << "ignore spurious dsproc vad event (dsproc disabled): ", r) << std::endl;
        return false;
    }
    if (function.id != r.id) {
        if (trace)
            recordFields(std::clog << "ignore spurious dsproc vad event: ", r) << " rid=" << function.id << std::endl;
        return false;
    }
    return true;
}

}  // namespace

Containers::CyclicList& dsprocReceivers() { return receiverList.value; }

// The service.

DSProcReceiverService& DSProcReceiverService::instance()
{
    static DSProcReceiverService service;
    return service;
}

DSProcReceiverService::DSProcReceiverService(std::uint32_t lastId)
    : DriverService({"dsproc", GetDSPDevName(), O_RDWR | O_NONBLOCK | O_CLOEXEC, "DSProcReceiverService::OnEvent",
                     "open dsproc fail, VAD proceeding disabled: "},
                    lastId)
{
    init();
}

bool DSProcReceiverService::configure(dsproc_configure_params& r, char const* failText)
{
    if (request(dsp::kConfigure, &r) != -1)
        return true;
    ErrnoField e;
    done(std::cerr) << failText << " timeslot=" << r.timeslot << e << std::endl;
    return false;
}

bool DSProcReceiverService::configureVAD(unsigned ts, ZGCP::VADParams const& params)
{
    if (!ready("configure VAD", ts))
        return false;
    dsproc_configure_params r{};
    r.timeslot = ts;
    r.kind = dsp::kConfigureVad;
    if (request(dsp::kVersion, board::byValue(0)) == dsp::kVersionThresholds) {
        if (!params.v2_isSelected()) {
            done(std::cerr) << "DSPROC_CONFIGURE VAD: params not specified for v2: " << " timeslot=" << ts << std::endl;
            return false;
        }
        TERM::VADParamsV2 const& v2 = params.get_v2();
        r.params.vad_v2.voice_th_msec = std::uint16_t(v2.get_voice_th_msec().getValue());
        r.params.vad_v2.silence_th_msec = std::uint16_t(v2.get_silence_th_msec().getValue());
        r.params.vad_v2.e_th_dB = std::uint8_t(v2.get_e_th_dB().getValue());
    } else {
        std::copy(std::begin(kVadV1), std::end(kVadV1), r.params.vad_v1);
    }
    if (!configure(r, "DSPROC_CONFIGURE VAD fail:"))
        return false;
    done(std::clog) << "DSPROC_CONFIGURE VAD" << " ts=" << ts << std::endl;
    return true;
}

bool DSProcReceiverService::configureSD(unsigned ts)
{
    if (!ready("configure SD", ts))
        return false;
    dsproc_configure_params r{};
    r.timeslot = ts;
    r.kind = dsp::kConfigureSd;
    if (!configure(r, "DSPROC_CONFIGURE SD fail:"))
        return false;
    done(std::clog) << "DSPROC_CONFIGURE SD" << " ts=" << ts << std::endl;
    return true;
}

bool DSProcReceiverService::configureDelays(unsigned ts, unsigned rx, unsigned tx)
{
    if (!ready("configure Delays", ts))
        return false;
    dsproc_configure_params r{};
    r.timeslot = ts;
    r.kind = dsp::kConfigureDelays;
    r.params.delays.rx = rx;
    r.params.delays.tx = tx;
    if (!configure(r, "DSPROC_CONFIGURE DELAYS fail:"))
        return false;
    done(std::clog) << "DSPROC_CONFIGURE DELAYS" << " ts=" << ts << " rx=" << rx << " tx=" << tx << std::endl;
    return true;
}

bool DSProcReceiverService::configureRxGain(unsigned ts, char gain_dB)
{
    if (!ready("Configure Rx gain", ts))
        return false;
    dsproc_configure_params r{};
    r.timeslot = ts;
    r.kind = dsp::kConfigureRxGain;
    r.params.gain_dB = std::int8_t(gain_dB);
    if (!configure(r, "DSPROC_CONFIGURE Rx Gain fail:"))
        return false;
    done(std::clog) << "DSPROC_CONFIGURE RX GAIN" << " ts=" << ts << " gain_dB=" << int(r.params.gain_dB)
                    << std::endl;
    return true;
}

bool DSProcReceiverService::configureToneFilter(unsigned ts, unsigned freq, unsigned enable, int dur_th_msec,
                                                int det_lvl_dB)
{
    if (!ready("Configure Tone Filter", ts))
        return false;
    dsproc_configure_params r{};
    r.timeslot = ts;
    r.kind = dsp::kConfigureTone;
    r.params.tone.freq = std::uint16_t(freq);
    r.params.tone.enable = std::uint8_t(enable);
    r.params.tone.dur_th_msec = std::uint16_t(dur_th_msec);
    r.params.tone.det_lvl_dB = std::int8_t(det_lvl_dB);
    if (!configure(r, "DSPROC_CONFIGURE Tone Filter fail:"))
        return false;
    done(std::clog) << "DSPROC_CONFIGURE TONE FILTER" << " ts=" << ts << " freq=" << freq << ", en=" << enable
                    << ", dur_th_msec=" << dur_th_msec << ", det_lvl_dB=" << det_lvl_dB << std::endl;
    return true;
}

bool DSProcReceiverService::disableToneAll(unsigned ts)
{
    if (!ready("Disable All Tone", ts))
        return false;
    dsproc_enable_params r{ts, 0, dsp::kToneAll};
    if (request(dsp::kDisable, &r) == -1) {
        ErrnoField e;
        done(std::cerr) << "Disable All Tone fail:" << " timeslot=" << ts << e << std::endl;
        return false;
    }
    done(std::clog) << "DISABLE ALL TONE done: " << " ts=" << ts << std::endl;
    return true;
}

bool DSProcReceiverService::enableRequest(unsigned long number, dsproc_enable_params& r, char const* name)
{
    char const* word = number == dsp::kEnable ? "DSPROC_ENABLE " : "DSPROC_DISABLE ";
    bool const ok = request(number, &r) != -1;
    ErrnoField e;
    std::ostream& os = done(std::cerr);
    os << word << name << (ok ? " done:" : " fail:") << " timeslot=" << r.timeslot;
    if (number == dsp::kEnable)
        os << " id=" << r.id;
    if (!ok)
        os << e;
    os << std::endl;
    return ok;
}

bool DSProcReceiverService::enable(DSProcReceiver& receiver, Function function, std::uint32_t mask, char const* name,
                                   bool on)
{
    if (!ready(on ? "DSPROC_ENABLE " : "DSPROC_DISABLE ", receiver.dsproc_timeslot(), name))
        return false;
    DSProcReceiver::State const& held = receiver.held_.*function;
    bool const already = held.state >= 0 && (held.state != 0) == on;
    if (!already && !requestEnable(receiver, function, mask, name, on)) {
        // SD stays on when its channel is let go of: one never switched on may be on.
        bool const known = function != &DSProcReceiver::Functions::sd;
        return !on && known
               && needless((receiver.want_.*function).state > 0 || held.state > 0, receiver.dsproc_timeslot());
    }
    receiver.want_.*function = held;
    return true;
}

bool DSProcReceiverService::requestEnable(DSProcReceiver& receiver, Function function, std::uint32_t mask,
                                          char const* name, bool on)
{
    dsproc_enable_params r{receiver.dsproc_timeslot(), on ? nextId() : 0, mask};
    if (!enableRequest(on ? dsp::kEnable : dsp::kDisable, r, name))
        return false;
    DSProcReceiver::State& held = receiver.held_.*function;
    held.state = on ? 1 : 0;
    if (on)
        held.id = r.id;
    return true;
}

bool DSProcReceiverService::enableVAD(DSProcReceiver& receiver, bool on)
{
    return enable(receiver, &DSProcReceiver::Functions::vad, dsp::kVad, "VAD", on);
}

bool DSProcReceiverService::enableSD(DSProcReceiver& receiver, bool on)
{
    return enable(receiver, &DSProcReceiver::Functions::sd, dsp::kSd, "SD", on);
}

bool DSProcReceiverService::enableBSS(DSProcReceiver& receiver, bool on)
{
    return enable(receiver, &DSProcReceiver::Functions::bss, dsp::kBss, "BSS", on);
}

bool DSProcReceiverService::enableNG(DSProcReceiver& receiver, bool on)
{
    return enable(receiver, &DSProcReceiver::Functions::ng, dsp::kNg, "NG", on);
}

bool DSProcReceiverService::enableMute(DSProcReceiver& receiver, bool rx, bool tx)
{
    if (!ready(rx || tx ? "DSPROC_ENABLE " : "DSPROC_DISABLE ", receiver.dsproc_timeslot(), "MUTE"))
        return false;
    DSProcReceiver::Functions const& held = receiver.held_;
    bool const already =
        held.muteRx >= 0 && held.muteTx >= 0 && (held.muteRx != 0) == rx && (held.muteTx != 0) == tx;
    if (!already && !requestMute(receiver, rx, tx))
        return false;
    receiver.want_.muteRx = held.muteRx;
    receiver.want_.muteTx = held.muteTx;
    receiver.want_.muteId = held.muteId;
    return true;
}

bool DSProcReceiverService::requestMute(DSProcReceiver& receiver, bool rx, bool tx)
{
    bool const on = rx || tx;
    std::uint32_t const mask = on ? (rx ? dsp::kMuteRx : 0) | (tx ? dsp::kMuteTx : 0) : dsp::kMuteRx | dsp::kMuteTx;
    dsproc_enable_params r{receiver.dsproc_timeslot(), on ? nextId() : 0, mask};
    if (!enableRequest(on ? dsp::kEnable : dsp::kDisable, r, "MUTE"))
        return false;
    DSProcReceiver::Functions& held = receiver.held_;
    if (on)
        held.muteId = r.id;
    held.muteRx = rx ? 1 : 0;
    held.muteTx = tx ? 1 : 0;
    return true;
}

void DSProcReceiverService::OnEvent(int fd, short revents)
{
    readBurst<dsproc_event_record>(fd, revents, [this](dsproc_event_record const& r) { route(r); });
}

void DSProcReceiverService::route(dsproc_event_record const& r)
{
    bool const trace = traces.signalling.events;
    if (trace)
        traceRecord(r);
    DSProcReceiver* receiver = nullptr;
    for (Containers::CyclicList& node : dsprocReceivers()) {
        if (DSProcReceiver::of(&node)->dsproc_timeslot() == r.timeslot) {
            receiver = DSProcReceiver::of(&node);
            break;
        }
    }
    if (receiver == nullptr) {
        if (trace)
            std::cerr << "receive dsproc event from unknown timeslot " << r.timeslot << std::endl;
        return;
    }
    auto const& p = r.payload;
    switch (r.type) {
    case dsp::kEventVad:
        if (accepted(receiver->held_.vad, r, trace)) {
            DSProcVADEvent event{-1, -1};
            if (p.vad.dir_mask & 1)
                event.vad_rx = p.vad.vad_rx;
            if (p.vad.dir_mask & 2)
                event.vad_tx = p.vad.vad_tx;
            receiver->dsproc_vad_event(event);
        }
        break;
    case dsp::kEventSd:
        if (accepted(receiver->held_.sd, r, trace))
            receiver->dsproc_sd_event(DSProcSDEvent{p.sd.sd_rx});
        break;
    case dsp::kEventBss:
        if (receiver->held_.bss.state > 0)
            receiver->dsproc_bss_event(&p.bss);
        else if (trace)
            recordFields(std::clog << "ignore spurious dsproc bss event (dsproc disabled): ", r) << std::endl;
        break;
    case dsp::kEventTone: receiver->dsproc_tone_flt_event(&p.tone); break;
    case dsp::kEventFlags: receiver->dsproc_flags_event(&p.flags); break;
    }
}

bool DSProcReceiverService::restore()
{
    bool whole = true;
    for (Containers::CyclicList& node : dsprocReceivers())
        whole = restore(*DSProcReceiver::of(&node)) && whole;
    return whole;
}

namespace {

bool on(DSProcReceiver::State const& s) { return s.state > 0; }

}  // namespace

// What the driver does not hold yet: the configurations first, then the functions that are
// on, under new ids. True when it holds all of it.
bool DSProcReceiverService::restore(DSProcReceiver& r)
{
    unsigned const ts = r.dsproc_timeslot();
    DSProcReceiver::Functions& want = r.want_;
    DSProcReceiver::Functions& held = r.held_;
    if (want.vadConfigured && !held.vadConfigured)
        held.vadConfigured = configureVAD(ts, *r.vadParams_);
    if (want.sdConfigured && !held.sdConfigured)
        held.sdConfigured = configureSD(ts);
    bool const delays = want.rxDelay == held.rxDelay && want.txDelay == held.txDelay;
    if (!delays && configureDelays(ts, want.rxDelay, want.txDelay)) {
        held.rxDelay = want.rxDelay;
        held.txDelay = want.txDelay;
    }
    if (want.rxGain != held.rxGain && configureRxGain(ts, want.rxGain))
        held.rxGain = want.rxGain;
    for (auto const& [freq, f] : want.toneFilters) {
        auto const it = held.toneFilters.find(freq);
        if ((it == held.toneFilters.end() || !(it->second == f))
            && configureToneFilter(ts, freq, f.enable, f.dur_th_msec, f.det_lvl_dB))
            held.toneFilters[freq] = f;
    }
    struct Named {
        Function function;
        std::uint32_t mask;
        char const* name;
    };
    bool functions = true;
    for (Named const& f : {Named{&DSProcReceiver::Functions::vad, dsp::kVad, "VAD"},
                           {&DSProcReceiver::Functions::sd, dsp::kSd, "SD"},
                           {&DSProcReceiver::Functions::bss, dsp::kBss, "BSS"},
                           {&DSProcReceiver::Functions::ng, dsp::kNg, "NG"}}) {
        if (on(want.*f.function) && !on(held.*f.function) && requestEnable(r, f.function, f.mask, f.name, true))
            want.*f.function = held.*f.function;
        functions = functions && on(want.*f.function) == on(held.*f.function);
    }
    bool const rx = want.muteRx > 0, tx = want.muteTx > 0;
    if ((rx || tx) && ((held.muteRx > 0) != rx || (held.muteTx > 0) != tx) && requestMute(r, rx, tx))
        want.muteId = held.muteId;
    return held.vadConfigured == want.vadConfigured && held.sdConfigured == want.sdConfigured
           && held.rxDelay == want.rxDelay && held.txDelay == want.txDelay && held.rxGain == want.rxGain
           && held.toneFilters.size() == want.toneFilters.size() && functions && (held.muteRx > 0) == rx
           && (held.muteTx > 0) == tx;
}

namespace {

// The switch-offs of a channel let go of.
constexpr std::uint32_t kVadOff = 1;
constexpr std::uint32_t kBssOff = 2;
constexpr std::uint32_t kNgOff = 4;
constexpr std::uint32_t kDelaysOff = 8;
constexpr std::uint32_t kRxGainOff = 16;
constexpr std::uint32_t kToneFiltersOff = 32;

struct NamedOff {
    std::uint32_t off;
    std::uint32_t mask;  // of the disable request, for the functions
    char const* name;
};
constexpr NamedOff kSwitchOffs[] = {
    {kVadOff, dsp::kVad, "VAD"},         {kBssOff, dsp::kBss, "BSS"},          {kNgOff, dsp::kNg, "NG"},
    {kDelaysOff, 0, "the delays"},        {kRxGainOff, 0, "the receive gain"}, {kToneFiltersOff, 0, "the tone filters"},
};

}  // namespace

void DSProcReceiverService::letGo(DSProcReceiver& r)
{
    DSProcReceiver::Functions const& held = r.held_;
    bool const delays = held.rxDelay != 0 || held.txDelay != 0;
    SwitchOffs const had = (on(held.vad) ? kVadOff : 0) | (on(held.bss) ? kBssOff : 0) | (on(held.ng) ? kNgOff : 0)
                           | (delays ? kDelaysOff : 0) | (held.rxGain != 0 ? kRxGainOff : 0)
                           | (held.toneFilters.empty() ? 0 : kToneFiltersOff);
    // Every tone filter of the channel is switched off, whoever set it; only one the channel
    // had is owed when the driver refuses.
    DriverService::letGo(r.dsproc_timeslot(), had, kToneFiltersOff);
}

bool DSProcReceiverService::switchOff(unsigned ts, SwitchOffs off)
{
    switch (off) {
    case kDelaysOff: return configureDelays(ts, 0, 0);
    case kRxGainOff: return configureRxGain(ts, 0);
    case kToneFiltersOff: return disableToneAll(ts);
    }
    for (NamedOff const& f : kSwitchOffs) {
        if (f.off == off) {
            dsproc_enable_params r{ts, 0, f.mask};
            return enableRequest(dsp::kDisable, r, f.name);
        }
    }
    return true;
}

void DSProcReceiverService::nameSwitchOffs(std::ostream& os, SwitchOffs offs) const
{
    char const* sep = "";
    for (NamedOff const& f : kSwitchOffs) {
        if ((offs & f.off) != 0) {
            os << sep << f.name;
            sep = ", ";
        }
    }
}

void DSProcReceiverService::forget()
{
    for (Containers::CyclicList& node : dsprocReceivers())
        DSProcReceiver::of(&node)->held_ = DSProcReceiver::Functions();
}

// The receiver.

DSProcReceiver::DSProcReceiver() { dsprocReceivers().AddToTail(&link_); }

DSProcReceiver::~DSProcReceiver() = default;

bool DSProcReceiver::configureVAD(ZGCP::VADParams const& params)
{
    if (!DSProcReceiverService::instance().configureVAD(dsproc_timeslot(), params))
        return false;
    vadParams_ = params;
    want_.vadConfigured = held_.vadConfigured = true;
    return true;
}

bool DSProcReceiver::enableVAD(bool on) { return DSProcReceiverService::instance().enableVAD(*this, on); }
bool DSProcReceiver::disableVAD() { return enableVAD(false); }
bool DSProcReceiver::enableBSS(bool on) { return DSProcReceiverService::instance().enableBSS(*this, on); }
bool DSProcReceiver::disableBSS() { return enableBSS(false); }
bool DSProcReceiver::enableNG(bool on) { return DSProcReceiverService::instance().enableNG(*this, on); }
bool DSProcReceiver::disableNG() { return enableNG(false); }
bool DSProcReceiver::configureSD()
{
    if (!DSProcReceiverService::instance().configureSD(dsproc_timeslot()))
        return false;
    want_.sdConfigured = held_.sdConfigured = true;
    return true;
}
bool DSProcReceiver::enableSD(bool on) { return DSProcReceiverService::instance().enableSD(*this, on); }
bool DSProcReceiver::disableSD() { return enableSD(false); }
bool DSProcReceiver::enableMute(bool rx, bool tx) { return DSProcReceiverService::instance().enableMute(*this, rx, tx); }
bool DSProcReceiver::disableMute() { return enableMute(false, false); }

bool DSProcReceiver::configureDelays(unsigned rx, unsigned tx)
{
    if (!DSProcReceiverService::instance().configureDelays(dsproc_timeslot(), rx, tx))
        return false;
    want_.rxDelay = held_.rxDelay = rx;
    want_.txDelay = held_.txDelay = tx;
    return true;
}

bool DSProcReceiver::configureRxGain(char gain_dB)
{
    if (!DSProcReceiverService::instance().configureRxGain(dsproc_timeslot(), gain_dB))
        return false;
    want_.rxGain = held_.rxGain = gain_dB;
    return true;
}

bool DSProcReceiver::configureToneFilter(unsigned freq, unsigned enable, int dur_th_msec, int det_lvl_dB)
{
    if (!DSProcReceiverService::instance().configureToneFilter(dsproc_timeslot(), freq, enable, dur_th_msec,
                                                               det_lvl_dB))
        return false;
    // The driver keeps a filter by its frequency, cut to 16 bits.
    unsigned const key = freq & 0xFFFF;
    for (Functions* f : {&want_, &held_}) {
        if (enable != 0)
            f->toneFilters[key] = {enable, dur_th_msec, det_lvl_dB};
        else
            f->toneFilters.erase(key);
    }
    return true;
}

void DSProcReceiver::disableToneAll()
{
    if (!DSProcReceiverService::instance().disableToneAll(dsproc_timeslot()))
        return;
    want_.toneFilters.clear();
    held_.toneFilters.clear();
}

void DSProcReceiver::CleanBeforeDestroy()
{
    // The channel is let go of: its events reach nobody and nothing of it is put back on a
    // device opened again.
    link_.Remove();
    DSProcReceiverService::instance().letGo(*this);
}

}  // namespace Hardware
