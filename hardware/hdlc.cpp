#include "hardware/hdlc.h"

#include "base/errno.h"
#include "base/ext.h"
#include "base/trace_ctl.h"
#include "hardware/hw_mux.h"
#include "hardware/mcc_device.h"
#include "messages/zgcp.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

namespace {

// The observer of an unbound channel.
class NullNotify : public HDLC::Notify {
public:
    void on_hdlc_receive(Packet&) override {}
    void on_hdlc_error(Cause::Type) override {}
    void on_hdlc_ready() override {}
};

NullNotify nullNotify;

// The controller's channel type for a channel type of the parameters; -1 for none.
int channelType(std::uint32_t type)
{
    switch (type) {
    case 0: return mcc::kSs7;
    case 1: return mcc::kData;
    case 2: return mcc::kBri;
    }
    return -1;
}

}  // namespace

HDLC::HDLC()
{
    unbind();
    event_.Bind("HDLC::OnEvent", &HDLC::on_event, this);
}

HDLC::~HDLC() { idleLine(); }

void HDLC::bind(Notify* notify) { notify_ = notify ? notify : &nullNotify; }

void HDLC::unbind() { notify_ = &nullNotify; }

void HDLC::PutHeader(std::ostream& os) const { os << "hdlc [" << trunkNo_ << '/' << params_.timeslot << "]: "; }

bool HDLC::activate()
{
    deactivate();
    stats_ = Statistics();
    int const type = channelType(params_.type);
    if (type < 0) {
        std::cerr << ext::header(this) << "no channel type for type " << params_.type << std::endl;
        return false;
    }
    Fd channel = Mcc::open(O_RDWR | O_NONBLOCK);
    if (!channel) {
        Errno e;
        std::cerr << ext::header(this) << "fail to open MCC device: " << e << std::endl;
        return false;
    }
    if (!Mcc::allocate(channel, mcc::Allocate{std::uint32_t(type), kRxPacketSize, 0, kRxThreshold, kTxThreshold})) {
        Errno e;
        std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << e << std::endl;
        return false;
    }
    int const ts = Mcc::timeslot(channel);
    if (ts < 0) {
        Errno e;
        std::cerr << ext::header(this) << "MCC_TIMESLOT fail: " << e << std::endl;
        return false;
    }
    int const output = params_.type == 2 ? params_.txTdm : params_.tdm;
    if (join(ts, output))
        lineOutput_ = output;
    join(params_.tdm, ts);
    event_.Schedule(channel, POLLIN | POLLOUT);
    ready_ = false;
    ++generation_;
    if (traces.signalling.hdlc)
        std::clog << ext::header(this) << "activated" << std::endl;
    return true;
}

// A connection the switch refuses leaves the channel without that direction: said on the
// error stream, and the channel works on.
bool HDLC::join(int src, int dst)
{
    if (HwMux::instance().Connect(src, dst))
        return true;
    std::cerr << ext::header(this) << "switch connect " << src << " -> " << dst << " failed" << std::endl;
    return false;
}

void HDLC::idleLine()
{
    if (lineOutput_ < 0)
        return;
    HwMux::instance().Disconnect(lineOutput_);
    lineOutput_ = -1;
}

void HDLC::deactivate()
{
    event_.Release();
    ready_ = false;
    idleLine();
    ++generation_;
    if (traces.signalling.hdlc)
        std::clog << ext::header(this) << "deactivated" << std::endl;
}

void HDLC::fail()
{
    deactivate();
    notify_->on_hdlc_error(Notify::Cause::readError);
}

void HDLC::on_event(int, short revents)
{
    unsigned const generation = generation_;
    ReadResult read = ReadResult::nothing;
    if (revents & POLLIN) {
        read = readFrame();
        if (generation != generation_ || read == ReadResult::failed)
            return;
    }
    // A line that has gone away reads as the end of file (or gives nothing to read).
    if ((revents & (POLLHUP | POLLERR)) && read != ReadResult::frame) {
        std::cerr << ext::header(this) << "read error: line closed" << std::endl;
        fail();
        return;
    }
    if ((revents & POLLOUT) && !ready_ && is_open()) {
        ready_ = true;
        event_.SetEvents(POLLIN);
        notify_->on_hdlc_ready();
    }
}

void HDLC::do_read() { readFrame(); }

ZGCP::HdlcLinkInfo HDLC::linkInfo(std::uint32_t overflows) const
{
    ZGCP::HdlcLinkInfo info;
    info.set_txSU(int(stats_.txSU));
    info.set_txDiscard(int(stats_.txDiscard));
    info.set_txError(int(stats_.txError));
    info.set_txOverflow(int(stats_.txOverflow + overflows));
    info.set_rxSU(int(stats_.rxSU));
    return info;
}

HDLC::ReadResult HDLC::readFrame()
{
    if (traces.signalling.hdlc)
        std::clog << ext::header(this) << "do_read" << std::endl;
    if (!is_open()) {
        std::clog << ext::header(this) << "do_read: !m_event.IsActive()" << std::endl;
        return ReadResult::nothing;
    }
    Packet packet;
    switch (FrameIo::read(event_.lowlevel_fd(), packet)) {
    case FrameIo::Read::frame:
        if (traces.signalling.hdlc)
            std::clog << "HDLC[" << trunkNo_ << "]: rx " << packet << std::endl;
        ++stats_.rxSU;
        notify_->on_hdlc_receive(packet);
        return ReadResult::frame;
    case FrameIo::Read::dropped:
        std::cerr << ext::header(this) << "no packet for a received frame, dropped" << std::endl;
        return ReadResult::frame;
    // A zero-length frame carries nothing; at the end of the line the hang-up follows.
    case FrameIo::Read::empty: return ReadResult::empty;
    case FrameIo::Read::nothing: return ReadResult::nothing;
    case FrameIo::Read::failed: break;
    }
    Errno e;
    std::cerr << ext::header(this) << "read error: " << e << std::endl;
    fail();
    return ReadResult::failed;
}

bool HDLC::hdlc_transmit(Packet& packet)
{
    Packet const& frame = packet;
    if (frame.null() || frame.empty())
        return true;
    if (!is_open()) {
        ++stats_.txDiscard;
        return false;
    }
    if (traces.signalling.hdlc)
        std::clog << "HDLC[" << trunkNo_ << "]: tx " << frame << std::endl;
    switch (FrameIo::write(event_.lowlevel_fd(), frame)) {
    case FrameIo::Write::written:
        ++stats_.txSU;
        return true;
    case FrameIo::Write::full:
        ready_ = false;
        event_.SetEvents(POLLIN | POLLOUT);
        return false;
    case FrameIo::Write::failed: break;
    }
    ++stats_.txError;
    return false;
}

namespace FrameIo {

Read read(int fd, Packet& packet)
{
    packet = Packet();
    ssize_t n;
    if (!packet.try_reserve_head(0)) {
        unsigned char scratch[1];
        n = ::read(fd, scratch, sizeof scratch);
        return n > 0 ? Read::dropped : n == 0 ? Read::empty : Read::nothing;
    }
    do
        n = ::read(fd, packet.tail(), packet.tailroom());
    while (n < 0 && errno == EINTR);
    if (n > 0) {
        packet.put(unsigned(n));
        return Read::frame;
    }
    if (n == 0)
        return Read::empty;
    return errno == EAGAIN || errno == EWOULDBLOCK ? Read::nothing : Read::failed;
}

Write write(int fd, Packet const& frame)
{
    ssize_t n;
    do
        n = ::write(fd, frame.data(), frame.length());
    while (n < 0 && errno == EINTR);
    if (n >= 0)
        return Write::written;
    return errno == EAGAIN || errno == EWOULDBLOCK ? Write::full : Write::failed;
}

}  // namespace FrameIo
