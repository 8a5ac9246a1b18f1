#pragma once

#include "control/connector.h"
#include "control/service_unix.h"

#include <string>

namespace Control {

// The client side of a framed message connection over a unix-domain stream socket, with
// an optional local path that the socket is bound to before each attempt (a socket left
// there is removed first). Retries as ConnectorNet (see Connector; the long wait is
// 20000 ms); a lost connection is tried again 10000 ms later. A unix-domain connect
// completes or fails at once, so no attempt waits on the socket. A path that does not fit
// a socket address makes Activate() fail.
class ConnectorUnix : public Connector<ServiceUnix> {
public:
    static constexpr unsigned int refused_wait_ms = 20000;

    // No path: activation fails.
    ConnectorUnix();
    explicit ConnectorUnix(std::string const& path);
    ConnectorUnix(std::string const& path, std::string const& local);

    void TryConnect() override;

    std::string const& path() const { return path_; }
    std::string const& local() const { return local_; }

protected:
    bool ImplActivate() override;

private:
    // Binds the attempt's socket to the local path; a failure is logged and the attempt
    // goes on unbound.
    void BindLocal();

    std::string path_;
    std::string local_;
};

}  // namespace Control
