// The baseline of the side-by-side load run: a bare TPKT echo server on 127.0.0.1.
//
// One thread and one poll set; every complete frame read is sent back at once, all the
// frames of one read with one write. Frames must carry version 3 and a length of at least
// the header; anything else ends that connection. SIGTERM or SIGINT ends the server with 0.
//
//   tpkt_echo --port=N

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t stopping = 0;

void onStop(int) { stopping = 1; }

constexpr std::size_t kHeader = 4;
constexpr std::size_t kBuffer = 65536 + kHeader;

// One client: the bytes of a frame not complete yet, and the answers not sent yet.
struct Client {
    int fd;
    std::vector<std::uint8_t> in;
    std::vector<std::uint8_t> out;
};

// The length of the complete frames at the start of the bytes; -1 for a bad header.
long completeFrames(std::uint8_t const* data, std::size_t size)
{
    std::size_t at = 0;
    while (size - at >= kHeader) {
        std::size_t const length = std::size_t(data[at + 2]) << 8 | data[at + 3];
        if (data[at] != 3 || length < kHeader)
            return -1;
        if (size - at < length)
            break;
        at += length;
    }
    return long(at);
}

// Sends what it can of the pending answers; false when the client is gone.
bool flush(Client& c)
{
    while (!c.out.empty()) {
        ssize_t const n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0)
            return errno == EAGAIN || errno == EINTR;
        c.out.erase(c.out.begin(), c.out.begin() + n);
    }
    return true;
}

// Queues bytes to send and sends what it can; false when the client is gone.
bool answer(Client& c, std::uint8_t const* data, std::size_t size)
{
    if (c.out.empty()) {
        ssize_t const n = ::send(c.fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        std::size_t const sent = n > 0 ? std::size_t(n) : 0;
        data += sent;
        size -= sent;
    }
    c.out.insert(c.out.end(), data, data + size);
    return true;
}

// One read; its complete frames are answered with one write. False when the client is gone.
bool serve(Client& c)
{
    static std::uint8_t buffer[kBuffer];
    ssize_t const n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0)
        return errno == EAGAIN || errno == EINTR;
    if (n == 0)
        return false;
    std::uint8_t const* data = buffer;
    std::size_t size = std::size_t(n);
    if (!c.in.empty()) {
        c.in.insert(c.in.end(), buffer, buffer + n);
        data = c.in.data();
        size = c.in.size();
    }
    long const done = completeFrames(data, size);
    if (done < 0 || !answer(c, data, std::size_t(done)))
        return false;
    std::vector<std::uint8_t> rest(data + done, data + size);
    c.in.swap(rest);
    return true;
}

int listenOn(int port)
{
    int const s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 8) != 0)
        return -1;
    return s;
}

void accept(int listener, std::vector<Client>& clients)
{
    for (int c; (c = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;) {
        int on = 1;
        ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        clients.push_back({c, {}, {}});
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::string const option = argc == 2 ? argv[1] : "";
    int const port = option.rfind("--port=", 0) == 0 ? std::atoi(option.c_str() + 7) : 0;
    if (port <= 0 || port > 65535) {
        std::cerr << "usage: tpkt_echo --port=N" << std::endl;
        return 2;
    }
    struct sigaction sa {};
    sa.sa_handler = onStop;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    int const listener = listenOn(port);
    if (listener < 0) {
        std::cerr << "tpkt_echo: cannot listen on port " << port << ": " << std::strerror(errno) << std::endl;
        return 1;
    }
    std::vector<Client> clients;
    std::vector<pollfd> fds;
    while (!stopping) {
        fds.assign(1, pollfd{listener, POLLIN, 0});
        for (Client const& c : clients)
            fds.push_back({c.fd, short(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
        if (::poll(fds.data(), fds.size(), -1) < 0)
            continue;
        // Clients first: the indices of fds match clients until the listener adds one.
        for (std::size_t i = clients.size(); i-- > 0;) {
            short const ready = fds[i + 1].revents;
            bool alive = !(ready & POLLOUT) || flush(clients[i]);
            if (alive && (ready & (POLLIN | POLLHUP | POLLERR)))
                alive = serve(clients[i]);
            if (!alive) {
                ::close(clients[i].fd);
                clients.erase(clients.begin() + std::ptrdiff_t(i));
            }
        }
        if (fds[0].revents & POLLIN)
            accept(listener, clients);
    }
    for (Client const& c : clients)
        ::close(c.fd);
    ::close(listener);
    return 0;
}
