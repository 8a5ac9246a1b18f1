#include "board/sim/board_socket.h"

#include "board/path.h"
#include "board/sim/sim_board.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace board::sim {

// One connected client: its unfinished command line and its unsent replies.
class BoardSocket::Client {
public:
    Client(BoardSocket& owner, Fd fd) : owner_(owner)
    {
        event_.Bind("BoardSocket::Client", &Client::onReady, this);
        event_.Schedule(std::move(fd), POLLIN);
    }

private:
    void onReady(int fd, short revents)
    {
        if (revents == 0)
            return;
        bool ended = false;
        if (revents & (POLLIN | POLLHUP | POLLERR))
            ended = readLines(fd);
        if (!flush(fd) || out_.size() > kMaxPending || (ended && out_.empty())) {
            owner_.drop(this);  // destroys this client: nothing of it is touched afterwards
            return;
        }
        if (ended)
            reading_ = false;
        event_.SetEvents((reading_ ? POLLIN : 0) | (out_.empty() ? 0 : POLLOUT));
    }

    // Runs every complete line read; true when the client has stopped sending.
    bool readLines(int fd)
    {
        if (!reading_)
            return false;
        char buf[4096];
        for (;;) {
            ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n == 0)
                return true;
            if (n < 0)
                return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
            for (ssize_t i = 0; i < n; ++i)
                take(buf[i]);
        }
    }

    void take(char c)
    {
        if (c != '\n') {
            if (in_.size() < kMaxLine)
                in_ += c;
            else
                tooLong_ = true;
            return;
        }
        if (!in_.empty() && in_.back() == '\r')
            in_.pop_back();
        out_ += tooLong_ ? std::string("error line too long") : owner_.console_.execute(in_);
        out_ += '\n';
        in_.clear();
        tooLong_ = false;
    }

    // Sends what it can; false when the client is gone.
    bool flush(int fd)
    {
        while (!out_.empty()) {
            ssize_t n = ::send(fd, out_.data(), out_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            out_.erase(0, std::size_t(n));
        }
        return true;
    }

    BoardSocket& owner_;
    Event event_;
    std::string in_;
    std::string out_;
    bool tooLong_ = false;
    bool reading_ = true;
};

BoardSocket::BoardSocket(SimBoard& board) : console_(board) {}

BoardSocket::~BoardSocket() { close(); }

bool BoardSocket::listen() { return listen(board::path(kPath)); }

bool BoardSocket::listen(std::string const& path)
{
    close();
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
    listener_.Schedule(std::move(s), POLLIN);
    return true;
}

void BoardSocket::close()
{
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
    if (!(revents & POLLIN))
        return;
    for (;;) {
        int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (c < 0) {
            acceptPause_.Failed(errno);
            return;
        }
        acceptPause_.Accepted();
        clients_.push_back(std::make_unique<Client>(*this, Fd(c)));
    }
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
