#pragma once

#include "board/sim/console.h"
#include "runtime/accept_pause.h"
#include "runtime/event.h"
#include "runtime/timer.h"

#include <sys/types.h>

#include <cstddef>
#include <list>
#include <memory>
#include <string>

namespace board::sim {

class SimBoard;

// Serves the simulated board's console on a unix-domain stream socket from the event loop:
// one command a line in, one reply a line out, any number of clients at once.
class BoardSocket {
public:
    // Where the daemon on the simulated board listens (a board path).
    static constexpr char const* kPath = "/var/run/board.sock";
    // A longer command line is refused (and its rest skipped).
    static constexpr std::size_t kMaxLine = 4096;
    // A client is not read while more of its replies than this wait unsent, and resumes
    // when it reads them; one turn reads at most kReadSize bytes of a client and runs at
    // most kBatchLines of its lines.
    static constexpr std::size_t kOutputLimit = 64 << 10;
    static constexpr std::size_t kReadSize = 4096;
    static constexpr std::size_t kBatchLines = 16;
    // A listening socket that ends is replaced this much later (and again until one listens);
    // the clients stay.
    static constexpr unsigned int kRelistenMs = 1000;

    explicit BoardSocket(SimBoard& board);
    ~BoardSocket();
    BoardSocket(BoardSocket const&) = delete;
    BoardSocket& operator=(BoardSocket const&) = delete;

    // Listens at the file system path (a stale socket file there is replaced). False with
    // errno set when it cannot.
    bool listen(std::string const& path);
    // Listens at kPath under the board root.
    bool listen();
    // Stops listening, drops the clients and removes the socket file.
    void close();

    std::string const& path() const { return path_; }
    std::size_t clientCount() const { return clients_.size(); }
    // The replies of every client still waiting to be sent, in bytes.
    std::size_t pendingOutput() const;

private:
    class Client;

    // Binds and listens at the path, keeping the clients.
    bool openListener(std::string const& path);
    void onAccept(int fd, short revents);
    void listenerEnded(std::string const& why);
    void relisten();
    void drop(Client* client);

    Console console_;
    Event listener_;
    AcceptPause acceptPause_{listener_};
    Timer relisten_;
    std::string path_;
    ino_t inode_ = 0;  // of the socket file it made
    std::list<std::unique_ptr<Client>> clients_;
};

}  // namespace board::sim
