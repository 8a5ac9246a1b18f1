#pragma once

#include "messages/term.h"
#include "radio/r2s_proto.h"
#include "radio/radio_control.h"

#include <cstdint>

namespace RTPSignalling {

// The parameters of an ED-137 radio session, from the controller's radio response.
struct ED137RadioParams {
    // The keep-alive supervision's shortest and longest time-outs (period x multiplier), the
    // bounds of the controller's own ranges.
    static constexpr std::uint32_t kMinKeepAlive = 20 * 2;
    static constexpr std::uint32_t kMaxKeepAlive = 1000 * 50;

    bool transmission_depend_on_squ = false;
    std::uint32_t sigtime = 1;
    std::uint32_t r2s_keepalive_period = 200;  // ms
    std::uint32_t r2s_keepalive_multiplier = 10;
    std::int32_t type = TERM::ED137RadioType::radio_txrx;
    std::int32_t txrxmode = TERM::ED137RadioTxRxMode::txrx;

    // Takes the response's type and mode, and the other values it carries.
    void Init(TERM::ED137RadioResponse const& response);
    // period x multiplier, held within [kMinKeepAlive, kMaxKeepAlive], so that neither a
    // product that overflows nor a zero one silences the supervision.
    std::uint32_t KeepAliveTimeout() const;
};

// The radio state carried by ED-137 header extensions and by the controller's ED-137 types.
struct ED137RadioState {
    // kind: an rx header (with an SQI feature), a tx header.
    static constexpr std::uint32_t kRx = 0x1001;
    static constexpr std::uint32_t kSqi = 0x1002;
    static constexpr std::uint32_t kTx = 0x2001;

    std::uint32_t kind = 0;
    std::uint32_t ptt = 0;
    std::uint32_t squ = 0;
    std::uint32_t ptt_id = 0;
    std::uint32_t ptt_mute = 0;
    std::uint32_t ptt_summation = 0;
    std::uint32_t sct = 0;
    std::uint32_t bss_method = 0;
    std::uint32_t bss_quality = 0;
    std::uint32_t session_addr = 0;  // network order
    std::uint32_t session_ssrc = 0;

    bool IsEqual(ED137RadioState const& other) const;
    bool IsRx() const { return (kind & 0xF000) == 0x1000; }
    bool IsTx() const { return (kind & 0xF000) == 0x2000; }
    bool HasSqi() const { return (kind & kSqi) == kSqi; }
    // rx or tx parameters as the kind says; none for another kind.
    void EncodeASN(TERM::ED137RadioModifierParams& params) const;
};

// A radio whose signalling travels as ED-137 header extensions.
//
// Reports what the IP side sends (only the last of a run of payloads from one sender, and
// the same state at most once a status interval), turns the controller's ED-137 status and
// commands into payloads, and on its status timer re-sends the radio's rx state and
// supervises the far side's keep-alive. The protocol operations decide what is stored, let
// through and encoded; these bodies store nothing, let everything through and encode
// nothing.
class ED137RadioControl : public RadioControl {
public:
    // The abort cause of a silent far side.
    static constexpr int kKeepAliveLost = 151;

    ED137RadioControl(int channel, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
    explicit ED137RadioControl(rtp_ext_init_params const& init);
    ED137RadioControl(int channel, Fd rtp, rtp_attach_session_params const& attach);

    void SetParams(ED137RadioParams const& params) { params_ = params; }

    // An ED-137 status or command over a copy of the current state; false, doing nothing,
    // for another alternative.
    bool SendASNToChan(TERM::RadioStatus const& status) override;
    bool SendASNToChan(TERM::RadioModifier const& modifier) override;
    bool GetSQU() const override { return current_.squ != 0; }

protected:
    void OnRtpExtEvent(int fd, short revents) override;

    virtual int PutProtoFromRadioToChan(ED137RadioState const&) { return 0; }
    virtual int PutProtoFromChanToRadio(ED137RadioState const&) { return 0; }
    virtual bool AccessFormChanToRadio(ED137RadioState const&) { return true; }
    // 0 when the record holds a payload to send.
    virtual int EncodeProto(ED137RadioState const&, r2s_proto&) { return 0; }

    // Reports one received payload unless refused or repeated within the interval.
    void OnRtpProtoRXEvent(r2s_proto const& rec);
    // Stores and sends a state from the controller.
    void SendRadioStateToChan(ED137RadioState const& state);
    // Encodes, packs and writes the state; true when it was encoded (and so counts as
    // sent; a failed write is retried by the next re-send).
    bool SendStateToChan(ED137RadioState const& state);

    ED137RadioParams params_;
    std::uint32_t lastSend_ = 0;
    std::uint32_t lastReport_ = 0;
    std::uint32_t lastReceived_ = 0;
    ED137RadioState fromChannel_;
    ED137RadioState current_;

private:
    void Init();
    // Mirror the command in the driver: only the owner's payloads while PTT is on.
    void UpdateOwnerAccess();

    r2s_proto record_{};
    r2s_proto previous_{};
};

// The gateway side: the radio. Takes tx (PTT) payloads from the IP side, sends rx headers
// (squelch and signal quality) back, and aborts the slot with kKeepAliveLost at every tick
// while nothing has come for the keep-alive time-out.
class ED137RadioGWControl : public ED137RadioControl {
public:
    using ED137RadioControl::ED137RadioControl;

protected:
    std::uint32_t ProcessRadioStatus(std::uint32_t now, std::uint32_t interval) override;
    int PutProtoFromRadioToChan(ED137RadioState const& state) override;
    int PutProtoFromChanToRadio(ED137RadioState const& state) override;
    bool AccessFormChanToRadio(ED137RadioState const& state) override;
    int EncodeProto(ED137RadioState const& state, r2s_proto& rec) override;
};

}  // namespace RTPSignalling
