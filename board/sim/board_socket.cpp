#include "board/sim/board_socket.h"

#include "board/path.h"
#include "board/sim/sim_board.h"
#include "runtime/read_end.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

namespace board::sim {

// One connected client: what it sent and is not handled yet, its unfinished command line
// and its unsent replies. It is read only while nothing it sent waits and its unsent
// replies are under kOutputLimit, so a client that sends faster than it reads costs
// bounded memory; one turn handles at most one read and kBatchLines lines. A client gone
// (a hang-up, an error, a reply it cannot take) has every whole line it sent run before its
// end, since nothing more can come from it; their replies are dropped.
class BoardSocket::Client {
public:
    Client(BoardSocket& owner, Fd fd) : owner_(owner)
    {
        event_.Bind("BoardSocket::Client", &Client::onReady, this);
        event_.Schedule(std::move(fd), POLLIN);
    }

    std::size_t pendingOutput() const { return out_.size(); }

private:
    void onReady(int fd, short revents)
    {
        if (revents == 0)
            return;
        // Nothing can be read or sent on a number that is not open.
        if (revents & POLLNVAL) {
            why_ = "descriptor not open";
            return finish();
        }
        std::size_t lines = 0;
        if ((revents & (POLLHUP | POLLERR)) || !flush(fd))
            return takeRest(fd, revents);
        runLines(lines);
        if (wantsInput() && (revents & POLLIN)) {
            receive(fd, revents);
            runLines(lines);
        }
        if (!flush(fd))
            return takeRest(fd, revents);
        if (ended_ && unhandled() == 0 && out_.empty())
            return finish();
        // Lines left for the next turn ask for it through POLLOUT, which an idle socket
        // reports at once.
        bool const more = unhandled() > 0 && out_.size() < kOutputLimit;
        event_.SetEvents((wantsInput() ? POLLIN : 0) | (!out_.empty() || more ? POLLOUT : 0));
    }

    std::size_t unhandled() const { return received_.size() - next_; }
    bool wantsInput() const { return !ended_ && unhandled() == 0 && out_.size() < kOutputLimit; }

    // One read; marks the end when the client has stopped sending.
    void receive(int fd, short revents)
    {
        received_.resize(kReadSize);
        ssize_t const n = ::recv(fd, &received_[0], received_.size(), MSG_DONTWAIT);
        int const error = errno;
        received_.resize(n > 0 ? std::size_t(n) : 0);
        next_ = 0;
        if (ReadEnd::ofRead(n, error, revents) == ReadEnd::end) {
            ended_ = true;
            if (why_.empty())
                why_ = ReadEnd::whyRead(n, error, revents, fd);
        }
    }

    // The client is gone: what it sent is read and run to the end, then it ends. Only what
    // waits now is read, and the read that finds the end: one that goes on sending while it
    // takes no reply cannot hold the loop.
    void takeRest(int fd, short revents)
    {
        gone_ = true;
        out_.clear();
        std::size_t left = std::size_t(ReadEnd::waiting(fd)) + 1;
        std::size_t lines = 0;
        runLines(lines);
        while (!ended_ && left > 0) {
            // Nothing waiting any more is its end as well.
            receive(fd, revents | POLLHUP);
            left -= std::min(left, std::max<std::size_t>(received_.size(), 1));
            runLines(lines);
        }
        finish();
    }

    // One line says why it ended; the owner drops it.
    void finish()
    {
        std::cerr << event_.event_name() << ": ended: " << why_ << std::endl;
        owner_.drop(this);  // destroys this client: nothing of it is touched afterwards
    }

    // Runs the lines received, while the batch and the unsent replies are under their limits
    // (without limit once the client is gone).
    void runLines(std::size_t& lines)
    {
        while (next_ < received_.size() && (gone_ || (lines < kBatchLines && out_.size() < kOutputLimit))) {
            if (take(received_[next_++]))
                ++lines;
        }
    }

    // True when c ended a line (which was run).
    bool take(char c)
    {
        if (c != '\n') {
            if (line_.size() < kMaxLine)
                line_ += c;
            else
                tooLong_ = true;
            return false;
        }
        if (!line_.empty() && line_.back() == '\r')
            line_.pop_back();
        std::string const reply = tooLong_ ? std::string("error line too long") : owner_.console_.execute(line_);
        if (!gone_)
            out_ += reply + '\n';
        line_.clear();
        tooLong_ = false;
        return true;
    }

    // Sends what it can; false when the client is gone.
    bool flush(int fd)
    {
        while (!out_.empty()) {
            ssize_t n = ::send(fd, out_.data(), out_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                return true;
            if (n < 0) {
                why_ = std::strerror(errno);
                return false;
            }
            out_.erase(0, std::size_t(n));
        }
        return true;
    }

    BoardSocket& owner_;
    Event event_;
    std::string received_;
    std::size_t next_ = 0;
    std::string line_;
    std::string out_;
    bool tooLong_ = false;
    bool ended_ = false;
    // It takes no reply any more.
    bool gone_ = false;
    // Why it ended, for the one line that says so.
    std::string why_;
};

BoardSocket::BoardSocket(SimBoard& board) : console_(board) {}

BoardSocket::~BoardSocket() { close(); }

bool BoardSocket::listen() { return listen(board::path(kPath)); }

bool BoardSocket::listen(std::string const& path)
{
    close();
    return openListener(path);
}

bool BoardSocket::openListener(std::string const& path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);

    Fd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s)
        return false;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
        ::unlink(path.c_str());
    if (::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
        || ::listen(s.lowlevel_fd(), 8) != 0 || ::lstat(path.c_str(), &st) != 0)
        return false;
    path_ = path;
    inode_ = st.st_ino;
    listener_.Bind("BoardSocket::onAccept", &BoardSocket::onAccept, this);
    listener_.Schedule(std::move(s), ReadEnd::input);
    return true;
}

void BoardSocket::close()
{
    relisten_.reset();
    clients_.clear();
    acceptPause_.Cancel();
    listener_.Release();
    // Another server may have taken the path over since: its file stays.
    struct stat st;
    if (!path_.empty() && ::lstat(path_.c_str(), &st) == 0 && st.st_ino == inode_)
        ::unlink(path_.c_str());
    path_.clear();
}

void BoardSocket::onAccept(int fd, short revents)
{
    ReadEnd::Kind const ready = ReadEnd::ofPoll(revents);
    if (ready == ReadEnd::end)
        listenerEnded(ReadEnd::whyPolled(revents, fd));
    if (ready != ReadEnd::data)
        return;
    for (;;) {
        int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (c < 0) {
            int const error = errno;
            acceptPause_.Failed(error);
            if (ReadEnd::ofAccept(error, revents) == ReadEnd::end)
                listenerEnded(ReadEnd::whyRead(-1, error, revents, fd));
            return;
        }
        acceptPause_.Accepted();
        clients_.push_back(std::make_unique<Client>(*this, Fd(c)));
    }
}

void BoardSocket::listenerEnded(std::string const& why)
{
    std::cerr << listener_.event_name() << ": listening socket ended: " << why << "; listening again in "
              << kRelistenMs << " ms" << std::endl;
    acceptPause_.Cancel();
    listener_.Release();
    relisten_.set(kRelistenMs, &BoardSocket::relisten, this);
}

void BoardSocket::relisten()
{
    if (!openListener(path_))
        relisten_.set(kRelistenMs, &BoardSocket::relisten, this);
}

std::size_t BoardSocket::pendingOutput() const
{
    std::size_t total = 0;
    for (auto const& c : clients_)
        total += c->pendingOutput();
    return total;
}

void BoardSocket::drop(Client* client)
{
    for (auto it = clients_.begin(); it != clients_.end(); ++it) {
        if (it->get() == client) {
            clients_.erase(it);
            return;
        }
    }
}

}  // namespace board::sim
