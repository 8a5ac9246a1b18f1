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

HDLC::~HDLC() { leaveLine(); }

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
    joins_.channel = ts;
    if (!join(ts, output, joins_.lineOutput) || !join(params_.tdm, ts, joins_.lineInput)) {
        // Half a line is no link: what was joined goes again, and the channel with its
        // descriptor.
        leaveLine();
        return false;
    }
    event_.Schedule(channel, POLLIN | POLLOUT);
    ready_ = false;
    ++generation_;
    if (traces.signalling.hdlc)
        std::clog << ext::header(this) << "activated" << std::endl;
    return true;
}

// A line channel that is not given (-1) is not joined. A connection the switch refuses is
// said on the error stream.
bool HDLC::join(int src, int dst, int& line)
{
    if (src < 0 || dst < 0)
        return true;
    if (!HwMux::instance().Connect(src, dst)) {
        std::cerr << ext::header(this) << "switch connect " << src << " -> " << dst << " failed" << std::endl;
        return false;
    }
    line = src == joins_.channel ? dst : src;
    return true;
}

// Done before the descriptor closes, while the controller's channel is still held: once given
// back it may be another user's.
bool HDLC::leaveLine()
{
    if (joins_.channel < 0)
        return true;
    HwMux& mux = HwMux::instance();
    bool left = mux.Release(joins_.channel, joins_.lineInput);
    if (joins_.lineOutput >= 0)
        left = mux.Disconnect(joins_.channel, joins_.lineOutput) && left;
    joins_ = Joins();
    return left;
}

bool HDLC::deactivate()
{
    bool const left = leaveLine();
    event_.Release();
    ready_ = false;
    ++generation_;
    if (traces.signalling.hdlc)
        std::clog << ext::header(this) << "deactivated" << std::endl;
    return left;
}

void HDLC::fail()
{
    deactivate();
    notify_->on_hdlc_error(Notify::Cause::readError);
}

void HDLC::on_event(int, short revents)
{
    unsigned const generation = generation_;
    if (revents & ~POLLOUT) {
        readFrame(revents);
        if (generation != generation_ || !is_open())
            return;
    }
    if ((revents & POLLOUT) && !ready_ && is_open()) {
        ready_ = true;
        event_.SetEvents(POLLIN);
        notify_->on_hdlc_ready();
    }
}

void HDLC::do_read() { readFrame(POLLIN); }

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

void HDLC::readFrame(short revents)
{
    if (traces.signalling.hdlc)
        std::clog << ext::header(this) << "do_read" << std::endl;
    // Never opened, or given up: nothing to read. A descriptor the loop found not open still
    // has its number, and its read tells the end.
    if (event_.lowlevel_fd() < 0) {
        std::clog << ext::header(this) << "do_read: !m_event.IsActive()" << std::endl;
        return;
    }
    Packet packet;
    DeviceRead const read = FrameIo::read(event_.lowlevel_fd(), revents, packet);
    if (read.ended()) {
        std::cerr << ext::header(this) << "read error: " << read << std::endl;
        fail();
    } else if (read.data() && packet.null()) {
        std::cerr << ext::header(this) << "no packet for a received frame, dropped" << std::endl;
    } else if (read.data()) {
        if (traces.signalling.hdlc)
            std::clog << "HDLC[" << trunkNo_ << "]: rx " << packet << std::endl;
        ++stats_.rxSU;
        notify_->on_hdlc_receive(packet);
    }
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

DeviceRead read(int fd, short revents, Packet& packet)
{
    packet = Packet();
    if (!packet.try_reserve_head(0)) {
        unsigned char scratch[1];
        return readDevice(fd, revents, scratch, sizeof scratch);
    }
    DeviceRead const r = readDevice(fd, revents, packet.tail(), packet.tailroom());
    if (r.data())
        packet.put(unsigned(r.size));
    else
        packet = Packet();
    return r;
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
