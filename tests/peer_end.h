#pragma once

#include "base/fd.h"

#include <sys/types.h>

#include <string>

// Ending connections in every way a peer can, and reaching the descriptors a daemon process
// polls, for the tests of how the daemon takes the end of a descriptor.
namespace testsupport {

enum class End {
    close,          // an orderly close
    reset,          // SO_LINGER 0 first: a TCP peer gets a RST; a unix-domain one whose
                    // replies wait unread gets ECONNRESET
    halfClose,      // shutdown of the sending side; the socket stays open
    sendThenClose,  // a few bytes (a TPKT frame with a one-byte body), then a close
    shutRead,       // shutdown of the receiving side: reads return 0
    hangUp,         // shutdown of both sides: a hang-up
};

char const* name(End how);

// Ends the connection of this socket (shutRead and hangUp: of a duplicate of the daemon's
// own descriptor) that way; the socket is closed, except after halfClose.
void end(Fd& socket, End how);

// The descriptor of the handler of that name in the table of a status dump; -1 when it is
// not listed.
int polledDescriptor(std::string const& dump, std::string const& handler);

// A duplicate of descriptor fd of process pid (pidfd_getfd); closed when the system does
// not give it.
Fd descriptorOf(pid_t pid, int fd);

}  // namespace testsupport
