#pragma once

#include "base/fd.h"

#include <sys/types.h>

#include <string>
#include <vector>

// Ending connections in every way a peer can, and reaching the descriptors a daemon process
// polls, for the tests of how the daemon takes the end of a descriptor.
namespace testsupport {

enum class End {
    close,
    reset,          // SO_LINGER 0: a TCP peer gets a RST; a unix-domain one, with replies unread, ECONNRESET
    halfClose,      // shutdown of the sending side; the socket stays open
    sendThenClose,  // a few bytes (a TPKT frame with a one-byte body), then a close
    shutRead,       // of the daemon's own descriptor (a duplicate): shutdown of the receiving side
    hangUp,         // the same of both sides
    closedBehind,   // the descriptor a handler of the daemon polls is closed behind it (not by end())
};

// Ends the connection of the socket that way; the socket is closed, except after halfClose.
void end(Fd& socket, End how);
// The descriptors of the named handler in the table of a status dump, in the order listed
// (the order in which the loop took them up).
std::vector<int> polledDescriptors(std::string const& dump, std::string const& handler);
// The first of them; -1 when not listed.
int polledDescriptor(std::string const& dump, std::string const& handler);
// A duplicate of descriptor fd of process pid (pidfd_getfd); closed when not given.
Fd descriptorOf(pid_t pid, int fd);

}  // namespace testsupport
