#include "control/service.h"

#include "base/packet.h"
#include "base/profile.h"
#include "control/strm_protocol.h"
#include "control/tpkt_protocol.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstring>
#include <iostream>

namespace Control {

unsigned int const Service::max_message = Tpkt_protocol::max_body;

Service::Service(bool verbose) : verbose_(verbose), strm_(new StrmProtocol)
{
    add_protocol_tail(strm_);
    add_protocol_tail(new Tpkt_protocol);
    disconnect_.Bind(this, &Service::OnDeactivateDPC);
}

Service::~Service() { disconnect_.Deactivate(); }

bool Service::Activate()
{
    Deactivate();
    state_ = State::Connecting;
    if (ImplActivate())
        return true;
    state_ = State::Idle;
    return false;
}

void Service::Deactivate()
{
    ImplDeactivate();
    state_ = State::Idle;
}

void Service::Disconnect()
{
    if (state_ == State::Connected)
        deactivate();
}

void Service::PeerGone(std::string const& why)
{
    if (state_ == State::Connected)
        strm_->end(why);
}

bool Service::PeerConnected()
{
    if (state_ == State::Connected)
        strm_->take_waiting_end();
    return state_ == State::Connected;
}

void Service::Send(char const* data, int length)
{
    if (state_ == State::Deactivating)
        return;
    if (state_ != State::Connected) {
        if (verbose_)
            std::cerr << "Control::Service::Send() ignore Send request in " << state_ << " state." << std::endl;
        return;
    }
    if (length < 0 || unsigned(length) > max_message) {
        std::cerr << "Control::Service::Send() message of " << length << " bytes refused, max " << max_message
                  << std::endl;
        return;
    }
    static Profile::Point build("Control::Service::Send [1]");
    static Profile::Point send("Control::Service::Send [2]");
    build.begin();
    Packet p;
    // The blocks the pool keeps for the message links serve when every other is taken; an
    // empty pool refuses the message instead of ending the process.
    if (!new_packet(p, PacketUse::control)) {
        build.end();
        std::cerr << "Control::Service::Send() no packet buffer, message of " << length << " bytes dropped"
                  << std::endl;
        return;
    }
    if (length > 0)
        std::memcpy(p.put(unsigned(length)), data, unsigned(length));
    build.end();
    send.begin();
    message(p);
    send.end();
}

std::string const& Service::service_name() const { return strm_->service_name(); }

void Service::service_name(std::string const& name) { strm_->service_name(name); }

void Service::Release() { strm_->release(); }

std::uint32_t Service::GetOverflowCounter() const { return strm_->GetOverflowCounter(); }

Measure const& Service::get_read_measure() const { return strm_->get_read_measure(); }

Measure const& Service::get_write_measure() const { return strm_->get_write_measure(); }

void Service::TakeConnection(Fd const& fd, std::string const& peerText)
{
    if (state_ == State::Deactivating)
        OnDeactivateDPC();
    peerText_ = peerText;
    state_ = State::Connected;
    strm_->attach(fd);
    activate();
    if (notify_)
        notify_->OnConnect();
}

void Service::on_message(Packet& p)
{
    if (state_ == State::Deactivating || !notify_)
        return;
    notify_->OnMessage(reinterpret_cast<char const*>(p.data()), int(p.length()));
}

void Service::on_deactivated(Protocol*, Protocol_status)
{
    if (verbose_)
        std::cerr << "control connection " << peerText_ << " closed." << std::endl;
    resume_ = state_ != State::Idle;
    state_ = State::Deactivating;
    disconnect_.Activate();
}

void Service::OnDeactivateDPC()
{
    disconnect_.Deactivate();
    // Deactivate() or Activate() may have run since the connection ended; then the state
    // they set stands.
    if (state_ == State::Deactivating) {
        state_ = resume_ ? State::Connecting : State::Idle;
        if (resume_)
            ImplOnDisconnect();
    }
    if (notify_)
        notify_->OnDisconnect();
}

char const* GetTextNotation(Service::State::Type state)
{
    switch (state) {
    case Service::State::Idle:
        return "Idle";
    case Service::State::Connecting:
        return "Connecting";
    case Service::State::Deactivating:
        return "Deactivating";
    case Service::State::Connected:
        return "Connected";
    }
    return "Unknown";
}

std::ostream& operator<<(std::ostream& os, Service::State::Type state) { return os << GetTextNotation(state); }

// ServiceNet

void ServiceNet::Connected(Fd const& fd, INet4::Addr const& peer)
{
    int on = 1;
    if (::setsockopt(fd.lowlevel_fd(), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 && verbose())
        std::cerr << "fail set keepalive to control socket." << std::endl;
    if (::setsockopt(fd.lowlevel_fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 && verbose())
        std::cerr << "fail to turn off Nagle algorithm." << std::endl;
    peer_ = peer;
    TakeConnection(fd, peer.GetString());
}

}  // namespace Control
