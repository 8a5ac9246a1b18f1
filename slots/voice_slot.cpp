#include "slots/voice_slot.h"

#include "base/ext.h"
#include "board/path.h"
#include "hardware/hw_mux.h"
#include "hardware/mcc_device.h"
#include "runtime/read_end.h"
#include "slots/voice_factory.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

namespace {

// The poll bit a device reports once it has sent what it was given.
constexpr int kDrained = 256;

}  // namespace

void VoiceSlot::PutHeader(std::ostream& os) const { os << GetName() << '[' << channel_ << "]: "; }

void VoiceSlot::checkLine()
{
    pollfd line{device_.lowlevel_fd(), POLLRDHUP, 0};
    if (!device_ || ::poll(&line, 1, 0) <= 0 || !(line.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)))
        return;
    std::cerr << ext::header(this) << "channel line ended" << std::endl;
    // While the channel is still the slot's: once the descriptor closes it may be another's.
    LoseChannel(channel_);
    channel_ = -1;
    device_.close();
}

// The time slot the factory had of the channel: a second request could only lose it.
PlaySlotGeneric::PlaySlotGeneric(int timeslot, Fd device) : VoiceSlot(timeslot, std::move(device)) {}

bool PlaySlotGeneric::IBeforeDestroy()
{
    HwMux::instance().Release(channel_);
    VoiceFactory::instance().OnDestroy(this);
    return true;
}

PlaySlotNetwork::PlaySlotNetwork(int timeslot, Fd device, ZGCP::PlayerParams_network const& params)
    : PlaySlotGeneric(timeslot, std::move(device)), host_(dhost2str(params.get_host())),
      id_(std::uint32_t(params.get_id().getValue()))
{
}

bool PlaySlotNetwork::IOnOutputStream()
{
    if (state_ == idle) {
        state_ = connecting;
        connect_ = std::make_unique<ASync::Connect>();
        connect_->Bind(&PlaySlotNetwork::OnConnect, this);
        connect_->Start(host_, kConnectTimeoutMs);
    }
    // Released, even by a connect that failed at once: nothing will play.
    if (state_ == released)
        return false;
    OnChangeOutputStream(true);
    return IsTimeSlotValid();
}

void PlaySlotNetwork::OnConnect(ASync::Connect::Status::Type status, Fd socket)
{
    if (status != ASync::Connect::Status::connected) {
        std::clog << ext::header(this) << "connection to " << host_ << " fail." << std::endl;
        Release();
        return;
    }
    std::clog << ext::header(this) << "connected to " << host_ << "." << std::endl;
    OnIoctlResponse(ZGCP::IoctlResponse(ZGCP::IoctlResponse::startPlaying::id, ASN1::Null()));
    state_ = playing;
    connect_.reset();
    copy_ = std::make_unique<ASync::Copy>();
    copy_->set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, kDrained));
    copy_->Bind(&PlaySlotNetwork::OnPlayComplete, this);
    std::uint32_t const id = htonl(id_);
    (void)::send(socket.lowlevel_fd(), &id, sizeof id, MSG_NOSIGNAL);
    copy_->Start(std::move(socket), device_);
}

void PlaySlotNetwork::OnPlayComplete(ASync::Copy::Status::Type status)
{
    if (status == ASync::Copy::Status::done)
        std::clog << ext::header(this) << "connection to " << host_ << " closed." << std::endl;
    else
        std::cerr << ext::header(this) << "play failed" << std::endl;
    Release();
}

void PlaySlotNetwork::Release()
{
    state_ = released;
    OnChangeOutputStream(false);
    copy_.reset();
    connect_.reset();
    checkLine();
    OnAbort(0);
}

PlaySlotFile::PlaySlotFile(int timeslot, Fd device, ZGCP::PlayerParams_file const& params)
    : PlaySlotGeneric(timeslot, std::move(device)), repeat_(std::uint32_t(params.get_repeat().getValue()))
{
    for (auto const& name : params.get_name())
        names_.push_back(name);
    delayedAbort_.Bind(this, &PlaySlotFile::delayed_abort);
}

bool PlaySlotFile::IOnOutputStream()
{
    if (released_)
        return false;
    if (!started_) {
        if (!restart()) {
            delayedAbort_.Activate();
            return false;
        }
        started_ = true;
    }
    OnChangeOutputStream(true);
    return IsTimeSlotValid();
}

bool PlaySlotFile::restart()
{
    current_ = 0;
    passBytes_ = 0;
    return next_phrase();
}

bool PlaySlotFile::next_phrase()
{
    while (current_ < names_.size()) {
        std::string const path = board::path(kFolder + names_[current_++]);
        Fd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!file)
            continue;
        ::lseek(file.lowlevel_fd(), 0, SEEK_SET);
        file_ = std::move(file);
        copy_ = std::make_unique<ASync::Copy>();
        copy_->set_bufsize(kBufferSize);
        copy_->set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, kDrained));
        copy_->Bind(&PlaySlotFile::OnPlayComplete, this);
        copy_->Start(file_, device_);
        return true;
    }
    return false;
}

void PlaySlotFile::OnPlayComplete(ASync::Copy::Status::Type status)
{
    if (status != ASync::Copy::Status::done) {
        Release();
        return;
    }
    passBytes_ += copy_->written();
    if (next_phrase())
        return;
    // A pass that played nothing would be played again at once, without end.
    if (passBytes_ == 0 || (repeat_ != 0 && --repeat_ == 0)) {
        Release();
        return;
    }
    if (!restart())
        OnAbort(0);
}

void PlaySlotFile::Release()
{
    released_ = true;
    OnChangeOutputStream(false);
    copy_.reset();
    checkLine();
    OnAbort(0);
}

void PlaySlotFile::delayed_abort()
{
    delayedAbort_.Deactivate();
    OnAbort(0);
}

RecordSlot::RecordSlot(std::string host, int channel, Fd device)
    : VoiceSlot(channel, std::move(device)), host_(std::move(host))
{
    peer_.Bind("RecordSlot::OnPeerEvent", &RecordSlot::OnPeerEvent, this);
}

void RecordSlot::IAfterCreate() { OnChangeInputStream(true); }

bool RecordSlot::IBeforeDestroy()
{
    HwMux::instance().Release(channel_);
    VoiceFactory::instance().OnDestroy(this);
    return true;
}

bool RecordSlot::IOnInputStream()
{
    // A recording that runs (or connects) goes on: the new source's audio reaches it
    // through the same channel.
    if (connect_ || copy_)
        return true;
    connect_ = std::make_unique<ASync::Connect>();
    connect_->Bind(&RecordSlot::OnConnect, this);
    connect_->Start(host_, kConnectTimeoutMs);
    return true;
}

void RecordSlot::OnConnect(ASync::Connect::Status::Type status, Fd socket)
{
    if (status != ASync::Connect::Status::connected) {
        std::clog << ext::header(this) << "connection to " << host_ << " fail." << std::endl;
        StopRecording(ZGCP::StopRecordingCause::connectionFail);
        return;
    }
    std::clog << ext::header(this) << "connected to " << host_ << "." << std::endl;
    connect_.reset();
    peer_.Schedule(socket, POLLIN);
    copy_ = std::make_unique<ASync::Copy>();
    copy_->set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, 0));
    copy_->Bind(&RecordSlot::OnRecordComplete, this);
    copy_->Start(device_, std::move(socket));
}

void RecordSlot::OnPeerEvent(int fd, short revents)
{
    ReadEnd::Kind k = ReadEnd::ofPoll(revents);
    ssize_t n = -1;
    // The peer sends nothing the recording uses: one read a turn drops it.
    if (k == ReadEnd::data) {
        char discard[256];
        n = ::recv(fd, discard, sizeof discard, MSG_DONTWAIT);
        k = ReadEnd::ofRead(n, errno);
    }
    if (k != ReadEnd::end)
        return;
    peer_.Release();
    // Its close ends the recording as the end of the source would (what was read is still
    // sent); a reset, an error or a hang-up cuts it short.
    if (n == 0 && copy_)
        copy_->Stop();
    else if (copy_)
        Aborted();
}

void RecordSlot::OnRecordComplete(ASync::Copy::Status::Type status)
{
    if (status != ASync::Copy::Status::done) {
        Aborted();
        return;
    }
    std::clog << ext::header(this) << "connection to " << host_ << " closed." << std::endl;
    StopRecording(ZGCP::StopRecordingCause::userRequest);
}

void RecordSlot::Aborted()
{
    std::cerr << ext::header(this) << "record aborted" << std::endl;
    StopRecording(ZGCP::StopRecordingCause::connectionAborted);
}

void RecordSlot::StopRecording(ZGCP::StopRecordingCause::NamedNumber cause)
{
    copy_.reset();
    connect_.reset();
    peer_.Release();
    checkLine();
    OnIoctlResponse(ZGCP::IoctlResponse(ZGCP::IoctlResponse::stopRecording::id, cause));
}
