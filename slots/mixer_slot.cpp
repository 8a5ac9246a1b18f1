#include "slots/mixer_slot.h"

#include "hardware/hw_mux.h"
#include "slots/mixer.h"

#include <algorithm>
#include <iterator>

namespace Mixer {
namespace {

using P = ZGCP::IoctlParams;

int const kInputRequests[] = {
    P::echoSuppressor::id, P::dtmf_enable::id, P::dtmf_reject_enable::id, P::translateDTMF::id,
    P::dtmf_params::id,    P::vad_enable::id,  P::vad_disable::id,        P::vad_params::id,
    P::sd_enable::id,      P::sd_disable::id,  P::sd_params::id,          P::iva_enable::id,
    P::iva_params::id,     P::rx_gain::id,     P::tone_filter::id,        P::delays::id,
};

int const kOutputRequests[] = {
    P::translateDTMF::id, P::dtmf_disable::id,        P::dtmf_params::id,     P::vad_enable::id,
    P::vad_disable::id,   P::vad_params::id,          P::sd_enable::id,       P::sd_disable::id,
    P::sd_params::id,     P::dtmf_reject_disable::id, P::iva_enable::id,      P::tone_filter::id,
    P::tone_gen_enable::id, P::tone_gen_disable::id,  P::delays::id,
};

template <std::size_t N>
bool accepts(int const (&table)[N], P const& params)
{
    return std::find(std::begin(table), std::end(table), params.currentSelection()) != std::end(table);
}

// The delays' receive and transmit values, 0 where absent.
unsigned rxDelay(ZGCP::Delays const& d) { return d.rx_isPresent() ? unsigned(d.get_rx().getValue()) : 0; }
unsigned txDelay(ZGCP::Delays const& d) { return d.tx_isPresent() ? unsigned(d.get_tx().getValue()) : 0; }

}  // namespace

MixerSlot::MixerSlot(std::shared_ptr<Mixer> unit, int channel, int timeslot)
    : timeslot_(timeslot), unit_(std::move(unit)), channel_(channel)
{
}

MixerSlot::~MixerSlot()
{
    if (HoldsChannel())
        letGoOfFunctions();
}

void MixerSlot::letGoOfFunctions()
{
    Hardware::TonecReceiver::CleanBeforeDestroy();
    Hardware::DSProcReceiver::CleanBeforeDestroy();
}

void MixerSlot::stopDTMF()
{
    if (!HoldsChannel() || !is_inDTMFTransmit())
        return;
    enableSilence();
    disableToneGenerator(true);
}

void MixerSlot::unitGone()
{
    if (HoldsChannel()) {
        stopDTMF();
        letGoOfFunctions();
        LoseChannel(timeslot_);
        timeslot_ = -1;
    }
    OnAbort(0);
}

template <class Port>
bool MixerSlot::release(Port& port)
{
    // Nothing of a channel let go of: a port of a unit come back under the number may hold it.
    HwMux::instance().Release(timeslot_);
    unit().Release(port);
    return true;
}

bool MixerSlot::serve(P const& p)
{
    if (!HoldsChannel())
        return false;
    switch (p.currentSelection()) {
    case P::echoSuppressor::id: return echoCancel(p.get_echoSuppressor());
    case P::dtmf_enable::id: return enableDTMF(p.get_dtmf_enable());
    case P::dtmf_reject_enable::id: return enableDTMFReject(p.get_dtmf_reject_enable());
    case P::dtmf_reject_disable::id: return enableDTMFReject(false);
    case P::dtmf_disable::id: return disableToneGenerator(false);
    case P::translateDTMF::id: return translateDTMF(p.get_translateDTMF());
    case P::dtmf_params::id: return configureDTMF(p.get_dtmf_params());
    case P::vad_enable::id: return enableVAD(p.get_vad_enable());
    case P::vad_disable::id: return disableVAD();
    case P::vad_params::id: return configureVAD(p.get_vad_params());
    case P::sd_enable::id: return enableSD(p.get_sd_enable());
    case P::sd_disable::id: return disableSD();
    case P::sd_params::id: return configureSD();
    case P::iva_enable::id: return enableIVA(p.get_iva_enable());
    case P::iva_params::id: return configureIVA(p.get_iva_params());
    case P::rx_gain::id: return configureRxGain(char(p.get_rx_gain().get_gainDB().getValue() & 255));
    case P::tone_filter::id: {
        ZGCP::ToneFilter const& f = p.get_tone_filter();
        return configureToneFilter(unsigned(f.get_freq().getValue()), f.get_enable() ? 1 : 0,
                                   f.get_duration_th_msec().getValue(), f.get_det_level_dB().getValue());
    }
    case P::delays::id: return configureDelays(rxDelay(p.get_delays()), txDelay(p.get_delays()));
    case P::tone_gen_enable::id: {
        ZGCP::ToneGenerator const& g = p.get_tone_gen_enable();
        // A DTMF sequence the driver would not stop goes on: its next step would take the tone off.
        if (is_inDTMFTransmit() && !disableToneGenerator(false))
            return false;
        return enableToneGenerator(std::uint16_t(g.get_freq().getValue() & 0xFFFF), 0,
                                   std::uint16_t(g.get_amp().getValue() & 0xFFFF), 0);
    }
    case P::tone_gen_disable::id: return disableToneGenerator(true);
    default: return false;
    }
}

bool TdmInput::IBeforeDestroy() { return release(*this); }

bool TdmInput::Ioctl(P const& params) { return accepts(kInputRequests, params) && serve(params); }

bool TdmOutput::IBeforeDestroy() { return release(*this); }

bool TdmOutput::Ioctl(P const& params) { return accepts(kOutputRequests, params) && serve(params); }

}  // namespace Mixer
