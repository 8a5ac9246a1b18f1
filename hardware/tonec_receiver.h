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
// configuration, the rejection and the echo canceller. A bool result is true when the
// driver took the request.
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

    void OnEvent(int fd, short revents) override;

private:
    // A request that takes the timeslot by value, logged under its word and suffix.
    bool byValue(char const* word, char const* suffix, unsigned long number, unsigned ts);
    void route(tonec_event_record const& record);
    void restore() override;
    void restore(TonecReceiver& receiver);
};

// A switch channel's use of the tone functions, inherited by the media slots once per
// channel they serve. It remembers what it switched on and configured, so that the service
// can put it back on a device opened again (the generator's setting too) and
// CleanBeforeDestroy (which the slot's destructor calls) can switch it off before the
// channel is reused, and it runs the two timed tone sequences (DTMF sending, the wait tone)
// on its own timer; their steps send nothing while the device is closed.
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
    // The generator sends nothing (1000 Hz twice at amplitude 0).
    bool enableSilence();
    // Ends a running DTMF sequence and switches the generator off; without force, only
    // when a sequence is running (false otherwise, nothing sent).
    bool disableToneGenerator(bool force);
    // Starts sending the digits, or gives a running sequence the new list from its next
    // step on; false, nothing started, when the device cannot be had.
    bool translateDTMF(ZGCP::TranslateDtmfParams const& params);
    // The wait tone: 1 s of 425 Hz, 3 s of silence, until cancelled. While a DTMF sequence
    // is being sent it starts when the sequence has ended. False, nothing started, when the
    // device cannot be had.
    bool activateAudibleCall();
    void cancelAudibleCall();
    bool is_inDTMFTransmit() const { return sending_; }
    // Switches off the detectors and the rejection that this receiver switched on (nothing
    // is on a device that is closed).
    void CleanBeforeDestroy();

    bool dtmfOn() const { return dtmfOn_; }
    bool ivaOn() const { return ivaOn_; }
    bool rejectionOn() const { return rejectionOn_; }
    bool echoCancelOn() const { return echoCancelOn_; }
    // The id of the last successful DTMF detector enable.
    std::uint32_t rid() const { return rid_; }
    // A wait tone waits for the end of the DTMF sequence.
    bool waitTonePending() const { return waitTonePending_; }

private:
    friend class TonecReceiverService;
    static TonecReceiver* of(Containers::CyclicList* node)
    {
        return Containers::offset(node, &TonecReceiver::link_);
    }

    void pauseEnd();
    void toneEnd();
    void waitToneOn();
    void waitToneOff();
    void stopSequence();
    // A generator setting of a timed step: nothing while the device is closed.
    bool step(std::uint16_t freq1, std::uint16_t freq2, std::uint16_t amp1, std::uint16_t amp2);
    // The tone device, tried at once when it is closed (a line when it cannot be had).
    bool generatorReady();

    Timer timer_;
    bool sending_ = false;
    std::uint32_t rid_ = 0;
    ZGCP::TranslateDtmfParams digits_;
    Containers::CyclicList link_;
    // The detectors' events are accepted: each detector has its own flag.
    bool dtmfOn_ = false;
    bool ivaOn_ = false;
    bool rejectionOn_ = false;
    bool echoCancelOn_ = false;
    bool waitTonePending_ = false;
    // The generator's setting the driver took last (freq1, freq2, amp1, amp2; all 0: off).
    std::array<std::uint16_t, 4> generator_{};
    // The configurations the driver took last, put back with the detectors.
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
