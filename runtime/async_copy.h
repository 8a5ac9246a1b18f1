#pragma once

#include "runtime/async_handler.h"
#include "runtime/event.h"
#include "base/fd.h"

#include <poll.h>

#include <memory>

namespace ASync {

// Copies a byte stream from a source descriptor to a destination descriptor through one
// buffer, inside the event loop and without ever blocking it, and reports the end once.
//
// The copy reads and writes greedily until a call would block, and then polls only the
// side it waits for. When the source ends and everything read was written, it waits for
// the flush events on the destination (unless they are 0) and completes with done.
class Copy {
public:
    struct Status {
        enum Type {
            idle = 0,
            copying = 1,
            // The source is finished; the last bytes read are still being written.
            draining = 2,
            // Waiting for the destination's flush events.
            flushing = 3,
            // Completions, passed to the handler.
            failed = 4,
            done = 5,
            interrupted = 6,  // by set_events or set_bufsize
        };
    };

    // The poll masks: reading, writing, and the flush at the end (0: no waiting).
    struct EventsParams {
        EventsParams() = default;
        EventsParams(int source, int destination, int flush) : src(source), dst(destination), flush(flush) {}
        int src = POLLIN;
        int dst = POLLOUT;
        int flush = POLLWRNORM;
    };

    typedef ASync::Handler<Status::Type> Handler;
    template <class T>
    using THandler = ASync::THandler<T, Status::Type>;

    // The buffer size Start allocates when none was set.
    static constexpr unsigned int default_bufsize = 1024;

    Copy();
    // Stops without calling the handler and closes every descriptor.
    ~Copy();
    Copy(Copy const&) = delete;
    Copy& operator=(Copy const&) = delete;

    // The handler stays bound across copies.
    void Bind(Handler* handler) { handler_.Bind(handler); }
    template <class T>
    void Bind(void (T::*action)(Status::Type), typename std::common_type<T>::type* object)
    {
        handler_.Bind(action, object);
    }
    void UnBind() { handler_.UnBind(); }

    // Stores the masks; a running copy ends with interrupted.
    void set_events(EventsParams const& params);
    // Replaces the buffer by one of n bytes; a running copy ends with interrupted. A size
    // of 0 is refused: false, and nothing changes.
    bool set_bufsize(unsigned int n);

    // Starts copying between duplicates of the two descriptors (a running copy is dropped
    // without a call). The handler may have been called when Start returns. Returns 0.
    int Start(Fd source, Fd destination);
    // While copying: the source ends here; what was read is still written.
    void Stop();

    // The state (0 to 3) or, once ended, the completion status.
    int state() const { return state_; }
    // Bytes written by the current or last copy.
    unsigned int written() const { return written_; }
    unsigned int bufsize() const { return bufsize_; }
    EventsParams const& events() const { return params_; }

private:
    typedef bool (Copy::*Step)();

    // The steps return true when the next step can run at once.
    bool NotReady() { return false; }
    bool SrcReady();
    bool DstReady();
    void progress();
    bool goReading();
    bool finishSource();
    bool flush();
    // Ends an active copy (states 1 to 3) with the status and calls the handler last.
    void complete(Status::Type s);

    void OnSrcEvent(int fd, short revents);
    void OnDstEvent(int fd, short revents);

    Fd src_;
    Fd dst_;
    EventsParams params_;
    unsigned int bufsize_ = 0;
    std::unique_ptr<unsigned char[]> buf_;
    Step step_ = &Copy::NotReady;
    BoundHandler<Status::Type> handler_;
    Event srcEvent_;
    Event dstEvent_;
    unsigned int written_ = 0;
    // The bytes read but not yet written.
    unsigned char* begin_ = nullptr;
    unsigned char* end_ = nullptr;
    // The hang-up and error bits the source has reported.
    short srcEnd_ = 0;
    int state_ = Status::idle;
};

}  // namespace ASync
