#pragma once

#include "messages/mon.h"
#include "tests/controller_client.h"
#include "tests/loopback.h"
#include "tests/tcp_client.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// An SNMP agent process for tests: it listens on 127.0.0.1, takes the gateway's agent link
// and exchanges MON messages (the project's classes, aligned PER) in TPKT frames with it.
namespace testsupport {

// A message in short: "ping", "trapsinks 10.1.1.1 10.1.1.2", or "set" followed by each
// command as " uniq:section/name/index=value" (" uniq:oid=value" for one named by OID; the
// "uniq:" left out unless withUniq); "response", "signal", or "other" for the rest.
std::string describeMon(MON::Message const& message, bool withUniq = true);
// The set commands of a message by "section/name/index" (or OID), each with its value; a
// later command of the same item replaces the earlier one.
void collectItems(MON::Message const& message, std::map<std::string, std::string>& items);

class FakeAgent {
public:
    static constexpr int kTimeout = 10000;

    // Listens on the port (0: one the system chooses); Waiting as for TcpClient.
    explicit FakeAgent(TcpClient::Waiting waiting, std::uint16_t port = 0);

    bool listening() const { return listener_.port() != 0; }
    std::uint16_t port() const { return listener_.port(); }

    // Waits for the gateway's next connection, which replaces the current one.
    bool accept(int timeoutMs = kTimeout);
    // The next message; false on time-out, a close, or a frame that does not decode.
    bool receive(MON::Message& message, int timeoutMs = kTimeout);
    // The next message in short (describeMon), "no message" or "undecodable".
    std::string receiveText(int timeoutMs = kTimeout);
    bool send(MON::Message const& message);
    bool sendFrame(Bytes const& body) { return link_.sendFrame(body); }
    bool waitClosed(int timeoutMs = kTimeout) { return link_.waitClosed(timeoutMs); }
    void close() { link_.close(); }

    // The body of every frame received, in order.
    std::vector<Bytes> const& frames() const { return frames_; }

private:
    TcpClient::Waiting waiting_;
    LoopbackListener listener_;
    // The TPKT framing of the controller's test client serves the agent link as well.
    ControllerClient link_;
    std::vector<Bytes> frames_;
};

}  // namespace testsupport
