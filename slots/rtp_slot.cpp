#include "slots/rtp_slot.h"

#include "asn1/value_notation.h"
#include "base/ext.h"
#include "board/board.h"
#include "hardware/board_devices.h"
#include "hardware/driver_service.h"
#include "hardware/hw_mux.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <iostream>

char const* const RtpSlot::kCname = "media-gateway";
char const* const RtpSlot::kEmail = "admin@media-gateway.invalid";
char const* const RtpSlot::kPhone = "+0 000 000 0000";

namespace {

constexpr std::size_t kRtcpBuffer = 1024;
constexpr std::int32_t kPdEventWord = rtp_event_pd;

}  // namespace

RtpSlot::RtpSlot(int channel, Fd rtp, rtp_connection_params const& params)
    : channel_(channel), rtp_(std::move(rtp)), params_(params), defaultPayload_(params.rx_pt)
{
    watch();
}

RtpSlot::~RtpSlot()
{
    send(RTPC::BYE(params_.ssrc, "session end"));
    rtcp_.close();
    if (HoldsChannel())
        letGoOfFunctions();
}

void RtpSlot::letGoOfFunctions()
{
    Hardware::TonecReceiver::CleanBeforeDestroy();
    Hardware::DSProcReceiver::CleanBeforeDestroy();
}

void RtpSlot::PutHeader(std::ostream& os) const { os << "rtp[" << channel_ << "]: "; }

bool RtpSlot::watch()
{
    event_.Bind("RtpSlot::OnRtpEvent", &RtpSlot::OnRtpEvent, this);
    watchError_.reset();
    event_.Schedule(rtp_, POLLIN);
    if (rtp_ && !event_.IsActive())
        watchError_.emplace();
    return !watchError_;
}

int RtpSlot::request(unsigned long number, void* arg) { return board::board().ioctl(rtp_.lowlevel_fd(), number, arg); }

void RtpSlot::IAfterCreate()
{
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

bool RtpSlot::IBeforeDestroy()
{
    endSession();
    HwMux::instance().Release(channel_);
    return true;
}

void RtpSlot::endSession()
{
    if (!rtp_)
        return;
    request(rtp::kStopFirst, nullptr);
    request(rtp::kStop, nullptr);
    request(rtp::kStopLast, nullptr);
    std::int32_t pd = kPdEventWord;
    request(rtp::kDisableEvent, &pd);
    rtp_.close();
}

void RtpSlot::letGoOfChannel()
{
    if (!HoldsChannel())
        return;
    letGoOfFunctions();
    LoseChannel(channel_);
    endSession();
    channel_ = -1;
}

bool RtpSlot::IOnInputStream()
{
    if (transmissionDependOnSQU_)
        return true;
    request(rtp::kStartReceive, nullptr);
    receiveStarted_ = true;
    return true;
}

void RtpSlot::IOnInputRelease()
{
    request(rtp::kStopReceive, nullptr);
    receiveStarted_ = false;
}

bool RtpSlot::Ioctl(ZGCP::IoctlParams const& p)
{
    using P = ZGCP::IoctlParams;
    // A channel let go of has no functions to configure.
    if (!HoldsChannel())
        return false;
    switch (p.currentSelection()) {
    case P::echoSuppressor::id: return Hardware::TonecReceiver::echoCancel(p.get_echoSuppressor());
    case P::dtmf_enable::id: return enableDTMF(p.get_dtmf_enable());
    case P::dtmf_reject_enable::id: return enableDTMFReject(p.get_dtmf_reject_enable());
    case P::activateWaitTone::id: return activateAudibleCall();
    case P::deactivateWaitTone::id: return cancelAudibleCall();
    case P::translateDTMF::id: return translateDTMF(p.get_translateDTMF());
    case P::dtmf_params::id: return configureDTMF(p.get_dtmf_params());
    case P::vad_enable::id: return Hardware::DSProcReceiver::enableVAD(p.get_vad_enable());
    case P::vad_disable::id: return disableVAD();
    case P::vad_params::id: return configureVAD(p.get_vad_params());
    case P::sd_enable::id: return enableSD(p.get_sd_enable());
    case P::sd_disable::id: return disableSD();
    case P::sd_params::id: return configureSD();
    case P::pd_enable::id: return enablePD(p.get_pd_enable());
    case P::pd_disable::id: return disablePD();
    case P::encoder_mode::id: return changePayload(p, p.get_encoder_mode(), params_.tx_pt);
    case P::decoder_mode::id: return changePayload(p, p.get_decoder_mode(), params_.rx_pt);
    case P::rx_gain::id: return configureRxGain(char(p.get_rx_gain().get_gainDB().getValue() & 255));
    case P::tone_filter::id: {
        ZGCP::ToneFilter const& f = p.get_tone_filter();
        return configureToneFilter(unsigned(f.get_freq().getValue()), f.get_enable() ? 1 : 0,
                                   f.get_duration_th_msec().getValue(), f.get_det_level_dB().getValue());
    }
    case P::selcal::id: return Hardware::TonecReceiver::translateSelcal(p.get_selcal());
    default: return false;
    }
}

unsigned RtpSlot::translate_payload(ZGCP::CodecMode const& mode) const
{
    switch (ZGCP::CodecMode::NamedNumber(mode)) {
    case ZGCP::CodecMode::alaw: return 8;
    case ZGCP::CodecMode::ulaw: return 0;
    default: return defaultPayload_;
    }
}

bool RtpSlot::changePayload(ZGCP::IoctlParams const& params, ZGCP::CodecMode const& mode, std::uint16_t& field)
{
    std::clog << ext::header(this) << "do restart RTP session (change tx payload):" << params;
    std::uint16_t const pt = std::uint16_t(translate_payload(mode));
    if (field == pt) {
        std::clog << " - Nothing to do" << std::endl;
        return true;
    }
    field = pt;
    if (!restart()) {
        std::clog << std::endl;
        std::cerr << ext::header(this) << "fail to restart RTP session!" << std::endl;
        // Without a session the channel is no longer the slot's.
        if (!rtp_)
            letGoOfChannel();
        return false;
    }
    std::clog << " - OK" << std::endl;
    return true;
}

bool RtpSlot::restart()
{
    // The old session ends before the new one takes its channel: its event registration
    // holds an open of the device too.
    event_.Release();
    rtp_.close();
    Fd device(board::board().open(GetRtpDevName(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!device)
        return false;
    rtp_connection_params record = params_;
    if (board::board().ioctl(device.lowlevel_fd(), rtp::kBeginSession, &record) < 0)
        return false;
    rtp_channel_info info{channel_, -1, -1, 0};
    if (board::board().ioctl(device.lowlevel_fd(), rtp::kAddChannel, &info) < 0)
        return false;
    rtp_ = std::move(device);
    return watch();
}

bool RtpSlot::enablePD(ZGCP::PDParams const& params)
{
    int const timeout = params.get_timeout().getValue();
    rtp_event_params record{};
    record.type = rtp_event_pd;
    record.timeout = timeout;
    record.timeout2 = timeout;
    if (request(rtp::kEnableEvent, &record) < 0) {
        Hardware::ErrnoField const e{};
        std::cerr << ext::header(this) << "RTP SET EVENT PD fail:" << e << std::endl;
        return false;
    }
    std::clog << ext::header(this) << "RTP SET EVENT PD timeout=" << timeout << std::endl;
    return true;
}

bool RtpSlot::disablePD()
{
    std::int32_t pd = kPdEventWord;
    if (request(rtp::kDisableEvent, &pd) < 0) {
        Hardware::ErrnoField const e{};
        std::cerr << ext::header(this) << "RTP RESET EVENT PD fail:" << e << std::endl;
        return false;
    }
    std::clog << ext::header(this) << "RTP RESET EVENT PD" << std::endl;
    return true;
}

void RtpSlot::startRTPC(Fd& socket, sockaddr_in const& peer)
{
    peer_ = peer;
    rtcp_ = std::move(socket);
    RTPC::SDES sdes(params_.ssrc);
    sdes.add(RTPC::SDES::Item::CNAME, kCname);
    sdes.add(RTPC::SDES::Item::EMAIL, kEmail);
    sdes.add(RTPC::SDES::Item::PHONE, kPhone);
    send(sdes);
}

void RtpSlot::send(RTPC::Msg const& msg)
{
    std::uint8_t buffer[kRtcpBuffer];
    std::size_t const length = msg.encode(buffer, sizeof buffer);
    if (length != 0 && rtcp_)
        ::sendto(rtcp_.lowlevel_fd(), buffer, length, MSG_DONTWAIT, reinterpret_cast<sockaddr const*>(&peer_),
                 sizeof peer_);
}

void RtpSlot::OnRtpEvent(int, short revents)
{
    for (;;) {
        rtp_event record{};
        DeviceRead const read = readRecord(rtp_.lowlevel_fd(), revents, record);
        if (recordRead<rtp_event>(read)) {
            std::clog << ext::header(this) << "rtp event: " << " type=" << record.type << std::endl;
            processRtpEvent(record);
            continue;
        }
        if (read.ended())
            lost(read);
        else if (read.data())
            std::cerr << ext::header(this) << "rtp event: " << notARecord(read, sizeof record) << ", dropped" << std::endl;
        return;
    }
}

// The session is not polled any more and its channel is given back; the controller hears of
// it as an abort.
void RtpSlot::lost(DeviceRead const& why)
{
    std::cerr << ext::header(this) << "fail to read from rtp: " << why << std::endl;
    event_.Release();
    letGoOfChannel();
    OnAbort(why.error);
}
