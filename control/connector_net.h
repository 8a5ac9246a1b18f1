#pragma once

#include "base/fd.h"
#include "control/connector.h"
#include "control/service.h"
#include "runtime/event.h"
#include "runtime/inet4_addr.h"

#include <cstdint>
#include <string>

namespace Control {

// The client side of a framed message connection over TCP: connects to a numeric IPv4
// address without blocking the loop and retries on its own (see Connector; the long wait
// is 20000 ms after a refused connect, 15000 ms after an error or hang-up on the socket,
// 12000 ms after a pending socket error). A lost connection is tried again 10000 ms later.
// A host text that is not a numeric address makes Activate() fail with a line on the
// error stream.
class ConnectorNet : public Connector<ServiceNet> {
public:
    static constexpr unsigned int refused_wait_ms = 20000;
    static constexpr unsigned int event_error_wait_ms = 15000;
    static constexpr unsigned int pending_error_wait_ms = 12000;

    // No host: activation fails.
    ConnectorNet();
    // "a.b.c.d" or "a.b.c.d:port" (port 0 without the colon).
    explicit ConnectorNet(std::string const& address);
    // The host text may carry ":port", which then replaces the port.
    ConnectorNet(std::string const& host, unsigned short port);
    ~ConnectorNet() override;

    void TryConnect() override;
    void OnSocketEvent(int fd, short revents);

    std::string const& host() const { return host_; }
    unsigned short port() const { return port_; }

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;

private:
    // The address of the peer: the port, then the host text; false when the text is not a
    // numeric address.
    bool PeerAddress(INet4::Addr& peer) const;

    std::uint16_t port_;
    std::string host_;
    Event connectEvent_;
};

}  // namespace Control
