#pragma once

#include "base/errno.h"
#include "base/fd.h"
#include "board/rtp.h"
#include "hardware/dsproc_receiver.h"
#include "hardware/tonec_receiver.h"
#include "runtime/device_read.h"
#include "runtime/event.h"
#include "slots/rtcp.h"
#include "slots/slot.h"

#include <netinet/in.h>

#include <cstdint>
#include <iosfwd>
#include <optional>

// A termination whose media travels as RTP through the RTP driver "/dev/rtp".
//
// The driver sends and receives the RTP packets of one session and ties it to one switch
// channel; the slot passes the driver's events to the controller, lends the channel the tone
// and voice-processing functions, and sends RTCP itself: one SDES when it starts
// (startRTPC) and one BYE when it goes, on its own UDP socket.
//
// Built by a factory on a session that is already begun with its channel added. The radio
// slots derive from it: they start and stop the receive direction themselves when it
// depends on the squelch, so the channel, the device and both flags are theirs to use.
//
// A slot whose session ends (its device ended, or a restart failed) loses its channel: its
// tone and voice-processing functions are switched off and its links undone while the
// channel is its own, then the session is stopped and the channel left to the driver.
class RtpSlot : public Slot, private Hardware::TonecReceiver, private Hardware::DSProcReceiver {
public:
    RtpSlot(int channel, Fd rtp, rtp_connection_params const& params);
    // Sends the BYE, then switches off the tone and voice-processing functions it used.
    ~RtpSlot() override;

    // Both streams are active at once.
    void IAfterCreate() override;
    // Stops the session, closes the device, disables the channel's switch output.
    bool IBeforeDestroy() override;
    // Stops the session on the driver and closes the device (nothing once closed).
    virtual void endSession();
    bool Ioctl(ZGCP::IoctlParams const& params) override;
    bool IOnOutputStream() override { return true; }
    // Starts the receive direction, unless it depends on the squelch.
    bool IOnInputStream() override;
    void IOnOutputRelease() override {}
    void IOnInputRelease() override;
    int IGetTransmitChannel() override { return channel_; }
    int IGetReceiveChannel() override { return channel_; }
    char const* GetName() const override { return "rtp"; }

    // What the factories set on a new slot.
    using Hardware::TonecReceiver::echoCancel;
    using Hardware::DSProcReceiver::configureDelays;
    using Hardware::DSProcReceiver::enableBSS;
    using Hardware::DSProcReceiver::enableNG;

    // Takes the bound socket over, keeps the peer, and sends the SDES.
    void startRTPC(Fd& socket, sockaddr_in const& peer);
    // Sends one RTCP packet to the peer, not waiting; failures are not reported.
    void send(RTPC::Msg const& msg);
    void setTransmissionDependOnSQU(bool on) { transmissionDependOnSQU_ = on; }
    // Begins the session again on a new open of the device with the current record and
    // re-adds the channel; the event registration moves to the new open and the old session
    // is closed. False when a step fails: the slot is then left without a session (a codec
    // change then loses the channel), or without its watch.
    bool restart();
    // Why the slot does not watch its session: the watch's own copy of the descriptor could
    // not be made (no descriptor free). None while it watches.
    std::optional<Errno> const& watchError() const { return watchError_; }
    bool enablePD(ZGCP::PDParams const& params);
    bool disablePD();
    // The payload type of a codec mode: alaw 8, ulaw 0, lbrc the receive payload type the
    // slot was created with.
    unsigned translate_payload(ZGCP::CodecMode const& mode) const;
    // Reads the waiting driver events and reports them.
    void OnRtpEvent(int fd, short revents);

    rtp_connection_params const& params() const { return params_; }
    // "rtp[<channel>]: ".
    void PutHeader(std::ostream& os) const;

    // The identity texts of the SDES items.
    static char const* const kCname;
    static char const* const kEmail;
    static char const* const kPhone;

protected:
    // The switch channel of the session.
    int channel_;
    // The open of "/dev/rtp" that carries the session (closed after a failed restart).
    Fd rtp_;
    // The receive direction was started on the driver.
    bool receiveStarted_ = false;
    // Opening the input stream does not start the receive direction.
    bool transmissionDependOnSQU_ = false;

private:
    void tonec_event(Params const& params) override { processTonecEvent(params); }
    std::uint32_t tonec_timeslot() const override { return std::uint32_t(channel_); }
    void dsproc_vad_event(Hardware::DSProcVADEvent const& event) override { processVADEvent(event); }
    void dsproc_bss_event(::dsproc_bss_event const* event) override { processBSSEvent(event); }
    void dsproc_sd_event(Hardware::DSProcSDEvent const& event) override { processSDEvent(event); }
    void dsproc_tone_flt_event(dsproc_tone_event const* event) override { processToneFltEvent(event); }
    void dsproc_flags_event(::dsproc_flags_event const* event) override { processFlagsEvent(event); }
    std::uint32_t dsproc_timeslot() const override { return std::uint32_t(channel_); }

    void letGoOfFunctions();
    // The session ended: the slot loses its channel.
    void letGoOfChannel();
    // The encoder-mode (tx_pt) or decoder-mode (rx_pt) request.
    bool changePayload(ZGCP::IoctlParams const& params, ZGCP::CodecMode const& mode, std::uint16_t& field);
    // Polls the current device for driver events; false (watchError) when it cannot.
    bool watch();
    void lost(DeviceRead const& why);
    // A request on the device; the driver's result, -1 with errno set.
    int request(unsigned long number, void* arg);

    Event event_;
    std::optional<Errno> watchError_;
    rtp_connection_params params_;
    sockaddr_in peer_{};
    Fd rtcp_;
    unsigned defaultPayload_;
};
