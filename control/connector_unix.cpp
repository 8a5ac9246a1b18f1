#include "control/connector_unix.h"

#include "base/errno.h"

#include <sys/socket.h>

#include <iostream>

namespace Control {

ConnectorUnix::ConnectorUnix() : ConnectorUnix(std::string(), std::string()) {}

ConnectorUnix::ConnectorUnix(std::string const& path) : ConnectorUnix(path, std::string()) {}

ConnectorUnix::ConnectorUnix(std::string const& path, std::string const& local) : path_(path), local_(local) {}

bool ConnectorUnix::ImplActivate()
{
    sockaddr_un address;
    if (!UnixAddress(path_, address) || (!local_.empty() && !UnixAddress(local_, address)))
        return false;
    return Start();
}

void ConnectorUnix::BindLocal()
{
    sockaddr_un address;
    UnixAddress(local_, address);
    RemoveStaleSocket(local_);
    if (::bind(connecting_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Errno const error;
        std::cerr << "can't bind to domain socket '" << local_ << "': \"" << error << std::endl;
    }
}

void ConnectorUnix::TryConnect()
{
    connecting_ = Fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!connecting_.is_valid()) {
        GiveUp("can't create domain socket:");
        return;
    }
    if (!connecting_.NonBlock()) {
        GiveUp("can't set domain socket to non block mode: ");
        return;
    }
    if (!local_.empty())
        BindLocal();
    sockaddr_un server;
    UnixAddress(path_, server);
    if (::connect(connecting_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
        Errno const error;
        std::cerr << "can't connect to " << path_ << " : " << error << std::endl;
        RetryLater(refused_wait_ms);
        return;
    }
    // A unix-domain connect completes at once.
    std::clog << "connected to " << path_ << std::endl;
    Connected(TakeSocket(), path_);
}

}  // namespace Control
