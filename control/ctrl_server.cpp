#include "control/ctrl_server.h"

#include "asn1/asn1.h"
#include "base/ext.h"

#include <algorithm>
#include <iostream>

CtrlSrv::Server ctrlServer;

namespace CtrlSrv {

namespace {

ZGCP::Message MessageWith(bool seqPresent, std::int32_t seq, std::int32_t slot)
{
    ZGCP::Message message;
    if (seqPresent)
        message.set_seq(seq);
    if (slot != -1)
        message.set_slot(unsigned(slot));
    return message;
}

}  // namespace

// Service

Service::~Service()
{
    if (server_)
        server_->Unbind(this);
}

bool Service::CheckServer() const
{
    if (server_)
        return true;
    std::cerr << "CtrlSrv::Service error! service not connected to server." << std::endl;
    return false;
}

void Service::Success()
{
    if (CheckServer())
        server_->Success();
}

void Service::Error(ZGCP::ErrorCause::NamedNumber cause)
{
    if (CheckServer())
        server_->Error(cause);
}

void Service::SendSignal(ZGCP::Signal const& signal)
{
    if (!CheckServer())
        return;
    server_->ShowSignal(this, signal);
    server_->SendSignal(signal);
}

void Service::SendSignal(unsigned int slot, ZGCP::Signal const& signal)
{
    if (!CheckServer())
        return;
    server_->ShowSignal(this, signal);
    server_->SendSignal(slot, signal);
}

int Service::GetSlot() const { return CheckServer() ? server_->GetSlot() : -1; }

bool Service::IsSlotPresent() const { return CheckServer() && server_->IsSlotPresent(); }

int Service::delayResponse() { return CheckServer() ? server_->delayResponse() : -1; }

void Service::delayedSuccess(unsigned int slot, unsigned int seq)
{
    if (CheckServer())
        server_->delayedSuccess(slot, seq);
}

bool Service::CheckServerConnection(bool& connected) const
{
    return server_ && server_->CheckServerConnection(connected);
}

// Server

Server::~Server()
{
    Deactivate();
    for (Service* s : services_)
        s->server_ = nullptr;
}

void Server::Bind(Service* service)
{
    if (!service || service->server_ == this)
        return;
    if (service->server_)
        service->server_->Unbind(service);
    services_.push_back(service);
    service->server_ = this;
}

void Server::Unbind(Service* service)
{
    services_.erase(std::remove(services_.begin(), services_.end(), service), services_.end());
    service->server_ = nullptr;
}

bool Server::Activate(Control::Service* link)
{
    Deactivate();
    link_.reset(link);
    if (!link_)
        return false;
    link_->service_name("server");
    link_->Bind(this);
    return link_->Activate();
}

void Server::Deactivate()
{
    if (!link_)
        return;
    link_->Deactivate();
    OnDisconnect();
    link_->UnBind();
    link_.reset();
}

void Server::OnConnect()
{
    std::clog << ext::header(this) << "controller connect." << std::endl;
    for (std::size_t i = 0; i < services_.size(); ++i)
        services_[i]->OnConnect();
}

void Server::OnDisconnect()
{
    // The commands of a controller that is gone are answered to nobody.
    delayed_.clear();
    for (std::size_t i = 0; i < services_.size(); ++i)
        services_[i]->OnDisconnect();
}

void Server::OnHeartbeatTimeout()
{
    if (link_)
        link_->Disconnect();
}

void Server::OnMessage(char const* data, int length)
{
    if (length < 0)
        length = 0;
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    ZGCP::Message message;
    if (ASN1::decode(data, data + length, &env, message, true)) {
        Dispatch(message);
    } else {
        std::cerr << ext::header(this) << "receive fail: decode error!" << std::endl;
        std::cerr << " msg: " << ext::hex(data, unsigned(length)) << std::endl;
    }
    slot_ = -1;
}

void Server::Dispatch(ZGCP::Message const& message)
{
    struct Handling {
        bool& flag;
        explicit Handling(bool& f) : flag(f) { flag = true; }
        ~Handling() { flag = false; }
    } handling(handling_);

    reply_ = Reply::None;
    seqPresent_ = message.seq_isPresent();
    if (seqPresent_)
        seq_ = message.get_seq().getValue();
    slot_ = -1;

    ZGCP::PDU const& pdu = message.get_pdu();
    if (!pdu.command_isSelected()) {
        Error(ZGCP::ErrorCause::unexpectedMsgType);
        return;
    }
    if (message.slot_isPresent()) {
        // The decoder does not range-check the number: 1024 to 65535 arrive here.
        unsigned int const slot = message.get_slot().getValue();
        if (slot > unsigned(max_slot)) {
            Error(ZGCP::ErrorCause::invalidSlot);
            return;
        }
        slot_ = std::int32_t(slot);
    }

    ZGCP::Command const& command = pdu.get_command();
    bool taken = false;
    // By index: a handler may bind another one meanwhile.
    for (std::size_t i = 0; i < services_.size() && !taken; ++i)
        taken = services_[i]->OnCommand(command);
    if (!taken) {
        Error(ZGCP::ErrorCause::unexpectedMsgType);
    } else if (reply_ == Reply::None) {
        std::cerr << ext::header(this) << "software error: server do NOT send ack!!!" << std::endl;
        Error(ZGCP::ErrorCause::internal);
    }
}

bool Server::MayAnswer(char const* what)
{
    if (!handling_) {
        std::cerr << ext::header(this) << "software error: " << what << " outside a command dropped" << std::endl;
        return false;
    }
    if (reply_ != Reply::None) {
        std::cerr << ext::header(this) << "software error: " << what << " after the command's answer dropped"
                  << std::endl;
        return false;
    }
    return true;
}

void Server::Success()
{
    if (!MayAnswer("success"))
        return;
    reply_ = Reply::Success;
    ZGCP::Response& r = Answer();
    if (!r.success_isSelected())
        r.select_success();
    SendMsg(*answer_);
}

void Server::Error(ZGCP::ErrorCause::NamedNumber cause)
{
    if (!MayAnswer("error"))
        return;
    reply_ = Reply::Error;
    ZGCP::Response& r = Answer();
    if (r.error_isSelected())
        r.ref_error() = cause;
    else
        r.select_error(cause);
    SendMsg(*answer_);
}

int Server::delayResponse()
{
    if (MayAnswer("delayed answer")) {
        reply_ = Reply::Delayed;
        delayed_.push_back(Delayed{slot_, seqPresent_, seq_});
    }
    return seq_;
}

void Server::delayedSuccess(unsigned int slot, unsigned int seq)
{
    // The oldest delayed command of this slot number (and of this sequence number when it
    // carried one): its answer repeats what that command carried, nothing else.
    auto const owed = std::find_if(delayed_.begin(), delayed_.end(), [&](Delayed const& d) {
        return d.slot == std::int32_t(slot) && (!d.seqPresent || unsigned(d.seq) == seq);
    });
    if (owed == delayed_.end()) {
        std::clog << ext::header(this) << "no delayed command of slot " << std::int32_t(slot)
                  << " waits for an answer: success dropped" << std::endl;
        return;
    }
    ZGCP::Message message = MessageWith(owed->seqPresent, owed->seq, owed->slot);
    delayed_.erase(owed);
    message.set_pdu().select_response().select_success();
    SendMsg(message);
}

void Server::SendSignal(ZGCP::Signal const& signal) { SendSignalMsg(slot_, signal); }

void Server::SendSignal(unsigned int slot, ZGCP::Signal const& signal) { SendSignalMsg(std::int32_t(slot), signal); }

void Server::SendSignalMsg(std::int32_t slot, ZGCP::Signal const& signal)
{
    ZGCP::Message message = MessageWith(false, 0, slot);
    message.set_pdu().select_signal(signal);
    SendMsg(message);
}

ZGCP::Response& Server::Answer()
{
    if (!answer_)
        answer_.emplace();
    ZGCP::Message& m = *answer_;
    if (seqPresent_)
        m.set_seq(seq_);
    else
        m.omit_seq();
    if (slot_ != -1)
        m.set_slot(unsigned(slot_));
    else
        m.omit_slot();
    ZGCP::PDU& pdu = m.set_pdu();
    // Selecting makes a fresh alternative: the one kept is reused.
    return pdu.response_isSelected() ? pdu.ref_response() : pdu.select_response();
}

void Server::SendMsg(ZGCP::Message const& message)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    // Send copies the octets before it writes: a message sent meanwhile (a signal of a
    // teardown) may reuse the buffer.
    if (!env.encode(message, octets_)) {
        std::cerr << ext::header(this) << "send fail: encode error! " << message << std::endl;
        return;
    }
    if (!link_) {
        std::cerr << ext::header(this) << "send fail: Service not attached!" << std::endl;
        return;
    }
    link_->Send(octets_.data(), int(octets_.size()));
}

void Server::ShowSignal(Service const* sender, ZGCP::Signal const& signal)
{
    for (std::size_t i = 0; i < services_.size(); ++i) {
        if (services_[i] != sender)
            services_[i]->OnSignal(signal);
    }
}

bool Server::CheckServerConnection(bool& connected) const
{
    if (!link_)
        return false;
    connected = link_->IsConnected();
    return true;
}

void Server::PutHeader(std::ostream& os) const
{
    if (!link_)
        os << "ctrl [null]: ";
    else if (link_->IsConnected())
        os << "ctrl [" << link_->GetAddr() << "]: ";
    else
        os << "ctrl [not connected]: ";
}

}  // namespace CtrlSrv
