#pragma once

#include "base/cyclic_list.h"
#include "board/dsp.h"
#include "hardware/driver_service.h"
#include "hardware/dsproc_events.h"

#include "messages/zgcp.h"

#include <cstdint>
#include <map>
#include <optional>

namespace Hardware {

class DSProcReceiverService;

// The receivers of voice-processing events, in the order they were built (a list of its
// own, apart from the tone receivers).
Containers::CyclicList& dsprocReceivers();

// A switch channel's use of the voice-processing functions, inherited by the media slots
// once per channel they serve. It remembers what it switched on and configured, so that the
// service can put it back on a device opened again and CleanBeforeDestroy (which the slot's
// destructor calls) can switch it off before the channel is reused.
class DSProcReceiver {
public:
    // A function's state (-1 never requested, 0 off, 1 on) and the id of its last
    // successful enable.
    struct State {
        int state;
        std::uint32_t id;
    };

    DSProcReceiver();
    virtual ~DSProcReceiver();
    DSProcReceiver(DSProcReceiver const&) = delete;
    DSProcReceiver& operator=(DSProcReceiver const&) = delete;

    // The hooks of the BSS and flags payloads hide the payload types of the same names in
    // the classes that derive from this one, which name them ::dsproc_bss_event and
    // ::dsproc_flags_event.
    virtual void dsproc_vad_event(DSProcVADEvent const& event) = 0;
    virtual void dsproc_bss_event(::dsproc_bss_event const* event) = 0;
    virtual void dsproc_sd_event(DSProcSDEvent const& event) = 0;
    virtual void dsproc_tone_flt_event(dsproc_tone_event const* event) = 0;
    virtual void dsproc_flags_event(::dsproc_flags_event const* event) = 0;
    // The switch channel whose voice processing this receiver uses.
    virtual std::uint32_t dsproc_timeslot() const = 0;

    bool configureVAD(ZGCP::VADParams const& params);
    bool enableVAD(bool on);
    bool disableVAD();
    bool enableBSS(bool on);
    bool disableBSS();
    bool enableNG(bool on);
    bool disableNG();
    bool configureSD();
    bool enableSD(bool on);
    bool disableSD();
    bool enableMute(bool rx, bool tx);
    bool disableMute();
    // What CleanBeforeDestroy resets and a device opened again gets back follows what the
    // driver took.
    bool configureDelays(unsigned rx, unsigned tx);
    bool configureRxGain(char gain_dB);
    bool configureToneFilter(unsigned freq, unsigned enable, int dur_th_msec, int det_lvl_dB);
    void disableToneAll();
    // Switches off VAD, BSS, NG, delays and receive gain where this receiver set them, and
    // every tone filter of the channel (nothing is on a device that is closed).
    void CleanBeforeDestroy();

    State vad() const { return vad_; }
    State sd() const { return sd_; }
    State bss() const { return bss_; }
    State ng() const { return ng_; }
    int muteRx() const { return muteRx_; }
    int muteTx() const { return muteTx_; }
    std::uint32_t muteId() const { return muteId_; }
    bool delaysSet() const { return delaysSet_; }
    bool rxGainSet() const { return rxGainSet_; }

private:
    friend class DSProcReceiverService;
    static DSProcReceiver* of(Containers::CyclicList* node)
    {
        return Containers::offset(node, &DSProcReceiver::link_);
    }

    // A tone filter's settings other than its frequency.
    struct ToneFilter {
        unsigned enable;
        int dur_th_msec;
        int det_lvl_dB;
    };

    State vad_{-1, 0};
    State bss_{0, 0};
    State ng_{0, 0};
    State sd_{-1, 0};
    int muteRx_ = -1;
    int muteTx_ = -1;
    std::uint32_t muteId_ = 0;
    bool delaysSet_ = false;
    bool rxGainSet_ = false;
    Containers::CyclicList link_;
    // The configurations the driver took last, put back with the functions.
    std::optional<ZGCP::VADParams> vadParams_;
    bool sdConfigured_ = false;
    unsigned rxDelay_ = 0;
    unsigned txDelay_ = 0;
    char rxGain_ = 0;
    std::map<unsigned, ToneFilter> toneFilters_;
};

// The owner of the voice-processing device "/dev/dsp": issues the driver requests of every
// receiver, numbers the enable requests, reads the DSP's event records and hands each to
// the first receiver built for its timeslot.
//
// The device is opened when the service is built. While it is closed (it could not be
// opened, or it ended) every request tries to open it again and fails when it cannot; on
// the new descriptor the service puts back every receiver's configurations and the
// functions it had on, the muting included. A bool result is true when the driver took the
// request.
class DSProcReceiverService : public DriverService {
public:
    // The process's service, built on first use.
    static DSProcReceiverService& instance();

    // lastId: the request id handed out last (the next enable takes the one after it).
    explicit DSProcReceiverService(std::uint32_t lastId = 0);

    bool configureVAD(unsigned ts, ZGCP::VADParams const& params);
    bool configureSD(unsigned ts);
    bool configureDelays(unsigned ts, unsigned rx, unsigned tx);
    bool configureRxGain(unsigned ts, char gain_dB);
    bool configureToneFilter(unsigned ts, unsigned freq, unsigned enable, int dur_th_msec, int det_lvl_dB);
    bool disableToneAll(DSProcReceiver& receiver);
    bool enableVAD(DSProcReceiver& receiver, bool on);
    bool enableSD(DSProcReceiver& receiver, bool on);
    bool enableBSS(DSProcReceiver& receiver, bool on);
    bool enableNG(DSProcReceiver& receiver, bool on);
    bool enableMute(DSProcReceiver& receiver, bool rx, bool tx);

    void OnEvent(int fd, short revents) override;

private:
    // Enable or disable of the function whose state the receiver keeps in *state.
    bool enable(DSProcReceiver& receiver, DSProcReceiver::State DSProcReceiver::*state, std::uint32_t mask,
                char const* name, bool on);
    bool enableRequest(unsigned long number, dsproc_enable_params& r, char const* name);
    // Sends the configuration; a failure is written with its text.
    bool configure(dsproc_configure_params& r, char const* failText);
    void route(dsproc_event_record const& record);
    void restore() override;
    void restore(DSProcReceiver& receiver);
};

}  // namespace Hardware
