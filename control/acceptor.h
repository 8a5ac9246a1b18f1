#pragma once

#include "base/errno.h"
#include "base/fd.h"
#include "control/service.h"
#include "runtime/accept_pause.h"
#include "runtime/event.h"
#include "runtime/read_end.h"
#include "runtime/timer.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <iostream>
#include <string>

namespace Control {

// What a listener over the service Base does its own way; specialised beside each
// acceptor. A specialisation has:
//   Address        where it listens, given when the acceptor is made;
//   Peer           a taken peer, as Base::Connected takes it and the log lines show it;
//   domain, protocol, reuse_address   how its listening socket is made;
//   Usable(address)      false (with a line on the error stream) when activation must fail;
//   Bind(fd, address)    binds the listening socket: ::bind's result, errno left as it set it;
//   Accept(fd, peer)     accept4 with SOCK_CLOEXEC: its result, errno left as it set it,
//                        and the peer filled when it succeeded.
template <class Base>
struct ListenFamily;

// What the listening sides of a message connection share: one peer at a time; a peer
// that connects while one is connected is accepted and closed at once, unless the connected
// one has gone and its end only waits to be served (its last messages are then handled, its
// end taken, and the new peer served). A bind that fails
// is retried every 5000 ms, and so is a listen that fails (with a new socket). Out of
// descriptors, it pauses (AcceptPause). A listening socket that ends (a hang-up, an error,
// an accept that fails for good) is closed with one line and replaced 5000 ms later, the
// connected peer left in place. Base is the service of the socket family.
template <class Base>
class Acceptor : public Base {
    typedef ListenFamily<Base> Family;

public:
    typedef typename Family::Address Address;

    static constexpr unsigned int bind_retry_ms = 5000;

    ~Acceptor() override
    {
        bindTimer_.reset();
        listenEvent_.Release();
    }

    // Binds and listens; on failure arms the retry.
    void BindSocket();
    void OnTimeout(Timer*) { BindSocket(); }
    void OnSocketEvent(int fd, short revents);

    // Whether the listening socket is bound, listening and watched.
    bool listening() const { return listenEvent_.IsActive(); }

protected:
    // eventName names the Event of the listening socket (AcceptPause's log line shows it).
    Acceptor(char const* eventName, Address const& address, bool verbose) : Base(verbose), address_(address)
    {
        listenEvent_.Bind(eventName, &Acceptor::OnSocketEvent, this);
    }

    bool ImplActivate() override
    {
        if (!Family::Usable(address_) || !OpenSocket())
            return false;
        BindSocket();
        return true;
    }
    void ImplDeactivate() override
    {
        bindTimer_.reset();
        acceptPause_.Cancel();
        listenEvent_.Release();
        listenFd_.close();
    }
    void ImplOnDisconnect() override {}
    // A peer was refused while one is connected.
    virtual void ImplRefuseConnection() {}
    // A peer was taken (fd is the connected socket).
    virtual void ImplConnected(Fd const&) {}

    Address const& address() const { return address_; }

private:
    // A new listening socket; false (logged) when it cannot be made.
    bool OpenSocket();
    void RetryLater() { bindTimer_.set(bind_retry_ms, &Acceptor::OnTimeout, this); }
    // Logs what failed with the error text, closes the socket and retries with a new one.
    void SetUpFailed(char const* what);
    // The listening socket has ended: closed, and a new one is made later.
    void ListenerEnded(std::string const& why);

    Address address_;
    Fd listenFd_;
    Timer bindTimer_;
    Event listenEvent_;
    AcceptPause acceptPause_{listenEvent_};
};

template <class Base>
bool Acceptor<Base>::OpenSocket()
{
    int const s = ::socket(Family::domain, SOCK_STREAM | SOCK_CLOEXEC, Family::protocol);
    Errno const error;
    listenFd_ = Fd(s);
    if (s < 0) {
        if (this->verbose())
            std::cerr << "can't create socket:" << error << std::endl;
        return false;
    }
    if (Family::reuse_address) {
        int on = 1;
        ::setsockopt(listenFd_.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    return true;
}

template <class Base>
void Acceptor<Base>::SetUpFailed(char const* what)
{
    Errno const error;
    if (this->verbose())
        std::cerr << what << error << std::endl;
    listenFd_.close();
    RetryLater();
}

template <class Base>
void Acceptor<Base>::BindSocket()
{
    // A socket that failed to listen was closed: a retry starts with a fresh one.
    if (!listenFd_.is_valid() && !OpenSocket()) {
        RetryLater();
        return;
    }
    if (Family::Bind(listenFd_.lowlevel_fd(), address_) != 0) {
        Errno const error;
        if (this->verbose())
            std::cerr << "can't bind to socket: \"" << error << "\"  waiting..." << std::endl;
        RetryLater();
        return;
    }
    if (::listen(listenFd_.lowlevel_fd(), 1) != 0) {
        SetUpFailed("can't listen socket: ");
        return;
    }
    if (!listenFd_.NonBlock()) {
        SetUpFailed("can't set socket to non block mode: ");
        return;
    }
    listenEvent_.Schedule(listenFd_, ReadEnd::input);
}

template <class Base>
void Acceptor<Base>::ListenerEnded(std::string const& why)
{
    if (this->verbose())
        std::cerr << listenEvent_.event_name() << ": listening socket ended: " << why << "; listening again in "
                  << bind_retry_ms << " ms" << std::endl;
    acceptPause_.Cancel();
    listenEvent_.Release();
    listenFd_.close();
    RetryLater();
}

template <class Base>
void Acceptor<Base>::OnSocketEvent(int listening, short revents)
{
    ReadEnd::Kind const ready = ReadEnd::ofPoll(revents);
    if (ready == ReadEnd::end)
        ListenerEnded(ReadEnd::whyPolled(revents, listening));
    if (ready != ReadEnd::data)
        return;
    for (;;) {
        typename Family::Peer peer;
        int const s = Family::Accept(listenFd_.lowlevel_fd(), peer);
        int const error = errno;
        // Each accepted socket is closed at the end of its turn unless the stack holds a copy.
        Fd fd(s);
        if (!fd.is_valid()) {
            acceptPause_.Failed(error);
            if (ReadEnd::ofAccept(error, revents) == ReadEnd::end)
                ListenerEnded(ReadEnd::whyRead(-1, error, revents, listening));
            return;
        }
        acceptPause_.Accepted();
        // A peer that has just gone (its end not served yet in this turn) gives its place.
        if (this->PeerConnected()) {
            if (this->verbose())
                std::cerr << "refuse connection from " << peer << std::endl;
            ImplRefuseConnection();
            continue;
        }
        if (!fd.NonBlock()) {
            Errno const error;
            if (this->verbose())
                std::cerr << "can't set socket to non block mode: " << error << std::endl;
            continue;
        }
        if (this->verbose())
            std::cout << "new connection from " << peer << std::endl;
        this->Connected(fd, peer);
        ImplConnected(fd);
    }
}

}  // namespace Control
