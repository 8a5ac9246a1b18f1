#pragma once

#include "messages/zgcp.h"
#include "tests/tcp_client.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The controller's side of the control link for tests: ZGCP messages built with the
// project's classes, encoded in aligned PER and framed with TPKT over TCP, or raw bytes
// for malformed input; received frames cut out and decoded, with time-outs.
namespace testsupport {

// A ZGCP message carrying the command, with a sequence number and a slot number when given
// (a slot number above 1023 cannot be encoded: send such messages as raw bytes).
ZGCP::Message zgcpCommand(ZGCP::Command const& command, std::optional<int> seq = std::nullopt,
                          std::optional<unsigned int> slot = std::nullopt);
// The same for a response or a signal (which the gateway never takes from a controller).
ZGCP::Message zgcpMessage(ZGCP::PDU const& pdu, std::optional<int> seq = std::nullopt,
                          std::optional<unsigned int> slot = std::nullopt);
ZGCP::Command pingCommand();
ZGCP::Command destroyCommand();

// The aligned PER octets of a value (a message of any module); empty when it cannot be
// encoded.
Bytes encodePer(ASN1::AbstractData const& value);
// Decodes octets into the value as the gateway does; false when they do not decode.
bool decodePer(Bytes const& body, ASN1::AbstractData& value);
inline Bytes encodeZgcp(ZGCP::Message const& message) { return encodePer(message); }
inline bool decodeZgcp(Bytes const& body, ZGCP::Message& message) { return decodePer(body, message); }
// A message in short: "seq=7 slot=5 success", "seq=1 error=4", "slot=3 signal=7",
// "command=12" (seq and slot when present, then the PDU with its alternative or cause).
std::string describeZgcp(ZGCP::Message const& message);
// The text on one line: each run of white space made one space.
std::string oneLine(std::string const& text);
// Octets as "80 01 01 40" and back.
std::string hexText(Bytes const& bytes);
Bytes hexBytes(std::string const& text);

class ControllerClient {
public:
    // Generous bound of every wait, in milliseconds of real time.
    static constexpr int kTimeout = 10000;

    // Waiting::Loop runs the in-process event loop while waiting (a server in this
    // process); Waiting::Socket waits on the socket alone (the daemon as its own process).
    explicit ControllerClient(TcpClient::Waiting waiting = TcpClient::Waiting::Loop) : tcp_(waiting) {}

    // Connects to 127.0.0.1:port, trying again until the port accepts or timeoutMs have
    // passed (a daemon that is still starting).
    bool connect(std::uint16_t port, int timeoutMs = kTimeout);
    bool connected() const { return tcp_.connected(); }
    // Closes at once; with reset, the gateway sees a RST.
    void close(bool reset = false) { tcp_.close(reset); }

    // One message, encoded and framed; false when it cannot be encoded or written.
    bool send(ZGCP::Message const& message);
    // The body in one TPKT frame.
    bool sendFrame(Bytes const& body) { return tcp_.sendFrame(body); }
    // Bytes as they are: several frames, cut frames, bad headers.
    bool sendRaw(Bytes const& bytes) { return tcp_.send(bytes); }

    // Signals of the alternative (ZGCP::Signal::trunkStatus::id) are dropped as they
    // arrive: the line reports a daemon on the simulated board sends every second, for
    // tests about something else.
    void skipSignal(int alternative) { skipped_.push_back(alternative); }

    // The body of the next frame (not a skipped signal); false on time-out, a close, or a
    // header that is not TPKT.
    bool receiveFrame(Bytes& body, int timeoutMs = kTimeout);
    // The next frame decoded; false as receiveFrame, or when it does not decode.
    bool receive(ZGCP::Message& message, int timeoutMs = kTimeout);
    // The next message in short (describeZgcp), "no message" on time-out or close, or
    // "undecodable".
    std::string receiveText(int timeoutMs = kTimeout);
    // Whether the gateway closes the connection within timeoutMs (what arrives before the
    // close is kept for receiveFrame).
    bool waitClosed(int timeoutMs = kTimeout) { return tcp_.waitClosed(timeoutMs); }
    // Bytes that arrived and were not taken by receiveFrame yet.
    std::size_t pending() const { return tcp_.received().size(); }

    TcpClient& tcp() { return tcp_; }

private:
    bool receiveOne(Bytes& body, int timeoutMs);
    bool skipped(Bytes const& body) const;

    TcpClient tcp_;
    std::vector<int> skipped_;
};

}  // namespace testsupport
