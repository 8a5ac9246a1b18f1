#pragma once

#include "base/fd.h"

#include <netinet/in.h>

#include <string>
#include <utility>

// Real TCP sockets on the loopback interface for tests and benchmarks.
namespace testsupport {

// 127.0.0.1 at the port.
sockaddr_in loopbackAddress(unsigned short port);

// A listening TCP socket on 127.0.0.1 at the port given, or one the system chose.
class LoopbackListener {
public:
    // backlog 0 lets one connection wait unaccepted; the next one then never completes.
    explicit LoopbackListener(int backlog = 8, unsigned short port = 0);

    unsigned short port() const { return port_; }
    // "127.0.0.1:<port>".
    std::string address() const;
    // Waits for the next connection (blocking).
    Fd accept();
    // Waits at most timeoutMs for the next connection; empty on time-out.
    Fd accept(int timeoutMs);
    // A blocking connection to this listener (the client end).
    Fd connect() const;

private:
    // Set while fd_ is made: declared first.
    unsigned short port_ = 0;
    Fd fd_;
};

// A UDP socket on a loopback address (127.0.0.1 unless given), at a port the system chose
// unless one is given; with shared, another socket may bind the port too (SO_REUSEADDR).
class LoopbackUdp {
public:
    explicit LoopbackUdp(char const* address = "127.0.0.1", unsigned short port = 0, bool shared = false);

    bool bound() const { return fd_.is_valid(); }
    unsigned short port() const { return port_; }
    // The next datagram within timeoutMs, and the port it came from; "" on time-out.
    std::string receive(int timeoutMs, unsigned short* from = nullptr);

private:
    unsigned short port_ = 0;
    Fd fd_;
};
// Reads from a socket until n bytes have come, its end, an error or timeoutMs have passed;
// returns what came.
std::string readFor(Fd const& socket, std::size_t n, int timeoutMs);

// A connected pair of non-blocking loopback TCP sockets: the client end, then the
// accepted end.
std::pair<Fd, Fd> tcpPair();

}  // namespace testsupport
