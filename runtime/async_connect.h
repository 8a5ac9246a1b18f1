#pragma once

#include "runtime/async_handler.h"
#include "runtime/event.h"
#include "base/fd.h"
#include "runtime/timer.h"

#include <string>

namespace ASync {

// Opens a TCP connection without blocking the event loop, with a time-out, and hands the
// connected descriptor to its handler. The handler is called at most once per Start
// (possibly from within Start), never after the object was destroyed or restarted; the
// Connect keeps no descriptor after its completion.
class Connect {
public:
    struct Status {
        enum Type {
            idle = 0,
            connecting = 1,
            // Completions, passed to the handler.
            failed = 2,  // refused, unreachable, bad address or timed out
            connected = 3,
            stopped = 4,
        };
    };

    typedef ASync::Handler<Status::Type, Fd> Handler;
    template <class T>
    using THandler = ASync::THandler<T, Status::Type, Fd>;

    Connect();
    // Drops a pending connect without calling the handler.
    ~Connect();
    Connect(Connect const&) = delete;
    Connect& operator=(Connect const&) = delete;

    void Bind(Handler* handler) { handler_.Bind(handler); }
    template <class T>
    void Bind(void (T::*action)(Status::Type, Fd), typename std::common_type<T>::type* object)
    {
        handler_.Bind(action, object);
    }
    void UnBind() { handler_.UnBind(); }

    // Connects to "a.b.c.d:port" within timeoutMs milliseconds. An address that does not
    // parse fails at once.
    void Start(std::string const& address, unsigned int timeoutMs);
    // While connecting: completes with stopped.
    void Stop();

    // The state (0 or 1) or, once ended, the completion status.
    int state() const { return state_; }

private:
    void OnSocketEvent(int fd, short revents);
    void OnTimeOut(Timer*);
    // Ends a pending connect with the status and calls the handler last.
    void complete(Status::Type s);

    int state_ = Status::idle;
    Fd socket_;
    Event event_;
    BoundHandler<Status::Type, Fd> handler_;
    Timer timer_;
};

}  // namespace ASync
