#include "radio/rtp_ext_slot.h"

#include "base/ext.h"
#include "board/board.h"

#include <iostream>
#include <utility>

using RTPSignalling::ED137RadioGWControl;
using RTPSignalling::RadioControl;
using RTPSignalling::ZarnRadioGWControl;
using RTPSignalling::ZarnRadioWSControl;

RtpExtSlot::RtpExtSlot(int channel, Fd rtp, rtp_connection_params const& params)
    : RtpSlot(channel, std::move(rtp), params)
{
}

RtpExtSlot::~RtpExtSlot()
{
    if (control_) {
        control_->UnBind();
        control_->SetTimerEnable(false);
    }
}

void RtpExtSlot::SetControl(std::unique_ptr<RadioControl> control, bool timer, RTPSignalling::RadioControlMode mode,
                            std::optional<std::uint32_t> interval)
{
    control_ = std::move(control);
    control_->Bind(this);
    control_->SetDebug(false);
    if (interval)
        control_->SetTimerInterval(*interval);
    control_->SetTimerEnable(timer);
    control_->SetRadioControlMode(mode);
}

rtp_ext_attach_session_params RtpExtSlot::OwnSession(rtp_ext_attach_session_params attach) const
{
    attach.fd_rtp = rtp_.lowlevel_fd();
    return attach;
}

void RtpExtSlot::IAfterCreate()
{
    RtpSlot::IAfterCreate();
    if (control_)
        control_->SendASNToChan(status_);
}

void RtpExtSlot::endSession()
{
    if (control_ && rtp_)
        control_->RtpExtStop();
    RtpSlot::endSession();
}

bool RtpExtSlot::Ioctl(ZGCP::IoctlParams const& params)
{
    if (!control_)
        return RtpSlot::Ioctl(params);
    using P = ZGCP::IoctlParams;
    bool result = false;
    switch (params.currentSelection()) {
    case P::rtpExt::id: result = control_->SendASNToChan(params.get_rtpExt()); break;
    case P::encoder_mode::id:
    case P::decoder_mode::id: {
        // A codec change begins the RTP session again, on a new open of the device.
        bool const stopped = control_->RtpExtStop();
        result = RtpSlot::Ioctl(params);
        if (stopped && result) {
            control_->RtpSessionMoved(rtp_);
            result = control_->RtpExtStart(false);
        }
        break;
    }
    default: result = RtpSlot::Ioctl(params); break;
    }
    FollowSQU();
    return result;
}

void RtpExtSlot::FollowSQU()
{
    if (!transmissionDependOnSQU_)
        return;
    bool const squ = control_->GetSQU();
    if (squ == receiveStarted_)
        return;
    board::board().ioctl(rtp_.lowlevel_fd(), squ ? rtp::kStartReceive : rtp::kStopReceive, nullptr);
    receiveStarted_ = squ;
}

void RtpExtSlot::RadioControlNotify(TERM::RtpRadioRequest const& request) { OnRtpRadioEvent(request); }

void RtpExtSlot::RadioControlNotify(int cause) { OnAbort(cause); }

RtpZARNRadioGWSlot::RtpZARNRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init,
                                       bool timer)
    : RtpZARNSlot(channel, std::move(rtp), params)
{
    SetControl(std::make_unique<ZarnRadioGWControl>(channel, OwnSession(attach), init), timer,
               RTPSignalling::kGatewayMode);
}

RtpZARNRadioGWSlot::RtpZARNRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_ext_init_params const& init)
    : RtpZARNSlot(channel, std::move(rtp), params)
{
    SetControl(std::make_unique<ZarnRadioGWControl>(init), false, RTPSignalling::kGatewayMode);
}

RtpZARNRadioGWSlot::RtpZARNRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_attach_session_params const& attach)
    : RtpZARNSlot(channel, std::move(rtp), params)
{
    SetControl(std::make_unique<ZarnRadioGWControl>(channel, rtp_, attach), false, RTPSignalling::kGatewayMode);
}

RtpZARNRadioWSSlot::RtpZARNRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init)
    : RtpZARNSlot(channel, std::move(rtp), params)
{
    SetControl(std::make_unique<ZarnRadioWSControl>(channel, OwnSession(attach), init), false,
               RTPSignalling::kWorkstationMode);
}

RtpZARNRadioWSSlot::RtpZARNRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_ext_init_params const& init)
    : RtpZARNSlot(channel, std::move(rtp), params)
{
    SetControl(std::make_unique<ZarnRadioWSControl>(init), false, RTPSignalling::kWorkstationMode);
}

RtpZARNRadioWSSlot::RtpZARNRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_attach_session_params const& attach)
    : RtpZARNSlot(channel, std::move(rtp), params)
{
    SetControl(std::make_unique<ZarnRadioWSControl>(channel, rtp_, attach), false, RTPSignalling::kWorkstationMode);
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                         rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init,
                                         RTPSignalling::ED137RadioParams const& radio)
    : RtpED137Slot(channel, std::move(rtp), params)
{
    setTransmissionDependOnSQU(radio.transmission_depend_on_squ);
    auto control = std::make_unique<ED137RadioGWControl>(channel, OwnSession(attach), init);
    control->SetParams(radio);
    std::uint32_t const timeout = radio.KeepAliveTimeout();
    if (std::uint64_t(radio.r2s_keepalive_period) * radio.r2s_keepalive_multiplier != timeout)
        std::clog << ext::header(this) << "keep-alive " << radio.r2s_keepalive_period << " ms x "
                  << radio.r2s_keepalive_multiplier << " held at " << timeout << " ms" << std::endl;
    SetControl(std::move(control), true, RTPSignalling::kGatewayMode, timeout >> 1);
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                         rtp_ext_init_params const& init)
    : RtpED137Slot(channel, std::move(rtp), params)
{
    SetControl(std::make_unique<ED137RadioGWControl>(init), false, RTPSignalling::kGatewayMode);
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                         rtp_attach_session_params const& attach)
    : RtpED137Slot(channel, std::move(rtp), params)
{
    SetControl(std::make_unique<ED137RadioGWControl>(channel, rtp_, attach), false, RTPSignalling::kGatewayMode);
}
