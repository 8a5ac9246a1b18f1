#pragma once

#include "base/fd.h"
#include "control/service.h"

#include <sys/un.h>

#include <cstddef>
#include <string>

namespace Control {

// A message connection over a unix-domain stream socket; the peer is shown as the path of
// its socket. No socket options are set.
class ServiceUnix : public Service {
public:
    void Connected(Fd const& fd, std::string const& peer) { TakeConnection(fd, peer); }

protected:
    explicit ServiceUnix(bool verbose = true) : Service(verbose) {}
};

// The longest path a unix-domain socket address holds (without its terminating zero).
constexpr std::size_t max_socket_path = sizeof(sockaddr_un::sun_path) - 1;

// Fills address with the path; false, with a line on the error stream, when the path is
// empty or longer than the address holds (a cut path would name another file).
bool UnixAddress(std::string const& path, sockaddr_un& address);

// Removes the file at path when it is a socket (left over by an earlier run); any other
// file stays where it is.
void RemoveStaleSocket(std::string const& path);

}  // namespace Control
