#include "control/strm_protocol.h"

#include "base/ext.h"
#include "base/packet.h"
#include "base/clock.h"
#include "runtime/multiplexer.h"
#include "runtime/read_end.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

namespace {

int socketOption(int fd, int option)
{
    int value = 0;
    socklen_t len = sizeof value;
    if (::getsockopt(fd, SOL_SOCKET, option, &value, &len) != 0)
        return -1;
    return value;
}

int ioctlFigure(int fd, unsigned long request)
{
    int value = 0;
    if (::ioctl(fd, request, &value) != 0)
        return -1;
    return value;
}

std::string errorText(char const* what, int error)
{
    return std::string(what) + std::strerror(error);
}

}  // namespace

StrmProtocol::StrmProtocol() { init(); }

StrmProtocol::StrmProtocol(Fd fd)
{
    init();
    attach(fd);
}

StrmProtocol::~StrmProtocol() { release(); }

void StrmProtocol::init()
{
    overflow_ = 0;
    event_.Bind("StrmProtocol::on_event", &StrmProtocol::on_event, this);
}

void StrmProtocol::attach(Fd const& fd)
{
    release();
    fd_ = fd;
    // A fresh socket has nothing queued: a positive answer means the call reports free space.
    outqReportsFree_ = fd_.is_valid() && ioctlFigure(fd_.lowlevel_fd(), TIOCOUTQ) > 0;
}

void StrmProtocol::release()
{
    pendingEnd_.clear();
    writeFailed_ = false;
    if (!fd_.is_valid())
        return;
    event_.Release();
    fd_.close();
}

bool StrmProtocol::local_activate()
{
    if (!fd_.is_valid()) {
        on_deactivate(new Protocol_status_error(this, "fd not attached"));
        return false;
    }
    // The loop polls a duplicate: without a descriptor to spare, the stream could not be
    // read, so it ends at once instead of being held unwatched.
    Fd watched(fd_);
    if (!watched.is_valid()) {
        on_error(errorText("cannot watch descriptor: ", errno));
        return false;
    }
    event_.Schedule(std::move(watched), POLLIN);
    return on_activate();
}

void StrmProtocol::local_deactivate()
{
    release();
    on_deactivate(new Protocol_status_success(this, "success"));
}

void StrmProtocol::on_event(int, short revents)
{
    if (revents & POLLNVAL)
        on_error("pollnval: descriptor not open");
    else if (revents & POLLERR)
        end(errorText("pollerr: ", errno));
    else if (revents & POLLHUP)
        end(errorText("pollhup: ", errno));
    else if (revents & POLLIN)
        do_read();
}

void StrmProtocol::end(std::string const& text)
{
    if (!fd_.is_valid())
        return;
    if (pendingEnd_.empty())
        pendingEnd_ = text;
    if (!reading_)
        take_rest();
}

void StrmProtocol::take_waiting_end()
{
    if (!fd_.is_valid())
        return;
    pollfd p{fd_.lowlevel_fd(), ReadEnd::input, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP | POLLRDHUP)))
        end(ReadEnd::whyPolled(p.revents, p.fd));
}

void StrmProtocol::do_read()
{
    ssize_t const n = read_up(packet_max_size);
    int const error = errno;
    if (ReadEnd::ofRead(n, error) == ReadEnd::end)
        on_error(errorText("read error: ", error));
    else if (!pendingEnd_.empty())
        take_rest();
}

void StrmProtocol::take_rest()
{
    // What waits now: a peer that still sends cannot keep the end waiting.
    int left = inq_space();
    while (left > 0 && fd_.is_valid()) {
        ssize_t const n = read_up(std::size_t(left));
        if (n <= 0)
            break;
        left -= int(n);
    }
    // The layers above may have ended the stream meanwhile; then that was its end.
    if (fd_.is_valid() && !pendingEnd_.empty())
        on_error(std::string(pendingEnd_));
}

ssize_t StrmProtocol::read_up(std::size_t limit)
{
    // With the pool empty the bytes are read and dropped, so that the socket does not
    // stay readable for ever; the framing above finds its way back.
    Packet p;
    bool const pooled = p.try_reserve_head(0, PacketUse::control);
    unsigned char scratch[4096];
    std::size_t const room = std::min<std::size_t>(limit, pooled ? p.tailroom() : sizeof scratch);
    readMeasure_.begin();
    ssize_t const n = ::recv(fd_.lowlevel_fd(), pooled ? p.data() : scratch, room, MSG_DONTWAIT | MSG_NOSIGNAL);
    int const error = errno;
    readMeasure_.end();
    if (n > 0 && !pooled)
        std::cerr << ext::header(this) << "no packet buffer: " << n << " bytes dropped" << std::endl;
    if (n > 0 && pooled) {
        p.put(static_cast<unsigned int>(n));
        reading_ = true;
        on_message(p);
        reading_ = false;
    }
    errno = error;
    return n;
}

void StrmProtocol::on_error(std::string const& text)
{
    release();
    on_deactivate(new Protocol_status_error(this, text));
}

void StrmProtocol::message(Packet& p)
{
    if (!fd_.is_valid() || writeFailed_)
        return;
    writeMeasure_.begin();
    std::uint32_t const start = Mux::milliseconds();
    unsigned char const* data = p.data();
    std::size_t left = p.length();
    while (left > 0) {
        // Never blocks and never raises SIGPIPE: a full socket is waited for below, a
        // closed peer is a write error.
        ssize_t const n = ::send(fd_.lowlevel_fd(), data, left, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0) {
            data += n;
            left -= std::size_t(n);
            continue;
        }
        int const error = errno;
        if (error == EINTR)
            continue;
        if (error != EAGAIN && error != EWOULDBLOCK) {
            writeMeasure_.end();
            write_failure_line("write error", error);
            ++overflow_;
            writeFailed_ = true;
            end(errorText("write error: ", error));
            return;
        }
        int const timeLeft = write_timeout_ms - int(Mux::milliseconds() - start);
        if (timeLeft >= 1) {
            multiplexer.resetWD();
            pollfd entry{fd_.lowlevel_fd(), POLLOUT, 0};
            int const r = ::poll(&entry, 1, timeLeft);
            int const pollError = errno;
            multiplexer.resetWD();
            if (r > 0 || (r < 0 && pollError == EINTR))
                continue;
        }
        writeMeasure_.end();
        write_failure_line("write timeout", 0);
        ++overflow_;
        writeFailed_ = true;
        end("write timeout");
        return;
    }
    writeMeasure_.end();
}

void StrmProtocol::write_failure_line(char const* what, int error) const
{
    std::cerr << ext::header(this) << what << ", sendbuf=" << sendbuf_space() << ", recvbuf=" << recvbuf_space()
              << ", free=" << free_space() << ", inq=" << inq_space() << ", outq=" << outq_space();
    if (error != 0)
        std::cerr << ", error=" << std::strerror(error);
    std::cerr << std::endl;
}

void StrmProtocol::PutHeader(std::ostream& os) const { os << "SockStream[" << serviceName_ << "]: "; }

int StrmProtocol::sendbuf_space() const { return socketOption(fd_.lowlevel_fd(), SO_SNDBUF); }

int StrmProtocol::recvbuf_space() const { return socketOption(fd_.lowlevel_fd(), SO_RCVBUF); }

int StrmProtocol::inq_space() const { return ioctlFigure(fd_.lowlevel_fd(), FIONREAD); }

int StrmProtocol::outq_space() const { return ioctlFigure(fd_.lowlevel_fd(), TIOCOUTQ); }

int StrmProtocol::free_space() const
{
    int const outq = outq_space();
    return outqReportsFree_ ? outq : sendbuf_space() - outq;
}
