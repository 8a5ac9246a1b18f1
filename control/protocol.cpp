#include "control/protocol.h"

#include "base/packet.h"

#include <cstring>
#include <ostream>

// Names

void Protocol_name::out(std::ostream& os) const { os << name(); }

std::ostream& operator<<(std::ostream& os, Protocol_name const& n)
{
    n.out(os);
    return os;
}

bool Protocol_name_str::compare(Protocol_name const& other) const
{
    return compatible(other) && std::strcmp(name(), other.name()) == 0;
}

Protocol_name const& Protocol_info::name() const
{
    static Protocol_name_null const none;
    return none;
}

std::ostream& operator<<(std::ostream& os, Protocol_info const& info)
{
    info.out(os);
    return os;
}

// Statuses

void Protocol_status_text::out(std::ostream& os) const { os << text_; }

std::ostream& operator<<(std::ostream& os, Internal_protocol_status const& s)
{
    s.out(os);
    return os;
}

// Protocol

Protocol::~Protocol()
{
    if (owner_)
        owner_->take_out(this);
}

void Protocol::local_prepare_head(Packet& p) { p.reserve_head(0); }

void Protocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

Protocol_status Protocol::local_initialize() { return new Protocol_status_success(this, "success"); }

void Protocol::local_deactivate() { on_deactivate(new Protocol_status_success(this, "success")); }

void Protocol::transmit(Packet& p)
{
    if (Protocol* below = layer_below())
        below->message(p);
    else if (owner_)
        owner_->transmit(p);
}

void Protocol::on_message(Packet& p)
{
    if (Protocol* above = layer_above())
        above->receive(p);
    else if (owner_)
        owner_->on_message(p);
}

bool Protocol::on_activate()
{
    if (Protocol* above = layer_above())
        return above->local_activate();
    if (owner_)
        owner_->on_activated(this);
    return true;
}

void Protocol::on_deactivate(Protocol_status status)
{
    if (status && status->success()) {
        if (Protocol* below = layer_below())
            below->deactivate();
        else if (owner_)
            owner_->on_deactivated(this, status);
        return;
    }
    if (Protocol* above = layer_above())
        above->on_deactivate(status);
    else if (owner_)
        owner_->on_deactivated(this, status);
}

void Protocol::on_status(Protocol_status status)
{
    if (Protocol* above = layer_above())
        above->on_status(status);
    else if (owner_)
        owner_->on_status(status);
}

bool Protocol::activate()
{
    if (Protocol* below = layer_below())
        return below->activate();
    return local_activate();
}

void Protocol::prepare_head(Packet& p)
{
    if (Protocol* below = layer_below())
        below->prepare_head(p);
    local_prepare_head(p);
}

bool Protocol::new_packet(Packet& p, PacketUse use)
{
    p.clear();
    if (!p.try_reserve_head(0, use))
        return false;
    prepare_head(p);
    return true;
}

void Protocol::prepare_tail(Packet& p)
{
    if (Protocol* below = layer_below())
        below->prepare_tail(p);
    local_prepare_tail(p);
}

Protocol_status Protocol::initialize()
{
    if (Protocol* below = layer_below()) {
        Protocol_status s = below->initialize();
        if (!s || !s->success())
            return s;
    }
    return local_initialize();
}

// ProtocolsList

ProtocolsList::~ProtocolsList()
{
    while (Protocol* p = remove_from_tail()) {
        p->owner_ = nullptr;
        delete p;
    }
}

Protocol* ProtocolsList::add_protocol_head(Protocol* p)
{
    insert_to_head(p);
    p->owner_ = this;
    return p;
}

Protocol* ProtocolsList::add_protocol_tail(Protocol* p)
{
    insert_to_tail(p);
    p->owner_ = this;
    return p;
}

Protocol* ProtocolsList::search(Protocol_name const& name) const
{
    for (Protocol* p = head(); p; p = p->layer_above()) {
        if (p->compare_name(name))
            return p;
    }
    return nullptr;
}

void ProtocolsList::take_out(Protocol* p)
{
    remove(p);
    p->owner_ = nullptr;
}

// ProtocolsFamily

void ProtocolsFamily::local_prepare_head(Packet& p)
{
    if (Protocol* top = top_layer())
        top->prepare_head(p);
}

void ProtocolsFamily::local_prepare_tail(Packet& p)
{
    if (Protocol* top = top_layer())
        top->prepare_tail(p);
}

Protocol_status ProtocolsFamily::local_initialize()
{
    if (Protocol* top = top_layer())
        return top->initialize();
    return new Protocol_initialize_error(this);
}

bool ProtocolsFamily::local_activate()
{
    if (Protocol* top = top_layer())
        return top->activate();
    return false;
}

void ProtocolsFamily::local_deactivate()
{
    if (Protocol* top = top_layer())
        top->deactivate();
}

void ProtocolsFamily::message(Packet& p)
{
    if (Protocol* top = top_layer())
        top->message(p);
}

void ProtocolsFamily::receive(Packet& p)
{
    if (Protocol* lowest = lowest_layer())
        lowest->receive(p);
}

void ProtocolsFamily::on_activated(Protocol* layer)
{
    if (layer == top_layer())
        on_activate();
}

void ProtocolsFamily::on_deactivated(Protocol*, Protocol_status status) { on_deactivate(status); }
