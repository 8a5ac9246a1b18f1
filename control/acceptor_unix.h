#pragma once

#include "base/fd.h"
#include "control/service_unix.h"
#include "runtime/accept_pause.h"
#include "runtime/event.h"
#include "runtime/timer.h"

#include <string>

namespace Control {

// The listening side of a framed message connection over a unix-domain stream socket at
// a path: a socket left there by an earlier run is removed first; one peer at a time, a
// further one is accepted and closed at once. A bind or listen that fails is retried
// every 5000 ms. A path that does not fit a socket address makes Activate() fail. Out of
// descriptors, it pauses (AcceptPause).
class AcceptorUnix : public ServiceUnix {
public:
    static constexpr unsigned int bind_retry_ms = 5000;

    AcceptorUnix();
    explicit AcceptorUnix(std::string const& path);
    ~AcceptorUnix() override;

    // Binds and listens; on failure arms the retry.
    void BindSocket();
    void OnTimeout(Timer*) { BindSocket(); }
    void OnSocketEvent(int fd, short revents);

    std::string const& path() const { return path_; }
    // Whether the listening socket is bound, listening and watched.
    bool listening() const { return listenEvent_.IsActive(); }

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override {}
    // A peer was refused while one is connected.
    virtual void ImplRefuseConnection() {}
    // A peer was taken (fd is the connected socket).
    virtual void ImplConnected(Fd const&) {}

private:
    // A new listening socket; false (logged) when it cannot be made.
    bool OpenSocket();
    void RetryLater();
    // Logs what failed with the error text, closes the socket and retries with a new one.
    void SetUpFailed(char const* what);

    std::string path_;
    Fd listenFd_;
    Timer bindTimer_;
    Event listenEvent_;
    AcceptPause acceptPause_{listenEvent_};
};

}  // namespace Control
