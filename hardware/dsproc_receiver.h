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
// once per channel they serve. It remembers what the controller's answered requests switched
// on and configured (what the service puts back on a device opened again), apart from what
// the driver holds on the open descriptor (what CleanBeforeDestroy, which the slot's
// destructor calls, switches off before the channel is reused).
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
    // Lets go of the channel: switches off VAD, BSS, NG, delays and receive gain where this
    // receiver set them, and every tone filter of the channel (nothing is on a device that is
    // closed; SD and mute stay as they are; what the driver refuses the channel owes), and
    // leaves the service's receivers, so that nothing of the channel is put back or reaches
    // the receiver any more.
    void CleanBeforeDestroy();

    // What the controller's answered requests switched on, with the id of the enable the
    // driver holds.
    State vad() const { return want_.vad; }
    State sd() const { return want_.sd; }
    State bss() const { return want_.bss; }
    State ng() const { return want_.ng; }
    int muteRx() const { return want_.muteRx; }
    int muteTx() const { return want_.muteTx; }
    std::uint32_t muteId() const { return want_.muteId; }
    bool delaysSet() const { return want_.rxDelay != 0 || want_.txDelay != 0; }
    bool rxGainSet() const { return want_.rxGain != 0; }

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
        bool operator==(ToneFilter const& o) const
        {
            return enable == o.enable && dur_th_msec == o.dur_th_msec && det_lvl_dB == o.det_lvl_dB;
        }
    };

    // The functions and settings of a channel.
    struct Functions {
        State vad{-1, 0};
        State bss{0, 0};
        State ng{0, 0};
        State sd{-1, 0};
        int muteRx = -1;
        int muteTx = -1;
        std::uint32_t muteId = 0;
        bool vadConfigured = false;
        bool sdConfigured = false;
        unsigned rxDelay = 0;
        unsigned txDelay = 0;
        char rxGain = 0;
        // By frequency, cut to 16 bits as the driver keeps them.
        std::map<unsigned, ToneFilter> toneFilters;
    };

    Containers::CyclicList link_;
    // What the controller's answered requests leave: put back on a new descriptor.
    Functions want_;
    // What the driver holds on the open descriptor: nothing once it has ended.
    Functions held_;
    // The VAD configuration of the last request the driver took.
    std::optional<ZGCP::VADParams> vadParams_;
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
    bool disableToneAll(unsigned ts);
    bool enableVAD(DSProcReceiver& receiver, bool on);
    bool enableSD(DSProcReceiver& receiver, bool on);
    bool enableBSS(DSProcReceiver& receiver, bool on);
    bool enableNG(DSProcReceiver& receiver, bool on);
    bool enableMute(DSProcReceiver& receiver, bool rx, bool tx);

    // Switches off what a receiver that lets go of its channel left on; what the driver
    // refuses, the channel owes.
    void letGo(DSProcReceiver& receiver);

    void OnEvent(int fd, short revents) override;

private:
    typedef DSProcReceiver::State DSProcReceiver::Functions::*Function;

    // Enable or disable of the function whose state the receiver keeps in its member.
    bool enable(DSProcReceiver& receiver, Function function, std::uint32_t mask, char const* name, bool on);
    // The request of an enable (under a new id) or a disable, the driver's state updated.
    bool requestEnable(DSProcReceiver& receiver, Function function, std::uint32_t mask, char const* name, bool on);
    // The muting's request, the driver's state updated.
    bool requestMute(DSProcReceiver& receiver, bool rx, bool tx);
    bool enableRequest(unsigned long number, dsproc_enable_params& r, char const* name);
    // Sends the configuration; a failure is written with its text.
    bool configure(dsproc_configure_params& r, char const* failText);
    void route(dsproc_event_record const& record);
    bool restore() override;
    bool restore(DSProcReceiver& receiver);
    void forget() override;
    bool switchOff(unsigned ts, SwitchOffs off) override;
    void nameSwitchOffs(std::ostream& os, SwitchOffs offs) const override;
};

}  // namespace Hardware
