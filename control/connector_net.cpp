#include "control/connector_net.h"

#include "base/errno.h"
#include "runtime/read_end.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <iostream>

namespace Control {

namespace {

// What a one-argument constructor keeps as host: the dotted address when the text
// parses, else the text itself so that activation can name it.
std::string hostOf(std::string const& address)
{
    INet4::Addr a;
    return a.Assign(address, nullptr) ? std::string(a.GetStrAddr()) : address;
}

unsigned short portOf(std::string const& address)
{
    INet4::Addr a;
    int port = -1;
    return a.Assign(address, &port) && port > 0 ? static_cast<unsigned short>(port) : 0;
}

}  // namespace

ConnectorNet::ConnectorNet() : ConnectorNet(std::string(), 0) {}

ConnectorNet::ConnectorNet(std::string const& address) : ConnectorNet(hostOf(address), portOf(address)) {}

ConnectorNet::ConnectorNet(std::string const& host, unsigned short port) : port_(port), host_(host)
{
    connectEvent_.Bind("ConnectorNet::OnSocketEvent", &ConnectorNet::OnSocketEvent, this);
}

ConnectorNet::~ConnectorNet() { connectEvent_.Release(); }

bool ConnectorNet::PeerAddress(INet4::Addr& peer) const
{
    peer.port(port_);
    return peer.Assign(host_, nullptr);
}

bool ConnectorNet::ImplActivate()
{
    INet4::Addr peer;
    if (!PeerAddress(peer)) {
        // 0.0.0.0 would be this host: nothing is tried.
        std::cerr << "can't connect to \"" << host_ << "\": not a numeric IPv4 address" << std::endl;
        return false;
    }
    return Start();
}

void ConnectorNet::ImplDeactivate()
{
    Connector::ImplDeactivate();
    connectEvent_.Release();
}

void ConnectorNet::TryConnect()
{
    connectEvent_.Release();
    INet4::Addr peer;
    PeerAddress(peer);
    connecting_ = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!connecting_.is_valid()) {
        GiveUp("can't create socket:");
        return;
    }
    if (!connecting_.NonBlock()) {
        GiveUp("can't set socket to non block mode: ");
        return;
    }
    if (::connect(connecting_.lowlevel_fd(), peer, peer.size()) == 0) {
        std::clog << "already connected to " << peer << std::endl;
        Connected(TakeSocket(), peer);
        return;
    }
    Errno const error;
    if (error.value() == EINPROGRESS) {
        connectEvent_.Schedule(connecting_, POLLOUT);
        if (connectEvent_.IsActive())
            return;
    }
    std::cerr << "can't connect to " << peer << " : " << error << std::endl;
    RetryLater(refused_wait_ms);
}

void ConnectorNet::OnSocketEvent(int, short revents)
{
    INet4::Addr peer;
    PeerAddress(peer);
    // A peer that sent something and went was connected: the stream reads it before the end.
    bool const made = !(revents & POLLNVAL) && (revents & (POLLERR | POLLHUP)) &&
                      ReadEnd::waiting(connecting_.lowlevel_fd()) > 0;
    if ((revents & (POLLERR | POLLHUP | POLLNVAL)) && !made) {
        std::cerr << "fail to connect to " << peer << std::endl;
        connectEvent_.Release();
        RetryLater(event_error_wait_ms);
        return;
    }
    if (!made && !(revents & POLLOUT))
        return;
    connectEvent_.Release();
    int pending = 0;
    socklen_t length = sizeof pending;
    if (!made && ::getsockopt(connecting_.lowlevel_fd(), SOL_SOCKET, SO_ERROR, &pending, &length) != 0) {
        GiveUp("getsockopt(SOL_SOCKET,SO_ERROR) fail: ");
        return;
    }
    if (pending != 0) {
        std::cerr << "fail to connect to " << peer << std::endl;
        RetryLater(pending_error_wait_ms);
        return;
    }
    std::cout << "connected to " << peer << "." << std::endl;
    Connected(TakeSocket(), peer);
}

}  // namespace Control
