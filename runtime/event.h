#pragma once

#include "base/dual_list.h"
#include "base/fd.h"
#include "base/measure.h"

#include <poll.h>

#include <memory>
#include <string>

class Multiplexer;

// Something the event loop polls. While attached it sits in exactly one of the loop's
// handler lists (pending, polled or serviced).
class EventHandler : public F_dual_list_item<EventHandler> {
public:
    EventHandler() = default;
    EventHandler(EventHandler const&) = delete;
    EventHandler& operator=(EventHandler const&) = delete;
    // A handler destroyed while attached leaves the loop first.
    virtual ~EventHandler();

    // Fills the poll entry (descriptor and requested events) for this turn.
    virtual void shedule_event(pollfd& entry) = 0;
    // Handles the readiness of this turn (0 when the handler's descriptor was not ready).
    virtual void svc_event(short revents) = 0;
    virtual std::string event_name() const { return "unknown"; }
    virtual bool is_named() const { return false; }

    void mux_attach();
    void mux_detach();
    bool attached() const { return attached_; }
    // Calls svc_event with the readiness the loop stored.
    void svc_event() { svc_event(revents_); }
    short revents() const { return revents_; }

private:
    friend class Multiplexer;
    bool attached_ = false;
    short revents_ = 0;
    // Where the loop keeps the handler: the index of its list, -1 when in none.
    signed char muxList_ = -1;
    // The handler's entry in the poll array of the current turn.
    unsigned int pollIndex_ = 0;
};

// A descriptor polled for a mask of events, with a member-function callback.
//
// The Event holds its own duplicate of the descriptor it is given and is attached to the
// loop exactly while that descriptor is open. On every turn in which any polled descriptor
// is ready, the callback runs with this Event's readiness, which may be 0: callbacks test
// the bits they care about. A descriptor the loop reports not open (POLLNVAL) is no longer
// polled; the callback hears it once, and the number is never closed from here, since it
// may be another descriptor's by then.
class Event : public EventHandler {
public:
    class Handler {
    public:
        virtual ~Handler() = default;
        virtual void Invoke(int fd, short revents) = 0;
    };

    template <class T>
    class THandler : public Handler {
    public:
        typedef void (T::*Action)(int, short);
        THandler(Action action, T* object) : action_(action), object_(object) {}
        void Invoke(int fd, short revents) override
        {
            if (action_)
                (object_->*action_)(fd, revents);
        }

    private:
        Action action_;
        T* object_;
    };

    Event() = default;
    ~Event() override;

    // Takes ownership of the handler (null allowed), deleting the one bound before.
    void Bind(Handler* handler) { handler_.reset(handler); }
    template <class T>
    void Bind(std::string const& name, typename THandler<T>::Action action, T* object)
    {
        name_ = name;
        Bind(new THandler<T>(action, object));
    }
    void UnBind() { handler_.reset(); }

    // Polls a duplicate of fd for the events; a closed fd leaves the Event detached.
    void Schedule(Fd fd, short events);
    // Detaches and closes the descriptor; Fd::close's result (-1 with EBADF for one that
    // was found not open).
    int Release();
    // The new mask counts from the next building of the poll array.
    void SetEvents(int events) { events_ = short(events); }

    // The number, also of a descriptor found not open (until Release or Schedule).
    int lowlevel_fd() const { return fd_.lowlevel_fd(); }
    bool IsActive() const { return fd_.is_valid() && !notOpen_; }
    Measure const& measure() const { return measure_; }
    short events() const { return events_; }
    unsigned int count() const { return count_; }
    bool bound() const { return handler_ != nullptr; }

    void shedule_event(pollfd& entry) override;
    void svc_event(short revents) override;
    using EventHandler::svc_event;
    std::string event_name() const override { return name_; }
    bool is_named() const override { return true; }

private:
    // Lets go of a number found not open.
    void forgetNotOpen();

    std::unique_ptr<Handler> handler_;
    Fd fd_;
    bool notOpen_ = false;
    short events_ = 0;
    std::string name_ = "Unknown";
    unsigned int count_ = 0;
    Measure measure_;
};
