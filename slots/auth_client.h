#pragma once

#include "base/fd.h"
#include "runtime/event.h"
#include "runtime/inet4_addr.h"
#include "runtime/timer.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>

class ModemFactory;

// The records of the local authentication link between the daemon and the PPP
// authentication client that pppd runs. Integers are 32-bit in the processor's own byte
// order; the session is signed. Every record begins with this header.
struct attr {
    std::uint32_t size;  // of the whole record, header included
    std::uint32_t type;
    std::int32_t session;  // the modem slot's session number
};

namespace auth {

enum Type : std::uint32_t { kRequest = 1, kAccept = 2, kAddress = 3, kAccounting = 4 };

// Sizes a receiver takes: a record holds at least its header.
constexpr std::uint32_t kMinSize = sizeof(attr);
constexpr std::uint32_t kMaxSize = 512;
// The text fields of a request.
constexpr std::size_t kTextSize = 64;

}  // namespace auth

// Type 1, from the client: the user's name and password, each running to its first NUL
// within its field.
struct voauth {
    attr header;
    char username[auth::kTextSize];
    char password[auth::kTextSize];
};

// Type 2, to the client: the session is accepted (value 1).
struct auth_accept {
    attr header;
    std::uint32_t value;
};

// Type 3, to the client: the addresses of the session, in network byte order.
struct auth_address {
    attr header;
    std::uint32_t zero;
    std::uint32_t remote;
    std::uint32_t netmask;
    std::uint32_t gateway;
    std::uint32_t dns;
    std::uint32_t mtu;
};

// Type 4, from the client: the session's counters, high words first.
struct voacct {
    attr header;
    std::uint8_t reserved[12];
    std::uint32_t octetsOutHigh, octetsOutLow;
    std::uint32_t octetsInHigh, octetsInLow;
    std::uint32_t packetsOutHigh, packetsOutLow;
    std::uint32_t packetsInHigh, packetsInLow;
    std::uint32_t time;
    std::uint32_t reserved2;
};

static_assert(sizeof(attr) == 12);
static_assert(sizeof(voauth) == 140);
static_assert(offsetof(voauth, password) == 76);
static_assert(sizeof(auth_accept) == 16);
static_assert(sizeof(auth_address) == 36);
static_assert(offsetof(auth_address, remote) == 16 && offsetof(auth_address, mtu) == 32);
static_assert(sizeof(voacct) == 64);
static_assert(offsetof(voacct, octetsOutHigh) == 24 && offsetof(voacct, time) == 56);

// Holds a count of member calls in progress on an object for its lifetime; the last one to
// leave calls Check, which may delete the object.
template <class T, void (T::*Check)(), unsigned int T::*Level>
class RecursiveGuard {
public:
    explicit RecursiveGuard(T& object) : object_(object) { ++(object_.*Level); }
    ~RecursiveGuard()
    {
        if (--(object_.*Level) == 0)
            (object_.*Check)();
    }
    RecursiveGuard(RecursiveGuard const&) = delete;
    RecursiveGuard& operator=(RecursiveGuard const&) = delete;

private:
    T& object_;
};

// One connection of the authentication client, accepted by the modem factory. It assembles
// the records the peer sends, one at a time, and hands each complete one to the factory; it
// sends the daemon's records. Any failure ends the connection at once, and the factory
// deletes it when no member call of it is running any more. A connection that holds part
// of a record for kPartMs without completing it is closed too, so that it keeps no place.
class AuthClient {
public:
    static constexpr unsigned kPartMs = 10000;

    AuthClient(Fd socket, INet4::Addr const& peer, ModemFactory& owner);
    AuthClient(AuthClient const&) = delete;
    AuthClient& operator=(AuthClient const&) = delete;

    // Starts polling the socket for input.
    void Activate();
    // Writes the whole record (its size word says how long it is); false when it cannot.
    bool Send(attr const* record);
    void OnSocketEvent(int fd, short revents);
    // Closes the socket and stops polling.
    void OnDisconnect();
    // Hands a closed connection back to the factory, which deletes it.
    void CheckDisconnect();

    INet4::Addr const& GetAddr() const { return peer_; }
    // The session of the last complete record received; -1 before the first.
    int GetSessionId() const { return session_; }
    bool connected() const { return socket_.is_valid(); }

    unsigned int mRecursionLevel = 0;

private:
    using Guard = RecursiveGuard<AuthClient, &AuthClient::CheckDisconnect, &AuthClient::mRecursionLevel>;

    // Reads until the socket has nothing more or the connection ends (after what waits
    // behind the readiness).
    void receive(short revents);
    // Part of a record has waited kPartMs for the rest.
    void OnPartTimeout();

    Event event_;
    Fd socket_;
    INet4::Addr peer_;
    alignas(std::uint32_t) unsigned char buffer_[auth::kMaxSize];
    // The next read fills buffer_[position_, end_).
    std::size_t position_ = 0;
    std::size_t end_ = sizeof(std::uint32_t);
    ModemFactory& owner_;
    int session_ = -1;
    // Runs while part of a record is held.
    Timer partTimer_;
};
