#include "runtime/accept_pause.h"

#include "runtime/event.h"

#include <cerrno>
#include <cstring>
#include <iostream>

bool AcceptPause::Failed(int error)
{
    if (error != EMFILE && error != ENFILE && error != ENOBUFS && error != ENOMEM) {
        episode_ = false;
        return false;
    }
    if (!episode_)
        std::cerr << listener_.event_name() << ": cannot accept: " << std::strerror(error) << "; trying again every "
                  << pause_ms << " ms" << std::endl;
    episode_ = true;
    if (!timer_.is_running()) {
        events_ = listener_.events();
        listener_.SetEvents(0);
        timer_.set(pause_ms, &AcceptPause::Resume, this);
    }
    return true;
}

void AcceptPause::Resume() { listener_.SetEvents(events_); }
