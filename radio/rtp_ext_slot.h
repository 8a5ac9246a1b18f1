#pragma once

#include "radio/ed137_radio_control.h"
#include "radio/radio_control.h"
#include "radio/zarn_radio_control.h"
#include "slots/rtp_slot.h"

#include <memory>
#include <optional>

// An RTP channel whose packets also carry radio signalling in their header extension: the
// slot owns a radio control, hands it the controller's radio commands (ioctl rtpExt) and
// turns its reports into the signals rtpExt and abort for the slot's number.
//
// A slot whose transmission depends on the squelch (ED-137 only) starts and stops the RTP
// device's receive direction after each ioctl, as the radio's squelch says.
class RtpExtSlot : public RtpSlot, public RTPSignalling::IRadioControlNotify {
public:
    RtpExtSlot(int channel, Fd rtp, rtp_connection_params const& params);
    // Unbinds the control and stops its timer before it goes.
    ~RtpExtSlot() override;

    // Opens the streams, then gives the control the create-time status.
    void IAfterCreate() override;
    // Stops the extension session before the RTP session ends.
    void endSession() override;
    bool Ioctl(ZGCP::IoctlParams const& params) override;
    char const* GetName() const override { return "rtp ext"; }

    void RadioControlNotify(TERM::RtpRadioRequest const& request) override;
    void RadioControlNotify(int cause) override;

    // The status the control gets once the create is answered.
    void SetRadioStatus(TERM::RadioStatus const& status) { status_ = status; }
    RTPSignalling::RadioControl* control() const { return control_.get(); }

protected:
    // Takes the control and binds it: debug off, the interval (when given), the timer, the
    // mode.
    void SetControl(std::unique_ptr<RTPSignalling::RadioControl> control, bool timer,
                    RTPSignalling::RadioControlMode mode, std::optional<std::uint32_t> interval = {});
    // The attach record naming the descriptor this slot keeps (the factory's own is closed
    // once the create is done).
    rtp_ext_attach_session_params OwnSession(rtp_ext_attach_session_params attach) const;

private:
    // Follows the squelch with the receive direction.
    void FollowSQU();

    std::unique_ptr<RTPSignalling::RadioControl> control_;
    TERM::RadioStatus status_;
};

class RtpZARNSlot : public RtpExtSlot {
public:
    using RtpExtSlot::RtpExtSlot;
    char const* GetName() const override { return "rtp ext ZARN"; }
};

// The radio on the gateway, ZARN signalling.
class RtpZARNRadioGWSlot : public RtpZARNSlot {
public:
    // The extension session attached to this slot's RTP session; the timer as asked.
    RtpZARNRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                       rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init, bool timer);
    RtpZARNRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params, rtp_ext_init_params const& init);
    // The extension carried by the RTP session another process names.
    RtpZARNRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                       rtp_attach_session_params const& attach);
    char const* GetName() const override { return "rtp ext ZARN (GW)"; }
};

// The workstation side of ZARN signalling; nothing builds it.
class RtpZARNRadioWSSlot : public RtpZARNSlot {
public:
    RtpZARNRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params,
                       rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
    RtpZARNRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params, rtp_ext_init_params const& init);
    RtpZARNRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params,
                       rtp_attach_session_params const& attach);
    char const* GetName() const override { return "rtp ext ZARN (WS)"; }
};

class RtpED137Slot : public RtpExtSlot {
public:
    using RtpExtSlot::RtpExtSlot;
    char const* GetName() const override { return "rtp ext ed137"; }
};

// The radio on the gateway, ED-137 signalling.
class RtpED137RadioGWSlot : public RtpED137Slot {
public:
    // Supervised: the status interval is half the keep-alive time-out.
    RtpED137RadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                        rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init,
                        RTPSignalling::ED137RadioParams const& radio);
    RtpED137RadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params, rtp_ext_init_params const& init);
    RtpED137RadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                        rtp_attach_session_params const& attach);
    char const* GetName() const override { return "rtp ext ED137 (GW)"; }
};
