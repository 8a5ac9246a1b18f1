#pragma once

#include "base/cyclic_list.h"
#include "board/dtmf.h"
#include "hardware/driver_service.h"
#include "messages/term.h"
#include "messages/zgcp.h"
#include "runtime/timer.h"

#include <array>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <utility>

namespace Hardware {

class TonecReceiver;

// The receivers of tone-detector events, in the order they were built.
Containers::CyclicList& tonecReceivers();

// The owner of the tone device "/dev/dtmf": issues the driver requests of every receiver,
// numbers the DTMF detector enables, reads the detector events and hands each to the first
// receiver built for its timeslot.
//
// The device is opened when the service is built. While it is closed (it could not be
// opened, or it ended) every request tries to open it again and fails when it cannot; on
// the new descriptor the service puts back every receiver's detectors, their
// configuration, the rejection, the echo canceller and the generator's setting. A bool
// result is true when the driver took the request.
class TonecReceiverService : public DriverService {
public:
    // The process's service, built on first use.
    static TonecReceiverService& instance();

    // lastId: the request id handed out last (the next enable takes the one after it).
    explicit TonecReceiverService(std::uint32_t lastId = 0);
    TonecReceiverService(TonecReceiverService const&) = delete;
    TonecReceiverService& operator=(TonecReceiverService const&) = delete;

    bool configureDTMF(unsigned ts, ZGCP::DTMFParams const& params);
    bool echoCancel(unsigned ts, bool on);
    bool enableDTMFReject(unsigned ts, bool on);
    bool enableDTMF(TonecReceiver& receiver, bool on);
    bool enableToneGenerator(unsigned ts, std::uint16_t freq1, std::uint16_t freq2, std::uint16_t amp1,
                             std::uint16_t amp2);
    bool configureIVA(TonecReceiver& receiver, ZGCP::IVAParams const& params);
    bool enableIVA(TonecReceiver& receiver, bool on);
    bool translateSelcal(TonecReceiver& receiver, TERM::SelcalCommand const& command);
    // Switches off what a receiver that lets go of its channel left on; what the driver
    // refuses, the channel owes.
    void letGo(TonecReceiver& receiver);

    void OnEvent(int fd, short revents) override;

private:
    // A request that takes the timeslot by value, logged under its word and suffix.
    bool byValue(char const* word, char const* suffix, unsigned long number, unsigned ts);
    // The DTMF detector's enable under a new id, or its disable.
    bool requestDTMF(TonecReceiver& receiver, bool on);
    bool disableDetector(unsigned ts);
    bool switchOff(unsigned ts, SwitchOffs off) override;
    void nameSwitchOffs(std::ostream& os, SwitchOffs offs) const override;
    void route(tonec_event_record const& record);
    bool restore() override;
    bool restore(TonecReceiver& receiver);
    void forget() override;
};

// A switch channel's use of the tone functions, inherited by the media slots once per
// channel they serve. It remembers what the controller's answered requests switched on and
// configured (what the service puts back on a device opened again, the generator's setting
// too), apart from what the driver holds on the open descriptor (what CleanBeforeDestroy,
// which the slot's destructor calls, switches off before the channel is reused). It runs the
// two timed tone sequences (DTMF sending, the wait tone) on its own timer: while the device
// is closed their steps send nothing but move the setting that is put back on, so that a
// sequence comes back at the point it has reached (a sequence that ended, ended). A request
// that stops the generator while the device is closed is recorded the same way.
class TonecReceiver {
public:
    // One detector event: its code and timestamp, as the event record gives them.
    struct Params {
        std::uint32_t code;
        std::uint32_t timestamp;
    };

    TonecReceiver();
    virtual ~TonecReceiver();
    TonecReceiver(TonecReceiver const&) = delete;
    TonecReceiver& operator=(TonecReceiver const&) = delete;

    virtual void tonec_event(Params const& params) = 0;
    // The switch channel whose tone functions this receiver uses.
    virtual std::uint32_t tonec_timeslot() const = 0;
    // A DTMF digit sequence has been sent (the generator is off again).
    virtual void tone_gen_complete() {}

    bool configureDTMF(ZGCP::DTMFParams const& params);
    bool enableDTMF(bool on);
    bool disableDTMF();
    bool echoCancel(bool on);
    bool enableDTMFReject(bool on);
    bool enableIVA(bool on);
    bool configureIVA(ZGCP::IVAParams const& params);
    bool translateSelcal(TERM::SelcalCommand const& command);
    bool enableToneGenerator(std::uint16_t freq1, std::uint16_t freq2, std::uint16_t amp1, std::uint16_t amp2);
    // The generator sends nothing (1000 Hz twice at amplitude 0); while the device is
    // closed, recorded (true).
    bool enableSilence();
    // Ends a running DTMF sequence and switches the generator off; without force, only
    // when a sequence is running (false otherwise, nothing sent). While the device is
    // closed the generator is recorded off (true). A switch-off that the driver refuses
    // while nothing sounded on the channel is true.
    bool disableToneGenerator(bool force);
    // Starts sending the digits, or gives a running sequence the new list from its next
    // step on; false, nothing started, when the device cannot be had.
    bool translateDTMF(ZGCP::TranslateDtmfParams const& params);
    // The wait tone: 1 s of 425 Hz, 3 s of silence, until cancelled. While a DTMF sequence
    // is being sent it starts when the sequence has ended. False, nothing started, when the
    // device cannot be had.
    bool activateAudibleCall();
    // Stops the wait tone (a pending one too); false, the cadence going on, when the driver
    // refuses to switch the generator off, unless nothing sounded on the channel. While the
    // device is closed the generator is recorded off (true).
    bool cancelAudibleCall();
    bool is_inDTMFTransmit() const { return sending_; }
    // Lets go of the channel: ends the timed sequences, switches off the detectors, the
    // rejection and a generator that the driver holds on (nothing is on a device that is
    // closed; the echo canceller stays as it is; what the driver refuses the channel owes),
    // and leaves the service's receivers, so that nothing of the channel is put back or
    // reaches the receiver any more.
    void CleanBeforeDestroy();

    // What the controller's answered requests switched on.
    bool dtmfOn() const { return want_.dtmf; }
    bool ivaOn() const { return want_.iva; }
    bool rejectionOn() const { return want_.rejection; }
    bool echoCancelOn() const { return want_.echoCancel; }
    // The id of the DTMF detector enable the driver holds (0: none).
    std::uint32_t rid() const { return rid_; }
    // A wait tone waits for the end of the DTMF sequence.
    bool waitTonePending() const { return waitTonePending_; }

private:
    friend class TonecReceiverService;
    static TonecReceiver* of(Containers::CyclicList* node)
    {
        return Containers::offset(node, &TonecReceiver::link_);
    }

    // A generator setting: freq1, freq2, amp1, amp2; all 0 is off.
    typedef std::array<std::uint16_t, 4> Tone;

    void pauseEnd();
    void toneEnd();
    void waitToneOn();
    void waitToneOff();
    void stopSequence();
    // A generator setting of a timed step: sent while the device is open, and the setting
    // that is put back either way.
    void step(Tone const& tone);
    // The generator set as a request asks; while the device is closed, recorded (true).
    bool setGenerator(Tone const& tone);
    // The tone device, tried at once when it is closed (a line when it cannot be had).
    bool generatorReady();
    // The generator sounds, or may, on the channel: a timed sequence or a tone is on, or a
    // switch-off is owed.
    bool generatorInUse() const;

    // The functions of a channel.
    struct Functions {
        bool dtmf = false;
        bool iva = false;
        bool rejection = false;
        bool echoCancel = false;
        bool dtmfConfigured = false;
        bool ivaConfigured = false;
        Tone generator{};
    };

    Timer timer_;
    bool sending_ = false;
    std::uint32_t rid_ = 0;
    ZGCP::TranslateDtmfParams digits_;
    Containers::CyclicList link_;
    bool waitTonePending_ = false;
    // What the controller's answered requests (and the timed sequences) leave: put back on a
    // new descriptor.
    Functions want_;
    // What the driver holds on the open descriptor: nothing once it has ended.
    Functions held_;
    // The configurations of the last configure requests the driver took.
    std::optional<ZGCP::DTMFParams> dtmfParams_;
    std::optional<ZGCP::IVAParams> ivaParams_;
};

}  // namespace Hardware

namespace Dtmf {

constexpr int NumTones = 16;
extern char const strRep[NumTones + 1];
extern std::uint16_t const freq1[NumTones];
extern std::uint16_t const freq2[NumTones];

// The DTMF digits and their frequency pairs (low group, high group).
class TonesValidator {
public:
    TonesValidator();
    // The pair of a digit; none for a character that is not a DTMF digit.
    std::optional<std::pair<std::uint16_t, std::uint16_t>> find(char digit) const;

private:
    std::map<char, std::pair<std::uint16_t, std::uint16_t>> tones_;
};

extern TonesValidator const tonesValidator;

}  // namespace Dtmf
