#include "hardware/tonec_receiver.h"

#include "base/immortal.h"
#include "hardware/board_devices.h"

#include <fcntl.h>

#include <algorithm>
#include <iostream>
#include <utility>

namespace Hardware {
namespace {

// Never destroyed, so that receivers left at exit may still unlink themselves.
Immortal<Containers::CyclicList> receiverList;

constexpr std::uint16_t kDefaultAmplitude = 16384;
constexpr unsigned kDefaultToneMs = 70;
constexpr unsigned kDefaultPauseMs = 70;
constexpr std::uint16_t kSilenceFreq = 1000;
// The generator sends nothing: 1000 Hz twice at amplitude 0.
constexpr std::array<std::uint16_t, 4> kSilence{kSilenceFreq, kSilenceFreq, 0, 0};
constexpr std::uint16_t kWaitToneFreq = 425;
constexpr std::uint16_t kWaitToneAmplitude = 2048;
constexpr unsigned kWaitToneOnMs = 1000;
constexpr unsigned kWaitToneOffMs = 3000;
constexpr std::uint16_t kSelcalAmplitude = 12000;
constexpr std::size_t kSelcalSigns = 4;
constexpr std::uint32_t kLastDtmfCode = 127;

std::ostream& eventFields(std::ostream& os, tonec_event_record const& r)
{
    return os << " timestamp=" << r.timestamp << " timeslot=" << r.timeslot << " code=" << r.code << " id=" << r.id;
}

// An optional field cut to 16 bits, or the default where it is absent.
template <class Get>
std::uint16_t optional16(bool present, Get get, std::uint16_t fallback)
{
    return present ? std::uint16_t(get().getValue()) : fallback;
}

}  // namespace

Containers::CyclicList& tonecReceivers() { return receiverList.value; }

// The service.

TonecReceiverService& TonecReceiverService::instance()
{
    static TonecReceiverService service;
    return service;
}

TonecReceiverService::TonecReceiverService(std::uint32_t lastId)
    : DriverService({"tonec", GetDTMFDevName(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, "TonecReceiverService::OnEvent",
                     "open tonec fail, DTMF proceeding disabled: "},
                    lastId)
{
    init();
}

bool TonecReceiverService::configureDTMF(unsigned ts, ZGCP::DTMFParams const& params)
{
    if (!ready("configure DTMF", ts))
        return false;
    dtmf_detector_params r{};
    r.timeslot = ts;
    r.twist = unsigned(params.get_threshold().get_twist().getValue());
    r.ratio = unsigned(params.get_threshold().get_ratio().getValue());
    r.silence = unsigned(params.get_level().get_silence().getValue());
    r.noise = unsigned(params.get_threshold().get_noise().getValue());
    if (request(dtmf::kConfigureDetector, &r) == -1) {
        ErrnoField e;
        done(std::cerr) << "DTMF_CONFIGURE_DETECTOR fail:" << " timeslot=" << ts << e << std::endl;
        return false;
    }
    done(std::clog) << "DTMF_CONFIGURE_DETECTOR" << " ts=" << ts << " twist=" << r.twist << " ratio=" << r.ratio
                    << " noise=" << r.noise << " silence=" << r.silence << std::endl;
    return true;
}

bool TonecReceiverService::byValue(char const* word, char const* suffix, unsigned long number, unsigned ts)
{
    if (!ready(word, ts, suffix))
        return false;
    if (request(number, board::byValue(ts)) == -1) {
        ErrnoField e;
        done(std::cerr) << word << suffix << " fail:" << " timeslot=" << ts << e << std::endl;
        return false;
    }
    done(std::clog) << word << suffix << "[" << ts << "] ok" << std::endl;
    return true;
}

bool TonecReceiverService::echoCancel(unsigned ts, bool on)
{
    return byValue("CHANNEL_LMS", on ? "_ON" : "_OFF", on ? dtmf::kLmsOn : dtmf::kLmsOff, ts);
}

bool TonecReceiverService::enableDTMFReject(unsigned ts, bool on)
{
    return byValue("DTMF_REJECTION", on ? "_ENABLE" : "_DISABLE",
                   on ? dtmf::kRejectionEnable : dtmf::kRejectionDisable, ts);
}

bool TonecReceiverService::enableDTMF(TonecReceiver& receiver, bool on)
{
    if (!ready(on ? "DTMF_ENABLE_DETECTOR" : "DTMF_DISABLE_DETECTOR", receiver.tonec_timeslot()))
        return false;
    if (receiver.held_.dtmf != on && !requestDTMF(receiver, on))
        return false;
    receiver.want_.dtmf = on;
    return true;
}

bool TonecReceiverService::requestDTMF(TonecReceiver& receiver, bool on)
{
    unsigned const ts = receiver.tonec_timeslot();
    if (!on) {
        if (!disableDetector(ts))
            return false;
        receiver.held_.dtmf = false;
        return true;
    }
    dtmf_enable_params r{};
    r.timeslot = ts;
    r.id = nextId();
    if (request(dtmf::kEnableDetector, &r) == -1) {
        ErrnoField e;
        done(std::cerr) << "DTMF_ENABLE_DETECTOR fail:" << " timeslot=" << ts << " id=" << r.id << e << std::endl;
        return false;
    }
    receiver.rid_ = r.id;
    receiver.held_.dtmf = true;
    done(std::cerr) << "DTMF_ENABLE_DETECTOR done:" << " timeslot=" << ts << " id=" << r.id << std::endl;
    return true;
}

bool TonecReceiverService::disableDetector(unsigned ts)
{
    if (request(dtmf::kDisableDetector, board::byValue(ts)) == -1) {
        ErrnoField e;
        done(std::cerr) << "DTMF_DISABLE_DETECTOR fail:" << " timeslot=" << ts << e << std::endl;
        return false;
    }
    done(std::cerr) << "DTMF_DISABLE_DETECTOR done:" << " timeslot=" << ts << std::endl;
    return true;
}

bool TonecReceiverService::enableToneGenerator(unsigned ts, std::uint16_t freq1, std::uint16_t freq2,
                                               std::uint16_t amp1, std::uint16_t amp2)
{
    if (!ready("DTMF_DIAL", ts))
        return false;
    dtmf_dial_params r{};
    r.timeslot = ts;
    r.freq1 = freq1;
    r.freq2 = freq2;
    r.amp1 = amp1;
    r.amp2 = amp2;
    if (request(dtmf::kDial, &r) == -1) {
        ErrnoField e;
        done(std::cerr) << "DTMF_DIAL fail:" << " timeslot=" << ts << e << std::endl;
        return false;
    }
    return true;
}

bool TonecReceiverService::configureIVA(TonecReceiver& receiver, ZGCP::IVAParams const& params)
{
    unsigned const ts = receiver.tonec_timeslot();
    if (!ready("configure IVA", ts))
        return false;
    iva_detector_params r{};
    r.timeslot = ts;
    r.det_lvl_dB = params.get_det_lvl_dB().getValue();
    if (request(dtmf::kIvaConfigure, &r) == -1) {
        ErrnoField e;
        done(std::cerr) << "IVA_CONFIGURE_DETECTOR fail:" << " timeslot=" << ts << e << std::endl;
        return false;
    }
    done(std::clog) << "IVA_CONFIGURE_DETECTOR" << " ts=" << ts << " det_lvl_dB=" << r.det_lvl_dB << std::endl;
    return true;
}

bool TonecReceiverService::enableIVA(TonecReceiver& receiver, bool on)
{
    unsigned const ts = receiver.tonec_timeslot();
    if (!byValue("IVA_DETECTOR", on ? "_ENABLE" : "_DISABLE", on ? dtmf::kIvaEnable : dtmf::kIvaDisable, ts))
        return !on && needless(receiver.want_.iva || receiver.held_.iva, ts);
    receiver.want_.iva = receiver.held_.iva = on;
    return true;
}

bool TonecReceiverService::translateSelcal(TonecReceiver& receiver, TERM::SelcalCommand const& command)
{
    unsigned const ts = receiver.tonec_timeslot();
    std::string const& signs = command.get_signs();
    if (signs.size() < kSelcalSigns) {
        std::cerr << "SELCAL_DIAL fail:" << " timeslot=" << ts << " incorect signs:" << signs << std::endl;
        return false;
    }
    if (!ready("SELCAL_DIAL", ts))
        return false;
    selcal_dial_params r{};
    r.timeslot = ts;
    r.amplitude = optional16(command.amp_isPresent(), [&] { return command.get_amp(); }, kSelcalAmplitude);
    std::copy_n(signs.begin(), kSelcalSigns, r.signs);
    if (request(dtmf::kSelcalDial, &r) == -1) {
        ErrnoField e;
        std::cerr << "SELCAL_DIAL fail:" << " timeslot=" << ts << e << std::endl;
        return false;
    }
    return true;
}

void TonecReceiverService::OnEvent(int fd, short revents)
{
    readBurst<tonec_event_record>(fd, revents, [this](tonec_event_record const& r) { route(r); });
}

void TonecReceiverService::route(tonec_event_record const& r)
{
    eventFields(std::clog << "dtmf event: ", r) << std::endl;
    for (Containers::CyclicList& node : tonecReceivers()) {
        TonecReceiver& receiver = *TonecReceiver::of(&node);
        if (receiver.tonec_timeslot() != r.timeslot)
            continue;
        // Codes above the DTMF range come from the IVA detector.
        bool const on = r.code <= kLastDtmfCode ? receiver.held_.dtmf : receiver.held_.iva;
        if (!on)
            eventFields(std::clog << "ignore spurious dtmf event (DTMF disabled): ", r) << std::endl;
        else if (r.id != receiver.rid_)
            eventFields(std::clog << "ignore spurious dtmf event: ", r) << " rid=" << receiver.rid_ << std::endl;
        else
            receiver.tonec_event({r.code, r.timestamp});
        // The receiver may be gone now.
        return;
    }
    std::cerr << "receive tonec event from unknown timeslot " << r.timeslot << std::endl;
}

namespace {

// The switch-offs of a channel let go of.
constexpr std::uint32_t kDetectorOff = 1;
constexpr std::uint32_t kIvaOff = 2;
constexpr std::uint32_t kRejectionOff = 4;
constexpr std::uint32_t kGeneratorOff = 8;

}  // namespace

void TonecReceiverService::letGo(TonecReceiver& r)
{
    TonecReceiver::Functions const& held = r.held_;
    DriverService::letGo(r.tonec_timeslot(), (held.dtmf ? kDetectorOff : 0) | (held.iva ? kIvaOff : 0)
                                                 | (held.rejection ? kRejectionOff : 0)
                                                 | (held.generator != TonecReceiver::Tone{} ? kGeneratorOff : 0));
}

bool TonecReceiverService::switchOff(unsigned ts, SwitchOffs off)
{
    switch (off) {
    case kDetectorOff: return disableDetector(ts);
    case kIvaOff: return byValue("IVA_DETECTOR", "_DISABLE", dtmf::kIvaDisable, ts);
    case kRejectionOff: return enableDTMFReject(ts, false);
    case kGeneratorOff: return enableToneGenerator(ts, 0, 0, 0, 0);
    default: return true;
    }
}

void TonecReceiverService::nameSwitchOffs(std::ostream& os, SwitchOffs offs) const
{
    char const* sep = "";
    for (auto const& [off, name] : {std::pair{kDetectorOff, "the DTMF detector"}, std::pair{kIvaOff, "IVA"},
                                    std::pair{kRejectionOff, "the DTMF rejection"},
                                    std::pair{kGeneratorOff, "the generator"}}) {
        if ((offs & off) != 0) {
            os << sep << name;
            sep = ", ";
        }
    }
}

bool TonecReceiverService::restore()
{
    bool whole = true;
    for (Containers::CyclicList& node : tonecReceivers())
        whole = restore(*TonecReceiver::of(&node)) && whole;
    return whole;
}

// What the driver does not hold yet: the configurations first, then the functions, the DTMF
// detector under a new id. True when it holds all of it.
bool TonecReceiverService::restore(TonecReceiver& r)
{
    unsigned const ts = r.tonec_timeslot();
    TonecReceiver::Functions const& want = r.want_;
    TonecReceiver::Functions& held = r.held_;
    if (want.dtmfConfigured && !held.dtmfConfigured)
        held.dtmfConfigured = configureDTMF(ts, *r.dtmfParams_);
    if (want.ivaConfigured && !held.ivaConfigured)
        held.ivaConfigured = configureIVA(r, *r.ivaParams_);
    if (want.dtmf && !held.dtmf)
        requestDTMF(r, true);
    if (want.iva && !held.iva)
        held.iva = byValue("IVA_DETECTOR", "_ENABLE", dtmf::kIvaEnable, ts);
    if (want.rejection && !held.rejection)
        held.rejection = enableDTMFReject(ts, true);
    if (want.echoCancel && !held.echoCancel)
        held.echoCancel = echoCancel(ts, true);
    TonecReceiver::Tone const& g = want.generator;
    if (g != held.generator && enableToneGenerator(ts, g[0], g[1], g[2], g[3]))
        held.generator = g;
    return held.dtmfConfigured == want.dtmfConfigured && held.ivaConfigured == want.ivaConfigured
           && held.dtmf == want.dtmf && held.iva == want.iva && held.rejection == want.rejection
           && held.echoCancel == want.echoCancel && held.generator == want.generator;
}

// The new descriptor has none of it: IVA records come under no id until the DTMF detector's
// enable.
void TonecReceiverService::forget()
{
    for (Containers::CyclicList& node : tonecReceivers()) {
        TonecReceiver& r = *TonecReceiver::of(&node);
        r.held_ = TonecReceiver::Functions();
        r.rid_ = 0;
    }
}

// The receiver.

TonecReceiver::TonecReceiver() { tonecReceivers().AddToTail(&link_); }

TonecReceiver::~TonecReceiver() = default;

bool TonecReceiver::configureDTMF(ZGCP::DTMFParams const& params)
{
    if (!TonecReceiverService::instance().configureDTMF(tonec_timeslot(), params))
        return false;
    dtmfParams_ = params;
    want_.dtmfConfigured = held_.dtmfConfigured = true;
    return true;
}

bool TonecReceiver::enableDTMF(bool on) { return TonecReceiverService::instance().enableDTMF(*this, on); }

bool TonecReceiver::disableDTMF() { return enableDTMF(false); }

bool TonecReceiver::echoCancel(bool on)
{
    if (!TonecReceiverService::instance().echoCancel(tonec_timeslot(), on))
        return false;
    want_.echoCancel = held_.echoCancel = on;
    return true;
}

bool TonecReceiver::enableDTMFReject(bool on)
{
    TonecReceiverService& service = TonecReceiverService::instance();
    if (!service.enableDTMFReject(tonec_timeslot(), on))
        return !on && service.needless(want_.rejection || held_.rejection, tonec_timeslot());
    want_.rejection = held_.rejection = on;
    return true;
}

bool TonecReceiver::enableIVA(bool on) { return TonecReceiverService::instance().enableIVA(*this, on); }

bool TonecReceiver::configureIVA(ZGCP::IVAParams const& params)
{
    if (!TonecReceiverService::instance().configureIVA(*this, params))
        return false;
    ivaParams_ = params;
    want_.ivaConfigured = held_.ivaConfigured = true;
    return true;
}

bool TonecReceiver::translateSelcal(TERM::SelcalCommand const& command)
{
    return TonecReceiverService::instance().translateSelcal(*this, command);
}

bool TonecReceiver::enableToneGenerator(std::uint16_t freq1, std::uint16_t freq2, std::uint16_t amp1,
                                        std::uint16_t amp2)
{
    if (!TonecReceiverService::instance().enableToneGenerator(tonec_timeslot(), freq1, freq2, amp1, amp2))
        return false;
    want_.generator = held_.generator = {freq1, freq2, amp1, amp2};
    return true;
}

void TonecReceiver::step(Tone const& tone)
{
    want_.generator = tone;
    TonecReceiverService& service = TonecReceiverService::instance();
    if (service.IsActive() && service.enableToneGenerator(tonec_timeslot(), tone[0], tone[1], tone[2], tone[3]))
        held_.generator = tone;
}

bool TonecReceiver::setGenerator(Tone const& tone)
{
    if (TonecReceiverService::instance().IsActive())
        return enableToneGenerator(tone[0], tone[1], tone[2], tone[3]);
    want_.generator = tone;
    return true;
}

bool TonecReceiver::enableSilence() { return setGenerator(kSilence); }

bool TonecReceiver::generatorReady() { return TonecReceiverService::instance().ready("DTMF_DIAL", tonec_timeslot()); }

bool TonecReceiver::generatorInUse() const
{
    return sending_ || waitTonePending_ || timer_.is_running() || want_.generator != Tone{}
           || held_.generator != Tone{} || TonecReceiverService::instance().owes(tonec_timeslot());
}

bool TonecReceiver::disableToneGenerator(bool force)
{
    if (!force && !sending_)
        return false;
    // A sequence ends only with the generator off: one the driver refuses to switch off goes
    // on, as the answer says. A switch-off that was not needed is no failure.
    if (!setGenerator(Tone{}))
        return !generatorInUse();
    stopSequence();
    return true;
}

void TonecReceiver::stopSequence()
{
    if (sending_) {
        timer_.reset();
        sending_ = false;
    }
    waitTonePending_ = false;
}

bool TonecReceiver::translateDTMF(ZGCP::TranslateDtmfParams const& params)
{
    if (!generatorReady())
        return false;
    digits_ = params;
    if (sending_)
        return true;
    sending_ = true;
    pauseEnd();
    return true;
}

void TonecReceiver::pauseEnd()
{
    auto& digits = digits_.ref_digits();
    if (digits.empty()) {
        bool const waitTone = waitTonePending_;
        stopSequence();
        step(Tone{});
        if (waitTone)
            waitToneOn();
        // Last: the slot's handler may do anything.
        tone_gen_complete();
        return;
    }
    ZGCP::DualTone const& tone = *digits.begin();
    step({std::uint16_t(tone.get_freq1().getValue()), std::uint16_t(tone.get_freq2().getValue()),
          optional16(digits_.amp1_isPresent(), [this] { return digits_.get_amp1(); }, kDefaultAmplitude),
          optional16(digits_.amp2_isPresent(), [this] { return digits_.get_amp2(); }, kDefaultAmplitude)});
    digits.erase(digits.begin());
    unsigned const ms =
        digits_.toneDuration_isPresent() ? unsigned(digits_.get_toneDuration().getValue()) : kDefaultToneMs;
    timer_.set(ms, &TonecReceiver::toneEnd, this);
}

void TonecReceiver::toneEnd()
{
    step(kSilence);
    unsigned const ms =
        digits_.pauseDuration_isPresent() ? unsigned(digits_.get_pauseDuration().getValue()) : kDefaultPauseMs;
    timer_.set(ms, &TonecReceiver::pauseEnd, this);
}

bool TonecReceiver::activateAudibleCall()
{
    if (!generatorReady())
        return false;
    if (sending_)
        waitTonePending_ = true;
    else
        waitToneOn();
    return true;
}

bool TonecReceiver::cancelAudibleCall()
{
    if (sending_) {
        waitTonePending_ = false;
        return true;
    }
    // The cadence ends only with the generator off: one the driver refuses to switch off
    // goes on, as the answer says. A switch-off that was not needed is no failure.
    if (!setGenerator(Tone{}))
        return !generatorInUse();
    timer_.reset();
    return true;
}

void TonecReceiver::waitToneOn()
{
    step({kWaitToneFreq, 0, kWaitToneAmplitude, kWaitToneAmplitude});
    timer_.set(kWaitToneOnMs, &TonecReceiver::waitToneOff, this);
}

void TonecReceiver::waitToneOff()
{
    step(kSilence);
    timer_.set(kWaitToneOffMs, &TonecReceiver::waitToneOn, this);
}

void TonecReceiver::CleanBeforeDestroy()
{
    // The channel is let go of: no timed step sounds on it any more, its events reach nobody
    // and nothing of it is put back on a device opened again. A generator left on would sound
    // into the next call on the channel, whatever the phase its sequence had reached.
    timer_.reset();
    sending_ = waitTonePending_ = false;
    link_.Remove();
    TonecReceiverService::instance().letGo(*this);
}

}  // namespace Hardware

namespace Dtmf {

char const strRep[NumTones + 1] = "0123456789*#ABCD";
std::uint16_t const freq1[NumTones] = {941, 697, 697, 697, 770, 770, 770, 852, 852, 852, 941, 941, 697, 770, 852, 941};
std::uint16_t const freq2[NumTones] = {1336, 1209, 1336, 1477, 1209, 1336, 1477, 1209, 1336, 1477, 1209, 1477,
                                       1633, 1633, 1633, 1633};

TonesValidator::TonesValidator()
{
    for (int i = 0; i < NumTones; ++i)
        tones_[strRep[i]] = {freq1[i], freq2[i]};
}

std::optional<std::pair<std::uint16_t, std::uint16_t>> TonesValidator::find(char digit) const
{
    auto it = tones_.find(digit);
    if (it == tones_.end())
        return std::nullopt;
    return it->second;
}

TonesValidator const tonesValidator;

}  // namespace Dtmf
