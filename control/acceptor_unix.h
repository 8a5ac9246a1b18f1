#pragma once

#include "control/acceptor.h"
#include "control/service_unix.h"

#include <sys/socket.h>

#include <string>

namespace Control {

// Unix-domain stream sockets: listens at a path, removing a socket left there by an
// earlier run first; a peer is the path of its socket (empty for one without a name).
template <>
struct ListenFamily<ServiceUnix> {
    typedef std::string Address;
    typedef std::string Peer;
    static constexpr int domain = AF_UNIX;
    static constexpr int protocol = 0;
    static constexpr bool reuse_address = false;
    // Whether the path fits a socket address.
    static bool Usable(Address const& path);
    static int Bind(int fd, Address const& path);
    static int Accept(int fd, Peer& peer);
};

// The listening side of a framed message connection over a unix-domain stream socket at
// a path: a socket left there by an earlier run is removed first; one peer at a time (see
// Acceptor). A path that does not fit a socket address makes Activate() fail.
class AcceptorUnix : public Acceptor<ServiceUnix> {
public:
    AcceptorUnix();
    explicit AcceptorUnix(std::string const& path);

    std::string const& path() const { return address(); }
};

}  // namespace Control
