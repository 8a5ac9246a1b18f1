#include "board/sim/read_failures.h"

#include "board/sim/device.h"
#include "board/sim/journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>
#include <utility>

namespace board::sim {
namespace {

// The process's descriptors, each with what it is.
std::vector<std::pair<int, struct stat>> descriptors()
{
    std::vector<std::pair<int, struct stat>> out;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr)
        return out;
    int const own = ::dirfd(dir);
    while (dirent const* e = ::readdir(dir)) {
        char* end = nullptr;
        long const fd = std::strtol(e->d_name, &end, 10);
        struct stat st;
        if (*end == '\0' && end != e->d_name && fd != own && ::fstat(int(fd), &st) == 0)
            out.emplace_back(int(fd), st);
    }
    ::closedir(dir);
    return out;
}

}  // namespace

std::optional<ReadFault> parseReadFault(std::string const& text)
{
    if (text == "eof")
        return ReadFault{ReadFault::Kind::eof, 0};
    if (text == "hangup")
        return ReadFault{ReadFault::Kind::hangup, 0};
    if (text == "err")
        return ReadFault{ReadFault::Kind::err, 0};
    if (int const e = parseErrno(text))
        return ReadFault{ReadFault::Kind::error, e};
    return std::nullopt;
}

void ReadFailures::arm(std::string const& path, ReadFault fault, int times, std::vector<OpenFile*> const& held)
{
    armed_.push_back({path, fault, times});
    bool const error = fault.kind == ReadFault::Kind::error;
    for (OpenFile* file : held) {
        // An open whose descriptors were replaced reads nothing of its socket any more.
        auto const it = opens_.find(file);
        if (it != opens_.end() && it->second.replaced)
            continue;
        if (error) {
            char const none = 0;
            if (file->send(&none, 0))
                ++opens_[file].wakeups;
            continue;
        }
        std::optional<ReadFault> const f = take(path, false);
        if (!f)
            break;
        strike(*file, f->kind);
    }
}

void ReadFailures::opened(OpenFile& file)
{
    if (armed_.empty())
        return;
    if (std::optional<ReadFault> const f = take(file.device().path(), false))
        strike(file, f->kind);
}

std::optional<ReadFault> ReadFailures::take(std::string const& path, bool error)
{
    for (auto it = armed_.begin(); it != armed_.end(); ++it) {
        if (it->path != path || (it->fault.kind == ReadFault::Kind::error) != error)
            continue;
        ReadFault const f = it->fault;
        if (it->times > 0 && --it->times == 0)
            armed_.erase(it);
        return f;
    }
    return std::nullopt;
}

void ReadFailures::strike(OpenFile& file, ReadFault::Kind kind)
{
    if (kind == ReadFault::Kind::eof) {
        ::shutdown(file.modelFd(), SHUT_WR);
        return;
    }
    replace(file, opens_[&file], kind);
}

void ReadFailures::replace(OpenFile& file, Struck& s, ReadFault::Kind kind)
{
    std::vector<int> numbers;
    for (auto const& [fd, st] : descriptors())
        if (S_ISSOCK(st.st_mode) && st.st_ino == file.inode())
            numbers.push_back(fd);
    int p[2];
    if (numbers.empty() || ::pipe2(p, O_CLOEXEC) != 0)
        return;
    bool const hangup = kind == ReadFault::Kind::hangup;
    int const pipeEnd = hangup ? p[0] : p[1];
    ::close(hangup ? p[1] : p[0]);
    struct stat st;
    ::fstat(pipeEnd, &st);
    if (::fcntl(numbers.front(), F_GETFL) & O_NONBLOCK)
        ::fcntl(pipeEnd, F_SETFL, O_NONBLOCK);
    s.held = Fd(::fcntl(numbers.front(), F_DUPFD_CLOEXEC, 0));
    for (int fd : numbers) {
        bool const cloexec = (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
        ::dup3(pipeEnd, fd, cloexec ? O_CLOEXEC : 0);
    }
    ::close(pipeEnd);
    s.replaced = true;
    s.err = !hangup;
    s.dev = st.st_dev;
    s.inode = st.st_ino;
    s.first = numbers.front();
}

ssize_t ReadFailures::read(OpenFile* file, int fd, void* buf, std::size_t size)
{
    auto const it = file ? opens_.find(file) : opens_.end();
    if (it != opens_.end() && it->second.err) {
        errno = EIO;
        return -1;
    }
    ssize_t const n = ::read(fd, buf, size);
    bool const wakeup = n == 0 && it != opens_.end() && it->second.wakeups > 0;
    if (wakeup && --it->second.wakeups == 0 && !it->second.replaced)
        opens_.erase(it);
    if (file == nullptr || n < 0 || (n == 0 && !wakeup))
        return n;
    // A record was taken.
    if (std::optional<ReadFault> const f = take(file->device().path(), true)) {
        errno = f->error;
        return -1;
    }
    if (wakeup) {
        errno = EAGAIN;
        return -1;
    }
    return n;
}

void ReadFailures::kept(std::vector<int>& out) const
{
    for (auto const& [file, s] : opens_)
        if (s.held)
            out.push_back(s.held.lowlevel_fd());
}

OpenFile* ReadFailures::replaced(dev_t dev, ino_t inode) const
{
    for (auto const& [file, s] : opens_)
        if (s.replaced && s.dev == dev && s.inode == inode)
            return const_cast<OpenFile*>(file);
    return nullptr;
}

std::vector<ino_t> ReadFailures::abandoned() const
{
    std::vector<ino_t> out;
    std::set<std::pair<dev_t, ino_t>> held;
    bool scanned = false;
    for (auto const& [file, s] : opens_) {
        if (!s.replaced)
            continue;
        // Held as long as the first descriptor replaced still is the pipe, as it mostly is;
        // otherwise the daemon may hold it on any other number.
        struct stat first;
        if (::fstat(s.first, &first) == 0 && first.st_dev == s.dev && first.st_ino == s.inode)
            continue;
        if (!scanned) {
            for (auto const& [fd, st] : descriptors())
                held.emplace(st.st_dev, st.st_ino);
            scanned = true;
        }
        if (!held.count({s.dev, s.inode}))
            out.push_back(file->inode());
    }
    return out;
}

}  // namespace board::sim
