#pragma once

#include <poll.h>
#include <sys/types.h>

#include <string>

// One rule for every descriptor the loop polls: what its readiness and its reads say.
//
// A read of 0, a read error other than EAGAIN and EINTR, and POLLERR, POLLHUP or POLLNVAL
// reported without the readiness the handler waits for are the end of the descriptor. Its
// handler then writes one log line, stops polling and closes it, and tells its owner the way
// the owner hears of a lost line; it never waits on it again, since an ended descriptor stays
// ready and the loop would spin on it. EAGAIN and EINTR only mean "not now".
//
// An end that comes with data waiting (a peer's last message, then its reset) is taken only
// after the reads have passed on every whole message that waits. A descriptor found not open
// (POLLNVAL) has nothing to read: the loop has let go of it already (Multiplexer), and its
// handler says so and tells its owner.
namespace ReadEnd {

// What a reader polls for: input, and a shut input, which a datagram or a listening
// unix-domain socket shows only by POLLRDHUP (its reads and accepts just would block).
constexpr short input = POLLIN | POLLRDHUP;

enum Kind {
    data,   // something to take: read it (or accept it)
    again,  // nothing for now: wait for the next readiness
    end,    // the descriptor has ended
};

// The readiness alone. data when one of the wanted bits is set (after a hang-up data may
// still wait: the reads tell the end); end when POLLERR, POLLHUP or POLLNVAL (they come
// even when nothing is asked for), or POLLRDHUP when asked for, comes without them; again
// otherwise: the loop calls every handler on every serviced turn, mostly with nothing for it.
Kind ofPoll(short revents, short wanted = POLLIN);

// A read's (recv's, readv's) result and the errno it left, with the readiness that led to it:
// a read that would block after a hang-up or an error was reported is the end as well.
Kind ofRead(ssize_t n, int error, short revents = 0);

// A failed accept's errno, with the readiness that led to it: end when the listening
// socket itself is broken (EBADF, EINVAL after a shutdown, ENOTSOCK, ...) or nothing waits
// after a hang-up or an error was reported; again for the rest: nothing waiting, a signal,
// a connection gone before it was taken, the network errors Linux passes on, and the
// shortages of descriptors and memory, which AcceptPause deals with.
Kind ofAccept(int error, short revents);

// The bytes waiting to be read on a socket (FIONREAD); 0 when it cannot tell. What waits
// when an end is seen is read before it; a connect whose socket reports an end with bytes
// waiting was made all the same.
int waiting(int fd);

// The reason in the end's log line, for an end seen in the readiness: the socket's pending
// error on POLLERR (when it has one), "hang-up" on POLLHUP, "input shut down" on POLLRDHUP,
// "descriptor not open" on POLLNVAL.
std::string whyPolled(short revents, int fd);
// For an end seen in a read (ofRead with the same arguments): "closed by the peer" for a
// read of 0, the readiness's reason for one that would block, the error's text otherwise.
std::string whyRead(ssize_t n, int error, short revents = 0, int fd = -1);

}  // namespace ReadEnd
