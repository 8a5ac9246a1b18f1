#pragma once

#include "base/fd.h"

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A loopback TCP client for tests of the control link: raw bytes or TPKT frames out,
// bytes in while the real event loop runs (so the server side in the same process works),
// or while waiting on the socket alone (the server is another process).
namespace testsupport {

typedef std::vector<std::uint8_t> Bytes;

// A TCP (SOCK_STREAM) or UDP (SOCK_DGRAM) port that was free a moment ago, outside the
// range of ephemeral ports, and that no other test process running meanwhile is given.
std::uint16_t freePort(int type = SOCK_STREAM);

// The TPKT frame (03 00 and the 16-bit big-endian length counting the header) of a body.
Bytes tpktFrame(Bytes const& body);

class TcpClient {
public:
    // How receive() and waitClosed() wait: running turns of the in-process event loop, or
    // polling the socket alone.
    enum class Waiting { Loop, Socket };

    explicit TcpClient(Waiting waiting = Waiting::Loop) : waiting_(waiting) {}
    // Connects (blocking) to 127.0.0.1:port; rcvbuf > 0 sets SO_RCVBUF first.
    explicit TcpClient(std::uint16_t port, int rcvbuf = 0, Waiting waiting = Waiting::Loop) : waiting_(waiting)
    {
        connect(port, rcvbuf);
    }

    bool connect(std::uint16_t port, int rcvbuf = 0);
    // Takes over a connected socket (one a test's listener accepted).
    void adopt(Fd fd);
    bool connected() const { return fd_.is_valid(); }
    int fd() const { return fd_.lowlevel_fd(); }

    // Writes all bytes (blocking); false on an error.
    bool send(Bytes const& bytes);
    bool sendFrame(Bytes const& body) { return send(tpktFrame(body)); }

    // Waits until n bytes have arrived in all (they stay in received()) or timeoutMs have
    // passed; false on time-out, end of file or error.
    bool receive(std::size_t n, int timeoutMs = 5000);
    // Waits until the peer's close is seen (end of file or reset); true then.
    bool waitClosed(int timeoutMs = 5000);
    // Takes the first n received bytes out (all when n exceeds what is there).
    Bytes take(std::size_t n);
    Bytes const& received() const { return received_; }

    // Closes at once; with reset, the peer gets a RST instead of an orderly close.
    void close(bool reset = false);

private:
    // Reads what is there without waiting: 1 bytes read, 0 nothing, -1 end of file or error.
    int drain();
    // Waits in the chosen way until done() is true or timeoutMs have passed.
    bool waitUntil(std::function<bool()> const& done, int timeoutMs);

    Waiting waiting_;
    Fd fd_;
    Bytes received_;
};

}  // namespace testsupport
