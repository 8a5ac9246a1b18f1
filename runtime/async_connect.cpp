#include "runtime/async_connect.h"

#include "runtime/inet4_addr.h"
#include "runtime/read_end.h"

#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace ASync {

Connect::Connect() { event_.Bind("Connect::OnSocketEvent", &Connect::OnSocketEvent, this); }

Connect::~Connect() { handler_.UnBind(); }

void Connect::Start(std::string const& address, unsigned int timeoutMs)
{
    state_ = Status::connecting;
    event_.Release();
    timer_.reset();
    // An address that does not parse would leave 0.0.0.0, which is this host.
    INet4::Addr peer;
    if (!peer.Assign(address, nullptr)) {
        complete(Status::failed);
        return;
    }
    socket_ = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!socket_.is_valid() || !socket_.NonBlock()) {
        complete(Status::failed);
        return;
    }
    if (::connect(socket_.lowlevel_fd(), peer, peer.size()) == 0) {
        complete(Status::connected);
        return;
    }
    if (errno != EINPROGRESS) {
        complete(Status::failed);
        return;
    }
    event_.Schedule(socket_, POLLOUT);
    if (!event_.IsActive()) {
        complete(Status::failed);
        return;
    }
    timer_.set(timeoutMs, &Connect::OnTimeOut, this);
}

void Connect::Stop() { complete(Status::stopped); }

void Connect::OnSocketEvent(int, short revents)
{
    if (revents & POLLNVAL) {
        complete(Status::failed);
    } else if (revents & (POLLERR | POLLHUP)) {
        // A peer that sent something and went was connected: what it sent is there to read.
        complete(ReadEnd::waiting(socket_.lowlevel_fd()) > 0 ? Status::connected : Status::failed);
    } else if (revents & POLLOUT) {
        int error = 0;
        socklen_t size = sizeof error;
        bool const read = ::getsockopt(socket_.lowlevel_fd(), SOL_SOCKET, SO_ERROR, &error, &size) == 0;
        complete(read && error == 0 ? Status::connected : Status::failed);
    }
}

void Connect::OnTimeOut(Timer*) { complete(Status::failed); }

void Connect::complete(Status::Type s)
{
    if (state_ != Status::connecting)
        return;
    state_ = s;
    Fd result;
    if (s == Status::connected)
        result = std::move(socket_);
    socket_.close();
    event_.Release();
    timer_.reset();
    handler_.Invoke(s, std::move(result));
}

}  // namespace ASync
