#include "slots/slot.h"

#include "board/dsp.h"
#include "board/rtp.h"
#include "hardware/dsproc_events.h"
#include "hardware/hw_mux.h"
#include "slots/connection.h"
#include "slots/slot_factory.h"
#include "slots/slots.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <iostream>

Slot::~Slot() = default;

unsigned int Slot::GetTrunk() { return 0xFFFFFFFF; }
unsigned int Slot::GetTrunkTimeSlot() { return 0xFFFFFFFF; }
void Slot::OnTrunkStatus(unsigned int, ACP::TrunkState::NamedNumber const&) {}
void Slot::IAfterCreate() {}
bool Slot::IBeforeDestroy() { return true; }
bool Slot::IActivate(TERM::TermActivateParams const&) { return false; }
bool Slot::IDeactivate() { return false; }
bool Slot::IUserData(std::vector<char> const&) { return false; }
bool Slot::Ioctl(ZGCP::IoctlParams const&) { return false; }
int Slot::GetConnectionPriority() { return 0; }
bool Slot::IHwConnectTransmitter(Slot& destination) { return MuxConnect(*this, destination); }
bool Slot::IHwConnectReceiver(Slot& source) { return MuxConnect(source, *this); }
bool Slot::IHwDisconnectTransmitter(Slot& destination) { return MuxDisconnect(*this, destination); }
bool Slot::IHwDisconnectReceiver(Slot& source) { return MuxDisconnect(source, *this); }
bool Slot::IOnOutputStream() { return false; }
bool Slot::IOnInputStream() { return false; }
void Slot::IOnOutputRelease() {}
void Slot::IOnInputRelease() {}
int Slot::IGetTransmitChannel() { return -1; }
int Slot::IGetReceiveChannel() { return -1; }

void Slot::Put(std::ostream& os) const
{
    if (id_ <= 1023) {
        os.fill('0');
        os << std::setw(2) << id_;
        os.fill(' ');
    } else if (id_ == kNoId) {
        os << "na";
    } else {
        os << 'i' << id_;
    }
    os << ':' << GetName();
}

std::ostream& operator<<(std::ostream& os, Slot const& slot)
{
    slot.Put(os);
    return os;
}

void Slot::SendSignal(ZGCP::Signal const& signal)
{
    // A slot the table has not numbered yet has no one to report to.
    if (id_ < Slots::kCount)
        Slots::instance().SendSignal(id_, signal);
}

void Slot::LogicalConnect(Slot& src)
{
    source_ = &src;
    // Listeners keep the order in which they were connected, so that disconnecting them
    // all gives the same order of signals every time.
    if (std::find(src.listeners_.begin(), src.listeners_.end(), this) == src.listeners_.end())
        src.listeners_.push_back(this);
}

void Slot::LogicalDisconnect()
{
    if (source_ == nullptr)
        return;
    auto& list = source_->listeners_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    source_ = nullptr;
}

bool Slot::BeforeDestroy()
{
    inBeforeDestroy_ = true;
    bool const now = IBeforeDestroy();
    inBeforeDestroy_ = false;
    // A release that finished while IBeforeDestroy ran counts as an immediate one.
    if (!now && !releasedEarly_)
        return false;
    releasedEarly_ = false;
    if (factory_ == nullptr)
        std::cerr << "slot: internal error!!! BeforeDestroy() not connected to factory" << std::endl;
    else
        factory_->Remove(this);
    return true;
}

void Slot::on_release()
{
    if (!releasing_)
        return;
    if (inBeforeDestroy_) {
        // Finished synchronously: the destroy in progress removes the slot itself.
        releasedEarly_ = true;
        return;
    }
    if (factory_ != nullptr)
        factory_->Remove(this);
    Slots::instance().on_release(this);
}

void Slot::LoseChannel(int channel)
{
    if (channelLost_)
        return;
    OnChangeInputStream(false);
    OnChangeOutputStream(false);
    // Links whose stream was not reported go as well.
    DisconnectAll(*this);
    HwMux::instance().Release(channel);
    channelLost_ = true;
}

void Slot::OnChangeInputStream(bool on)
{
    if (inputActive_ == on)
        return;
    ZGCP::Signal signal;
    ZGCP::Stream& stream = signal.select_receiver();
    if (on)
        stream.select_active(IGetReceiveChannel());
    else {
        stream.select_inactive();
        Disconnect(*this);
    }
    inputActive_ = on;
    SendSignal(signal);
}

void Slot::OnChangeOutputStream(bool on)
{
    if (outputActive_ == on)
        return;
    ZGCP::Signal signal;
    ZGCP::Stream& stream = signal.select_transmitter();
    if (on)
        stream.select_active(IGetTransmitChannel());
    else {
        stream.select_inactive();
        std::size_t const n = listeners_.size();
        for (std::size_t i = 0; i < n; ++i) {
            if (listeners_.empty()) {
                std::cerr << "mux: internal error: expected slots not exists." << std::endl;
                break;
            }
            Disconnect(*listeners_.front());
        }
    }
    outputActive_ = on;
    SendSignal(signal);
}

void Slot::OnTonecEvent(ZGCP::TonecEvent const& event) { SendSignal(ZGCP::Signal(ZGCP::Signal::tonec::id, event)); }

void Slot::OnNumber(std::string const& digits)
{
    ZGCP::Signal signal;
    signal.select_number() = digits;
    SendSignal(signal);
}

void Slot::OnModem(TERM::ModemProceeding const& proceeding)
{
    SendSignal(ZGCP::Signal(ZGCP::Signal::modemProceeding::id, proceeding));
}

void Slot::OnModem(TERM::ModemInformation const& information)
{
    SendSignal(ZGCP::Signal(ZGCP::Signal::modemInformation::id, information));
}

void Slot::OnActivated()
{
    ZGCP::Signal signal;
    signal.select_activated();
    SendSignal(signal);
}

void Slot::OnDeactivated()
{
    ZGCP::Signal signal;
    signal.select_deactivated().set_networkError();
    SendSignal(signal);
}

void Slot::OnAbort(int cause)
{
    ZGCP::Signal signal;
    signal.select_abort(cause);
    SendSignal(signal);
}

void Slot::OnUserData(std::vector<char> const& data)
{
    ZGCP::Signal signal;
    signal.select_userData() = data;
    SendSignal(signal);
}

void Slot::OnIoctlResponse(ZGCP::IoctlResponse const& response)
{
    SendSignal(ZGCP::Signal(ZGCP::Signal::ioctl::id, response));
}

void Slot::OnRtpRadioEvent(TERM::RtpRadioRequest const& request)
{
    SendSignal(ZGCP::Signal(ZGCP::Signal::rtpExt::id, request));
}

void Slot::OnVADEvent(ZGCP::VADEvent const& event) { SendSignal(ZGCP::Signal(ZGCP::Signal::vad::id, event)); }

void Slot::OnProtoZarnEvent(ZARNGW::ProtoZarnPackets const& packets)
{
    SendSignal(ZGCP::Signal(ZGCP::Signal::protoZarn::id, packets));
}

void Slot::OnSDEvent(ZGCP::SDEvent const& event) { SendSignal(ZGCP::Signal(ZGCP::Signal::sd::id, event)); }

void Slot::OnRtpEvent(ZGCP::RtpEvent const& event) { SendSignal(ZGCP::Signal(ZGCP::Signal::rtp::id, event)); }

void Slot::processTonecEvent(Hardware::TonecReceiver::Params const& params)
{
    ZGCP::TonecEvent event;
    event.set_timestamp(int(params.timestamp));
    ZGCP::TonecCode& code = event.set_event();
    int const value = int(params.code);
    int const high = value >> 8;
    if (value == 17)
        code.select_ced();
    else if (value == 18)
        code.select_cng();
    else if (value >= 0 && value <= 127)
        code.select_dtmf(unsigned(value));
    else if (high >= 1 && high <= 20)
        code.select_iva().select_code(unsigned(high));
    else if (high == 21)
        code.select_iva().select_ringoff();
    else {
        std::cerr << "bad DTMF code, ignored." << std::endl;
        return;
    }
    OnTonecEvent(event);
}

void Slot::processToneGenEvent()
{
    ZGCP::TonecEvent event;
    event.set_timestamp(0);
    event.set_event().select_dtmfDone();
    OnTonecEvent(event);
}

void Slot::processVADEvent(Hardware::DSProcVADEvent const& vad)
{
    ZGCP::VADEvent event;
    bool any = false;
    if (vad.vad_rx >= 0) {
        event.set_vad_rx(vad.vad_rx != 0);
        any = true;
    }
    if (vad.vad_tx >= 0) {
        event.set_vad_tx(vad.vad_tx != 0);
        any = true;
    }
    if (!any) {
        std::cerr << "bad VAD event, ignored." << std::endl;
        return;
    }
    OnVADEvent(event);
}

void Slot::processSDEvent(Hardware::DSProcSDEvent const& sd)
{
    if (sd.sd_rx < 0) {
        std::cerr << "bad SD event, ignored." << std::endl;
        return;
    }
    ZGCP::SDEvent event;
    event.set_sd_rx(sd.sd_rx != 0);
    OnSDEvent(event);
}

void Slot::processToneFltEvent(dsproc_tone_event const* tone)
{
    ZGCP::TonecEvent event;
    event.set_timestamp(0);
    ZGCP::TonePresence& presence = event.set_event().select_tone_presence();
    presence.set_freq(int(tone->freq));
    presence.set_presence(tone->presence != 0);
    OnTonecEvent(event);
}

void Slot::processFlagsEvent(dsproc_flags_event const* flags)
{
    std::uint32_t constexpr kVoiceRx = 1u << 29;
    std::uint32_t constexpr kVoiceTx = 1u << 30;
    std::uint32_t constexpr kSelcal = 1u << 31;
    if (flags->mask & (kVoiceRx | kVoiceTx)) {
        ZGCP::VADEvent event;
        if (flags->mask & kVoiceRx)
            event.set_vad_rx((flags->flags & kVoiceRx) != 0);
        if (flags->mask & kVoiceTx)
            event.set_vad_tx((flags->flags & kVoiceTx) != 0);
        OnVADEvent(event);
    }
    if (flags->mask & kSelcal) {
        ZGCP::SelcalEvent event;
        event.set_in_progress((flags->flags & kSelcal) != 0);
        SendSignal(ZGCP::Signal(ZGCP::Signal::selcal::id, event));
    }
}

void Slot::processBSSEvent(dsproc_bss_event const* bss)
{
    // At most 30 characters: a score of any size is cut, never written past the buffer.
    char text[31];
    std::snprintf(text, sizeof text, "%4.6f", double(bss->score));
    ZGCP::BSSEvent event;
    event.set_score(text);
    SendSignal(ZGCP::Signal(ZGCP::Signal::bss::id, event));
}

void Slot::processRtpEvent(rtp_event const& rtp)
{
    if (rtp.type != rtp_event_pd)
        return;
    ZGCP::RtpEvent event;
    ZGCP::RtpPDEvent& pd = event.select_pd();
    pd.set_value(rtp.value);
    pd.set_timeout(rtp.timeout);
    OnRtpEvent(event);
}
