#include "radio/radio_control.h"

#include "base/clock.h"
#include "board/board.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <utility>

namespace RTPSignalling {

char const* GetRtpExtDevName() { return rtp_ext::kPath; }

RadioControl::RadioControl(RadioControlType type, int channel) : type_(type), channel_(channel) {}

RadioControl::RadioControl(int channel, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init)
    : RadioControl(kRtpExtAttached, channel)
{
    extAttach_ = attach;
    init_ = init;
    Init(kRtpExtAttached);
}

RadioControl::RadioControl(int channel, Fd rtp, rtp_attach_session_params const& attach)
    : RadioControl(kRtpAttached, channel)
{
    // The caller's copy of its descriptor failed only when none was free.
    if (!rtp)
        shortage_.emplace();
    rtp_ = std::move(rtp);
    rtpAttach_ = attach;
    Init(kRtpAttached);
}

RadioControl::RadioControl(rtp_ext_init_params const& init) : RadioControl(kRtpExtOnly, 0)
{
    init_ = init;
    Init(kRtpExtOnly);
}

RadioControl::~RadioControl() = default;

void RadioControl::Init(RadioControlType type)
{
    type_ = type;
    tick_ = Mux::milliseconds();
    interval_ = kDefaultInterval;
    filterSet_ = false;
    notify_ = nullptr;
    timerEnabled_ = false;
    debug_ = false;
    // Bound to the virtual hook, so the protocol class's drain runs.
    event_.Bind("RadioControl::OnRtpExtEvent", &RadioControl::OnRtpExtEvent, this);
    RtpExtStart(true);
}

bool RadioControl::Request(int fd, unsigned long request, void* arg, char const* failure)
{
    if (board::board().ioctl(fd, request, arg) >= 0)
        return true;
    std::cerr << GetPrefix() << ' ' << failure << std::endl;
    return false;
}

bool RadioControl::OpenExtension(bool attach)
{
    Fd fd(board::board().open(rtp_ext::kPath, O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd.is_valid())
        return CreateFailed();
    if (!Request(fd.lowlevel_fd(), rtp_ext::kInit, &init_, "init rtp_ext session fail !!!"))
        return false;
    if (attach && !Request(fd.lowlevel_fd(), rtp_ext::kAttach, &extAttach_, "attach rtp_ext session fail !!!"))
        return false;
    ext_ = std::move(fd);
    event_.Schedule(ext_, POLLIN);
    if (event_.IsActive())
        return true;
    // No descriptor for the watch's own copy: the session is not kept unwatched.
    bool const failed = CreateFailed();
    ext_.close();
    return failed;
}

bool RadioControl::CreateFailed()
{
    Errno const e;
    if (e.value() == EMFILE || e.value() == ENFILE)
        shortage_ = e;
    std::cerr << GetPrefix() << " create rtp_ext session fail !!!" << std::endl;
    return false;
}

bool RadioControl::RtpExtStart(bool open_extension)
{
    switch (type_) {
    case kRtpExtAttached: return OpenExtension(true);
    case kRtpAttached:
        return Request(rtp_.lowlevel_fd(), rtp::kAttachSession, &rtpAttach_, "attach rtp session fail !!!");
    case kRtpExtOnly: return open_extension ? OpenExtension(false) : true;
    }
    return false;
}

bool RadioControl::RtpExtStop()
{
    if (type_ != kRtpExtAttached)
        return true;
    Request(ext_.lowlevel_fd(), rtp_ext::kDetach, &extAttach_, "detach rtp_ext session fail !!!");
    ext_.close();
    event_.Release();
    return true;
}

void RadioControl::RtpSessionMoved(Fd const& rtp)
{
    if (type_ == kRtpExtAttached)
        extAttach_.fd_rtp = rtp.lowlevel_fd();
    else if (type_ == kRtpAttached)
        rtp_ = rtp;
}

void RadioControl::SetTimerEnable(bool enable)
{
    timerEnabled_ = enable;
    if (enable)
        SetTimer(interval_);
    else
        timer_.reset();
}

void RadioControl::SetTimerInterval(std::uint32_t ms)
{
    if (ms < kMinInterval) {
        std::cerr << GetPrefix() << " status interval " << ms << " ms raised to " << kMinInterval << " ms" << std::endl;
        ms = kMinInterval;
    }
    interval_ = ms;
}

void RadioControl::SetTimer(std::uint32_t ms)
{
    timer_.set(std::max(ms, kMinInterval), &RadioControl::OnProcessStatus, this);
}

void RadioControl::OnProcessStatus()
{
    std::uint32_t const interval = interval_;
    tick_ = Mux::milliseconds();
    SetTimer(ProcessRadioStatus(tick_, interval));
}

std::uint32_t RadioControl::ProcessRadioStatus(std::uint32_t, std::uint32_t interval) { return interval; }

void RadioControl::OnRtpExtEvent(int, short revents)
{
    if ((revents & POLLIN) && debug_)
        std::clog << GetPrefix() << " receive extension packet(s)!" << std::endl;
}

void RadioControl::DeviceEnded(DeviceRead const& read)
{
    std::cerr << GetPrefix() << " fail to read from rtp_ext: " << read << std::endl;
    event_.Release();
    if (notify_ != nullptr)
        notify_->RadioControlNotify(read.error);
}

DeviceRead RadioControl::ReadPayload(short revents, std::uint8_t* buf, std::size_t size)
{
    // A failed query must not leave the previous payload's sender in place.
    source_ = {};
    if (revents & POLLIN)
        board::board().ioctl(ext_.lowlevel_fd(), rtp_ext::kSourceOfNext, &source_);
    return readDevice(ext_.lowlevel_fd(), revents, buf, size);
}

ssize_t RadioControl::WritePayload(std::uint8_t const* data, std::size_t length)
{
    return ::write(ext_.lowlevel_fd(), data, length);
}

int RadioControl::UpdateAccess(bool enable, in_addr const& addr)
{
    if (enable) {
        if (filterSet_ && filter_.addr == addr.s_addr)
            return 0;
        filter_ = {addr.s_addr, 0};
        filterSet_ = true;
        Request(ext_.lowlevel_fd(), rtp_ext::kSetFilter, &filter_, "set filer rtp_ext session fail !!!");
    } else if (filterSet_) {
        filter_ = {};
        filterSet_ = false;
        Request(ext_.lowlevel_fd(), rtp_ext::kResetFilter, &filter_, "reset filer rtp_ext session fail !!!");
    }
    return 0;
}

std::string const& RadioControl::GetPrefix()
{
    Mux::timeval tv;
    Mux::gettimeval(tv);
    prefix_ = type_ == kRtpExtOnly ? "rtp_ext " : "rtp_ext[" + std::to_string(channel_) + "] ";
    prefix_ += Mux::timevaltostring(tv) + ":";
    if (prefix_.size() > 253)
        prefix_.resize(253);
    return prefix_;
}

}  // namespace RTPSignalling
