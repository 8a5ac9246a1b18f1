#pragma once

#include "base/dual_list.h"
#include "base/packet.h"
#include "base/smart_pointer.h"

#include <iosfwd>
#include <string>

// Layer names.
class Protocol_name {
public:
    virtual ~Protocol_name() = default;
    virtual int kind() const = 0;
    virtual char const* name() const = 0;
    virtual bool compare(Protocol_name const& other) const = 0;

    bool compatible(Protocol_name const& other) const { return kind() == other.kind(); }
    void out(std::ostream& os) const;
};

std::ostream& operator<<(std::ostream& os, Protocol_name const& n);

// The empty name.
class Protocol_name_null : public Protocol_name {
public:
    int kind() const override { return 0; }
    char const* name() const override { return "(no name)"; }
    bool compare(Protocol_name const& other) const override { return compatible(other); }
};

// A name given as text (copied; a null text gives "(no name)").
class Protocol_name_str : public Protocol_name {
public:
    explicit Protocol_name_str(char const* text) : text_(text ? text : "(no name)") {}
    int kind() const override { return 1; }
    char const* name() const override { return text_.c_str(); }
    bool compare(Protocol_name const& other) const override;

private:
    std::string text_;
};

// The naming part of a layer: the empty name unless a concrete layer names itself.
class Protocol_info {
public:
    Protocol_info() = default;
    Protocol_info(Protocol_info const&) = delete;
    Protocol_info& operator=(Protocol_info const&) = delete;
    virtual ~Protocol_info() = default;

    virtual bool compare_name(Protocol_name const&) const { return false; }
    virtual Protocol_name const& name() const;

    void out(std::ostream& os) const { name().out(os); }
};

std::ostream& operator<<(std::ostream& os, Protocol_info const& info);

// The outcome of an initialisation, activation or deactivation, naming the layer that
// produced it. Created with new and held only through Smart_pointer.
class Internal_protocol_status {
public:
    explicit Internal_protocol_status(Protocol_info const* source) : source_(source) {}
    Internal_protocol_status(Internal_protocol_status const&) = delete;
    Internal_protocol_status& operator=(Internal_protocol_status const&) = delete;
    virtual ~Internal_protocol_status() = default;

    virtual bool success() const = 0;
    virtual std::string message() const = 0;
    virtual void out(std::ostream& os) const = 0;

    Protocol_info const* source() const { return source_; }

    unsigned int ref_count = 0;

private:
    Protocol_info const* source_;
};

typedef Smart_pointer<Internal_protocol_status> Protocol_status;

std::ostream& operator<<(std::ostream& os, Internal_protocol_status const& s);

// A status carrying a text.
class Protocol_status_text : public Internal_protocol_status {
public:
    Protocol_status_text(Protocol_info const* source, std::string text)
        : Internal_protocol_status(source), text_(std::move(text))
    {
    }
    std::string message() const override { return text_; }
    void out(std::ostream& os) const override;

private:
    std::string text_;
};

class Protocol_status_success : public Protocol_status_text {
public:
    Protocol_status_success(Protocol_info const* source, std::string text)
        : Protocol_status_text(source, std::move(text))
    {
    }
    bool success() const override { return true; }
};

class Protocol_status_error : public Protocol_status_text {
public:
    Protocol_status_error(Protocol_info const* source, std::string text)
        : Protocol_status_text(source, std::move(text))
    {
    }
    bool success() const override { return false; }
};

class Protocol_initialize_error : public Protocol_status_error {
public:
    explicit Protocol_initialize_error(Protocol_info const* source) : Protocol_status_error(source, "error") {}
};

class ProtocolsList;

// One layer of a protocol stack. In its list the next item is the layer above and the
// previous item the layer below. Packets go down through message/transmit and up through
// receive/on_message; activation climbs from the lowest layer, deactivation descends from
// the top; outcomes travel as status objects.
class Protocol : public Protocol_info, public F_dual_list_item<Protocol> {
public:
    Protocol() = default;
    // A layer still in a list takes itself out of it.
    ~Protocol() override;

    virtual void local_prepare_head(Packet& p);
    virtual void local_prepare_tail(Packet& p);
    virtual Protocol_status local_initialize();
    virtual bool local_activate() { return on_activate(); }
    virtual void local_deactivate();
    // Hands a packet down: to the layer below's message, else to the owner's transmit.
    virtual void transmit(Packet& p);
    // Hands a packet up: to the layer above's receive, else to the owner's on_message.
    virtual void on_message(Packet& p);
    // This layer is active: the layer above activates itself, else the owner is told.
    virtual bool on_activate();
    // Success: the layer below follows down (the owner is told at the lowest layer).
    // Failure: passed upward (the owner is told at the top).
    virtual void on_deactivate(Protocol_status status);
    virtual void on_status(Protocol_status status);
    // A packet to be sent by this layer.
    virtual void message(Packet&) {}
    // A packet received from the layer below.
    virtual void receive(Packet&) {}
    // Starts at the lowest layer: its local_activate.
    virtual bool activate();
    virtual void deactivate() { local_deactivate(); }
    virtual void protocol_info(std::ostream&) {}

    // Every layer from the lowest up to this one reserves its room.
    void prepare_head(Packet& p);
    void prepare_tail(Packet& p);
    // A new packet for this layer to send: a block taken for the use, with the room of
    // every layer up to this one reserved. False, the packet null, when the pool keeps no
    // block for the use.
    bool new_packet(Packet& p, PacketUse use = PacketUse::frame);
    // From the lowest layer up; the first failure is returned.
    Protocol_status initialize();

    Protocol* layer_above() const { return get_next(); }
    Protocol* layer_below() const { return get_prev(); }
    ProtocolsList* owner() const { return owner_; }

private:
    friend class ProtocolsList;
    ProtocolsList* owner_ = nullptr;
};

// Layers from the lowest (head) to the top (tail). The list owns its layers.
class ProtocolsList : public Protocol, private F_dual_list<Protocol> {
public:
    ProtocolsList() = default;
    // Deletes the layers, top first.
    ~ProtocolsList() override;

    virtual void on_activated(Protocol*) {}
    virtual void on_deactivated(Protocol*, Protocol_status) {}
    // Link the layer at the bottom or at the top and take it over.
    virtual Protocol* add_protocol_head(Protocol* p);
    virtual Protocol* add_protocol_tail(Protocol* p);

    // The first layer from the bottom whose compare_name answers true; null when none.
    Protocol* search(Protocol_name const& name) const;

    Protocol* lowest_layer() const { return head(); }
    Protocol* top_layer() const { return tail(); }
    unsigned int layer_count() const { return count(); }

private:
    friend class Protocol;
    void take_out(Protocol* p);
};

// A list that is itself one layer of an outer stack.
class ProtocolsFamily : public ProtocolsList {
public:
    void local_prepare_head(Packet& p) override;
    void local_prepare_tail(Packet& p) override;
    Protocol_status local_initialize() override;
    bool local_activate() override;
    void local_deactivate() override;
    void message(Packet& p) override;
    void receive(Packet& p) override;
    void on_activated(Protocol* layer) override;
    void on_deactivated(Protocol* layer, Protocol_status status) override;
};
