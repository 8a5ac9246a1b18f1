#pragma once

#include "control/protocol.h"
#include "runtime/dpc.h"
#include "base/fd.h"
#include "runtime/inet4_addr.h"
#include "base/measure.h"

#include <cstdint>
#include <iosfwd>
#include <string>

class StrmProtocol;

namespace Control {

// The observer of a message connection.
class Notify {
public:
    virtual ~Notify() = default;
    virtual void OnConnect() = 0;
    virtual void OnDisconnect() = 0;
    // One whole message; the bytes are valid during the call only.
    virtual void OnMessage(char const* data, int length) = 0;
};

// One framed message connection over a stream socket: a stream layer with a TPKT layer on
// top. Subclasses obtain the connected socket (listen and accept, or connect); from then on
// this class runs the stack, sends and receives whole messages and ends the connection in
// order: the observer hears OnDisconnect from a deferred call on the loop's next pass,
// never from inside a read or a write.
class Service : private ProtocolsFamily {
public:
    struct State {
        enum Type { Idle = 0, Connecting = 1, Deactivating = 2, Connected = 3 };
    };

    // The longest message: one TPKT frame.
    static unsigned int const max_message;

    ~Service() override;

    // Deactivate(), then Connecting and ImplActivate(); Idle again when that fails.
    bool Activate();
    // ImplDeactivate(), then Idle; the observer is not told.
    void Deactivate();
    // Ends a live connection in order; does nothing unless Connected.
    void Disconnect();
    // Ends a live connection whose peer has gone (its owner saw it in the socket's state):
    // the messages that wait are read and handled first, then it ends as on any loss.
    void PeerGone(std::string const& why);
    // Whether a peer is connected and has not gone: an end that waits in the socket (one
    // the loop has not served yet) is taken now, as PeerGone takes it.
    bool PeerConnected();
    // Sends one message while Connected; refused (and logged when verbose) in Idle and
    // Connecting, silently dropped while Deactivating. A message longer than one frame can
    // carry is refused with a line on the error stream.
    void Send(char const* data, int length);

    void Bind(Notify* notify) { notify_ = notify; }
    void UnBind() { notify_ = nullptr; }
    bool IsConnected() const { return state_ == State::Connected; }
    State::Type GetState() const { return state_; }
    std::string const& GetAddr() const { return peerText_; }

    std::string const& service_name() const;
    void service_name(std::string const& name);
    // Closes the connected descriptor without telling anybody.
    void Release();
    std::uint32_t GetOverflowCounter() const;
    Measure const& get_read_measure() const;
    Measure const& get_write_measure() const;

protected:
    explicit Service(bool verbose = true);

    // Start obtaining connections; false when that cannot be started.
    virtual bool ImplActivate() = 0;
    // Stop obtaining connections and release what the subclass holds.
    virtual void ImplDeactivate() = 0;
    // A connection has ended (from the deferred call): get ready for the next one.
    virtual void ImplOnDisconnect() = 0;

    // Takes a connected descriptor: the stack runs over a duplicate of fd and the observer
    // hears OnConnect. An end still waiting for its deferred call is finished first, so a
    // new peer is never left unserved and OnDisconnect comes before OnConnect.
    void TakeConnection(Fd const& fd, std::string const& peerText);

    bool verbose() const { return verbose_; }
    void verbose(bool on) { verbose_ = on; }

private:
    void on_message(Packet& p) override;
    void on_activated(Protocol*) override {}
    void on_deactivated(Protocol* layer, Protocol_status status) override;
    void OnDeactivateDPC();

    std::string peerText_;
    bool verbose_;
    State::Type state_ = State::Idle;
    Notify* notify_ = nullptr;
    StrmProtocol* strm_;
    Dpc disconnect_;
    // Whether the service was active when its connection ended (then it waits for the next).
    bool resume_ = false;
};

char const* GetTextNotation(Service::State::Type state);
std::ostream& operator<<(std::ostream& os, Service::State::Type state);

// A message connection over TCP.
class ServiceNet : public Service {
public:
    // Called with a connected TCP socket: keep-alive and no-delay are set, then the
    // connection is taken.
    void Connected(Fd const& fd, INet4::Addr const& peer);
    INet4::Addr const& GetPeer() const { return peer_; }

protected:
    explicit ServiceNet(bool verbose = true) : Service(verbose) {}

private:
    INet4::Addr peer_;
};

}  // namespace Control
