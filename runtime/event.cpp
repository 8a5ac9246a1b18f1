#include "runtime/event.h"

#include "runtime/multiplexer.h"

#include <cerrno>

EventHandler::~EventHandler() { mux_detach(); }

void EventHandler::mux_attach()
{
    if (attached_)
        return;
    multiplexer.attach(this);
    attached_ = true;
}

void EventHandler::mux_detach()
{
    if (!attached_)
        return;
    multiplexer.detach(this);
    attached_ = false;
}

Event::~Event()
{
    handler_.reset();
    if (fd_.is_valid())
        mux_detach();
    forgetNotOpen();
}

void Event::forgetNotOpen()
{
    if (notOpen_)
        fd_.forget();
    notOpen_ = false;
}

void Event::Schedule(Fd fd, short events)
{
    if (fd_.is_valid())
        mux_detach();
    forgetNotOpen();
    fd_ = std::move(fd);
    events_ = events;
    if (fd_.is_valid())
        mux_attach();
}

int Event::Release()
{
    if (fd_.is_valid())
        mux_detach();
    if (notOpen_) {
        forgetNotOpen();
        errno = EBADF;
        return -1;
    }
    return fd_.close();
}

void Event::shedule_event(pollfd& entry)
{
    entry.fd = fd_.lowlevel_fd();
    entry.events = events_;
    entry.revents = 0;
}

void Event::svc_event(short revents)
{
    if (revents & events_)
        ++count_;
    // The loop has let go of it (Multiplexer::service).
    if ((revents & POLLNVAL) && !attached())
        notOpen_ = fd_.is_valid();
    // The callback may destroy this Event: nothing of it is touched afterwards.
    if (handler_)
        handler_->Invoke(fd_.lowlevel_fd(), revents);
}
