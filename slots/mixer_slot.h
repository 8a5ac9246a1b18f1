#pragma once

#include "hardware/dsproc_receiver.h"
#include "hardware/tonec_receiver.h"
#include "slots/slot.h"

#include <cstdint>
#include <memory>
#include <utility>

namespace Mixer {

class Mixer;

// A port: a slot on one TDM channel of a mixer unit, which lends the channel the tone and
// voice-processing functions. It keeps its unit while it lives.
//
// When its unit disappears the port lets go of the channel at once (a unit that comes back
// under the number is another one, whose ports may take the channel): its tone and
// voice-processing functions are switched off, its links go and its switch output is given
// back, it takes no more of the channel's events, no more requests and no link, and its
// release touches nothing of the unit or the switch.
class MixerSlot : public Slot, protected Hardware::TonecReceiver, protected Hardware::DSProcReceiver {
public:
    MixerSlot(std::shared_ptr<Mixer> unit, int channel, int timeslot);
    // Switches off the tone and voice-processing functions the port used.
    ~MixerSlot() override;

    Mixer& unit() const { return *unit_; }
    int channel() const { return channel_; }
    int timeslot() const { return timeslot_; }
    // Ends a DTMF sequence being sent: the generator sends silence, then stops.
    void stopDTMF();
    // The unit disappeared: the port lets go of its channel and is aborted (abort 0).
    void unitGone();

protected:
    // Serves an ioctl request of either port's table; the port decides which it takes.
    bool serve(ZGCP::IoctlParams const& params);
    // What IBeforeDestroy does on the unit: the channel's switch output, then the release.
    template <class Port>
    bool release(Port& port);

    // The channel's switch timeslot; -1 once the port let go of it (the receivers then answer
    // for timeslot 0xFFFFFFFF, which no event has).
    int timeslot_;

private:
    std::uint32_t tonec_timeslot() const override { return std::uint32_t(timeslot_); }
    std::uint32_t dsproc_timeslot() const override { return std::uint32_t(timeslot_); }
    void letGoOfFunctions();

    std::shared_ptr<Mixer> unit_;
    int const channel_;
};

// Where a signal enters a unit: the switch delivers to its channel, and it may feed the
// channel into a summing channel of the unit.
class TdmInput : public MixerSlot {
public:
    TdmInput(std::shared_ptr<Mixer> unit, int channel, int timeslot) : MixerSlot(std::move(unit), channel, timeslot) {}

    bool IBeforeDestroy() override;
    bool Ioctl(ZGCP::IoctlParams const& params) override;
    bool IOnInputStream() override { return true; }
    int IGetReceiveChannel() override { return timeslot_; }
    char const* GetName() const override { return "mixer tdm input"; }

    // The summing channel it feeds; -1 when none.
    int summator() const { return summator_; }
    // Whether the driver took the route into it.
    bool routed() const { return routed_; }
    void setSummator(int channel, bool routed)
    {
        summator_ = channel;
        routed_ = routed;
    }
    using Hardware::TonecReceiver::echoCancel;

private:
    void tonec_event(Params const& params) override { processTonecEvent(params); }
    void dsproc_vad_event(Hardware::DSProcVADEvent const& event) override { processVADEvent(event); }
    void dsproc_bss_event(::dsproc_bss_event const* event) override { processBSSEvent(event); }
    void dsproc_sd_event(Hardware::DSProcSDEvent const& event) override { processSDEvent(event); }
    void dsproc_tone_flt_event(dsproc_tone_event const* event) override { processToneFltEvent(event); }
    void dsproc_flags_event(::dsproc_flags_event const* event) override { processFlagsEvent(event); }

    int summator_ = -1;
    bool routed_ = false;
};

// A summing channel: it adds the input channels given at its creation, and the switch
// takes the sum from its channel. Its channel detects no tones and no voice activity.
class TdmOutput : public MixerSlot {
public:
    TdmOutput(std::shared_ptr<Mixer> unit, int channel, int timeslot) : MixerSlot(std::move(unit), channel, timeslot) {}

    bool IBeforeDestroy() override;
    bool Ioctl(ZGCP::IoctlParams const& params) override;
    bool IOnOutputStream() override { return true; }
    int IGetTransmitChannel() override { return timeslot_; }
    char const* GetName() const override { return "mixer tdm output"; }

private:
    void tonec_event(Params const&) override {}
    void tone_gen_complete() override { processToneGenEvent(); }
    void dsproc_vad_event(Hardware::DSProcVADEvent const&) override {}
    void dsproc_bss_event(::dsproc_bss_event const*) override {}
    void dsproc_sd_event(Hardware::DSProcSDEvent const&) override {}
    void dsproc_tone_flt_event(dsproc_tone_event const* event) override { processToneFltEvent(event); }
    void dsproc_flags_event(::dsproc_flags_event const* event) override { processFlagsEvent(event); }
};

}  // namespace Mixer
