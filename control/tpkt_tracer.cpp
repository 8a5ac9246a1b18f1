#include "control/tpkt_tracer.h"

#include "base/fd.h"
#include "runtime/inet4_addr.h"
#include "runtime/read_end.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <iostream>
#include <iterator>

static_assert(sizeof(TPKTTracer::Connection::buffer) == TPKTTracer::max_body, "a body fits the buffer");

TPKTTracer::TPKTTracer() : current_(connections_.end()) {}

TPKTTracer::~TPKTTracer()
{
    connections_.clear();
    listener_.Release();
}

bool TPKTTracer::Listen(unsigned short port)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    INet4::Addr any;
    any.port(port);
    if (!fd.is_valid() || ::bind(fd.lowlevel_fd(), any, any.size()) != 0 || ::listen(fd.lowlevel_fd(), 1) != 0 ||
        !fd.NonBlock())
        return false;
    listener_.Bind("TPKTTracer::OnEvent", &TPKTTracer::OnEvent, this);
    listener_.Schedule(fd, POLLIN);
    return listener_.IsActive();
}

void TPKTTracer::OnEvent(int fd, short revents)
{
    ReadEnd::Kind const ready = ReadEnd::ofPoll(revents);
    if (ready == ReadEnd::end)
        ListenerEnded(ReadEnd::whyPolled(revents, fd));
    if (ready != ReadEnd::data)
        return;
    for (;;) {
        INet4::Addr peer;
        socklen_t length = peer.size();
        Fd accepted(::accept4(fd, peer, &length, SOCK_CLOEXEC));
        if (!accepted.is_valid()) {
            int const error = errno;
            acceptPause_.Failed(error);
            if (ReadEnd::ofAccept(error, revents) == ReadEnd::end)
                ListenerEnded(ReadEnd::whyRead(-1, error, revents, fd));
            return;
        }
        acceptPause_.Accepted();
        std::clog << "ACP connection open from " << peer << std::endl;
        if (!accepted.NonBlock())
            continue;
        std::unique_ptr<Connection> c(new Connection);
        c->event.Bind("TPKTTracer::OnDataEvent", &TPKTTracer::OnDataEvent, this);
        c->event.Schedule(accepted, POLLIN);
        if (c->event.IsActive())
            connections_.push_back(std::move(c));
    }
}

void TPKTTracer::ListenerEnded(std::string const& why)
{
    std::cerr << listener_.event_name() << ": listening socket ended: " << why << std::endl;
    acceptPause_.Cancel();
    listener_.Release();
}

TPKTTracer::Position TPKTTracer::FindConnection(int fd)
{
    for (Position p = connections_.begin(); p != connections_.end(); ++p) {
        if ((*p)->event.lowlevel_fd() == fd)
            return p;
    }
    return connections_.end();
}

void TPKTTracer::CloseConnection(Position position)
{
    if (position == current_)
        current_ = connections_.end();
    connections_.erase(position);
}

void TPKTTracer::OnDataEvent(int fd, short revents)
{
    current_ = FindConnection(fd);
    if (current_ == connections_.end())
        return;
    // The frames a peer sent before its end are handed over first.
    ReadEnd::Kind const ready = ReadEnd::ofPoll(revents);
    if (ready == ReadEnd::end)
        CloseConnection(current_);
    else if (ready == ReadEnd::data)
        Receive(**current_, revents);
    current_ = connections_.end();
}

void TPKTTracer::Receive(Connection& c, short revents)
{
    for (;;) {
        ssize_t const n = ::recv(c.event.lowlevel_fd(), c.buffer + c.received, c.expected - c.received, MSG_NOSIGNAL);
        int const error = errno;
        if (n < 0 && error == EINTR)
            continue;
        ReadEnd::Kind const k = ReadEnd::ofRead(n, error, revents);
        if (k == ReadEnd::again)
            return;
        if (k == ReadEnd::end) {
            CloseConnection(current_);
            return;
        }
        c.received += std::uint32_t(n);
        if (c.received < c.expected)
            return;
        if (c.state == Connection::State::Body) {
            if (sink_) {
                sink_->OnFrame(reinterpret_cast<char const*>(c.buffer), c.expected);
                // The sink's answer may have closed this connection.
                if (current_ == connections_.end())
                    return;
            }
            c.state = Connection::State::Header;
            c.expected = header_size;
            c.received = 0;
        } else if (!TakeHeader(c)) {
            CloseConnection(current_);
            return;
        }
    }
}

bool TPKTTracer::TakeHeader(Connection& c)
{
    if (c.buffer[0] != 3 || c.buffer[1] != 0)
        return false;
    unsigned int const length = c.buffer[2] * 256u + c.buffer[3];
    if (length < header_size || length - header_size > max_body)
        return false;
    c.received = 0;
    c.expected = length - header_size;
    // An empty frame is skipped: the next header follows.
    if (c.expected == 0)
        c.expected = header_size;
    else
        c.state = Connection::State::Body;
    return true;
}

void TPKTTracer::Send(void const* data, unsigned int length)
{
    if (length > max_send) {
        std::cerr << "TPKTTracer::Send() frame of " << length << " bytes refused, max " << max_send << std::endl;
        return;
    }
    unsigned int const total = length + header_size;
    unsigned char const header[header_size] = {3, 0, static_cast<unsigned char>(total >> 8),
                                               static_cast<unsigned char>(total & 0xFF)};
    if (current_ != connections_.end()) {
        SendTo(current_, header, data, length);
        return;
    }
    for (Position p = connections_.begin(); p != connections_.end();) {
        Position const next = std::next(p);
        SendTo(p, header, data, length);
        p = next;
    }
}

void TPKTTracer::SendTo(Position position, void const* header, void const* data, unsigned int length)
{
    iovec pieces[2] = {{const_cast<void*>(header), header_size}, {const_cast<void*>(data), length}};
    msghdr m{};
    m.msg_iov = pieces;
    m.msg_iovlen = 2;
    ssize_t n;
    // An interrupted send has sent nothing: it is made again. A peer that has gone is a
    // failed send, never a SIGPIPE.
    do
        n = ::sendmsg((*position)->event.lowlevel_fd(), &m, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n != ssize_t(length + header_size))
        CloseConnection(position);
}
