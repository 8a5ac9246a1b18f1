#pragma once

#include "runtime/timer.h"

class Event;

// What a listener does when accept(2) fails for want of descriptors or memory (EMFILE,
// ENFILE, ENOBUFS, ENOMEM). The connection stays queued and the listening socket stays
// readable, so polling it again at once would spin the loop: the listener stops polling
// its socket for pause_ms and then tries again, as long as the shortage lasts. The first
// failure of such an episode is logged; the episode ends with the next accept that does
// not fail for want of resources.
//
// Every listener keeps one beside the Event that polls its listening socket and, in its
// accept loop:
//
//     int fd = ::accept4(listener.lowlevel_fd(), ...);
//     if (fd < 0) {
//         pause_.Failed(errno);  // pauses on a shortage; either way the loop ends
//         return;
//     }
//     pause_.Accepted();
//
// and calls Cancel() when it stops listening.
class AcceptPause {
public:
    static constexpr unsigned int pause_ms = 250;

    // listener: the Event polling the listening socket; its name goes into the log line.
    explicit AcceptPause(Event& listener) : listener_(listener) {}
    AcceptPause(AcceptPause const&) = delete;
    AcceptPause& operator=(AcceptPause const&) = delete;

    // After a failed accept, with its error number: true when it was a shortage and the
    // listener is paused now.
    bool Failed(int error);
    // After an accepted connection.
    void Accepted() { episode_ = false; }
    // The listener stops listening: no resumption.
    void Cancel() { timer_.reset(); }
    bool paused() const { return timer_.is_running(); }

private:
    void Resume();

    Event& listener_;
    short events_ = 0;
    Timer timer_;
    bool episode_ = false;
};
