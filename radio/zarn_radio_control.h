#pragma once

#include "radio/radio_control.h"
#include "radio/sig_proto.h"
#include "radio/zarn_radio_state.h"

#include <cstdint>

namespace RTPSignalling {

// The transmission types: "GW_FLAG", "GW_FLAG_PTT", "GW_SEL_CALL", "WM_FLAG", "WM_TRANS",
// "WM_SEL_CALL_TRANS".
bool isPTTCommand(int type);
// A type that stands for a whole state (0 or below) rather than one packet.
bool isDefaultInitCommand(int type);

// A radio whose signalling travels as ZARN signalling packets in the RTP header extension.
//
// Drains the extension descriptor, decodes each packet into a state and reports the packets
// the access rule lets through to the slot (only the last of a run of one type from one
// sender); turns the controller's ZARN status and commands into the current state and into
// packets. A received value the controller's types cannot carry is reported as ZarnUnfit
// says, and logged the first time its field meets one. The protocol operations decide what a side stores, sends and lets through; these
// bodies store nothing, let everything through and encode nothing.
class ZarnRadioControl : public RadioControl {
public:
    ZarnRadioControl(int channel, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
    explicit ZarnRadioControl(rtp_ext_init_params const& init);
    ZarnRadioControl(int channel, Fd rtp, rtp_attach_session_params const& attach);

    // A ZARN status or command over a copy of the current state, sent as the side sends it;
    // false, doing nothing, for another alternative.
    bool SendASNToChan(TERM::RadioStatus const& status) override;
    bool SendASNToChan(TERM::RadioModifier const& modifier) override;
    // The radio's squelch flag.
    bool GetSQU() const override { return current_.flag_s != 0; }

protected:
    // The re-send groups, each with its own last-send time.
    enum Group { kTransmission, kChannel, kRemote, kStandby, kGroups };

    void OnRtpExtEvent(int fd, short revents) override;

    // The controller's state for the IP side: 0 lets it be encoded and sent.
    virtual int PutProtoFromRadioToChan(ZarnRadioState const&) { return 0; }
    // A packet the access rule let through, for the from-channel state.
    virtual int PutProtoFromChanToRadio(ZarnRadioState const&) { return 0; }
    virtual bool AccessFormChanToRadio(ZarnRadioState const&) { return true; }
    // 0 when the record holds a packet to send.
    virtual int EncodeProto(ZarnRadioState const&, sig_proto&) { return 0; }

    // Reports one received packet when the access rule lets it through; 0.
    int OnRtpProtoRXEvent(sig_proto const& rec);
    // Logs each field the controller's types could not carry the first time it is met.
    void LogUnfit(ZarnUnfit const& unfit);
    // Stores and sends a state from the controller; 0.
    int SendRadioStateToChan(ZarnRadioState const& state);
    // Packs and writes one packet: write's result, 0 when it does not pack. A failed write is
    // logged once, until a write succeeds again.
    int SendProtoToChan(sig_proto& rec);
    // The driver accepts payloads only from the owner while the radio transmits.
    void UpdateOwnerAccess();
    // The group whose last-send time a packet of the type restamps; kGroups for none.
    static Group GroupOf(std::int32_t type);

    ZarnRadioState current_;
    ZarnRadioState fromChannel_;
    std::uint32_t lastSend_[kGroups] = {};

private:
    void Init();

    sig_proto record_{};
    sig_proto previous_{};
    bool writeFailed_ = false;
    // The fields of ZarnUnfit logged already.
    std::uint32_t unfitLogged_ = 0;
};

// The gateway side: the radio itself. Receives the commands 1-13 from the IP side, sends the
// radio's state 129-135, lets a sender command a transmitting radio only when it owns the
// transmission or pre-empts it, and re-sends the four groups of its state about once a
// second.
class ZarnRadioGWControl : public ZarnRadioControl {
public:
    using ZarnRadioControl::ZarnRadioControl;

protected:
    std::uint32_t ProcessRadioStatus(std::uint32_t now, std::uint32_t interval) override;
    int PutProtoFromRadioToChan(ZarnRadioState const& state) override;
    int PutProtoFromChanToRadio(ZarnRadioState const& state) override;
    bool AccessFormChanToRadio(ZarnRadioState const& state) override;
    int EncodeProto(ZarnRadioState const& state, sig_proto& rec) override;
};

// The workstation side, the gateway's mirror image: sends the commands 1-13 and takes the
// radio's state from the IP side; no access rule and no periodic re-send.
class ZarnRadioWSControl : public ZarnRadioControl {
public:
    using ZarnRadioControl::ZarnRadioControl;

protected:
    int PutProtoFromRadioToChan(ZarnRadioState const& state) override;
    int PutProtoFromChanToRadio(ZarnRadioState const& state) override;
    int EncodeProto(ZarnRadioState const& state, sig_proto& rec) override;
};

}  // namespace RTPSignalling
