#include "control/strm_protocol.h"

#include "base/ext.h"
#include "base/packet.h"
#include "base/clock.h"
#include "runtime/multiplexer.h"
#include "runtime/read_end.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

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
    if (revents & POLLERR)
        on_error(errorText("pollerr: ", errno));
    else if (revents & POLLHUP)
        on_error(errorText("pollhup: ", errno));
    else if (revents & POLLIN)
        do_read();
}

void StrmProtocol::do_read()
{
    // With the pool empty the bytes are read and dropped, so that the socket does not
    // stay readable for ever; the framing above finds its way back.
    Packet p;
    bool const pooled = p.try_reserve_head(0, PacketUse::control);
    unsigned char scratch[4096];
    readMeasure_.begin();
    ssize_t const n = pooled ? ::recv(fd_.lowlevel_fd(), p.data(), p.tailroom(), MSG_DONTWAIT | MSG_NOSIGNAL)
                             : ::recv(fd_.lowlevel_fd(), scratch, sizeof scratch, MSG_DONTWAIT | MSG_NOSIGNAL);
    int const error = errno;
    readMeasure_.end();
    ReadEnd::Kind const k = ReadEnd::ofRead(n, error);
    if (k == ReadEnd::end)
        on_error(errorText("read error: ", error));
    if (k != ReadEnd::data)
        return;
    if (!pooled) {
        std::cerr << ext::header(this) << "no packet buffer: " << n << " bytes dropped" << std::endl;
        return;
    }
    p.put(static_cast<unsigned int>(n));
    on_message(p);
}

void StrmProtocol::on_error(std::string const& text)
{
    release();
    on_deactivate(new Protocol_status_error(this, text));
}

void StrmProtocol::message(Packet& p)
{
    if (!fd_.is_valid())
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
            on_error(errorText("write error: ", error));
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
        on_error("write timeout");
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
