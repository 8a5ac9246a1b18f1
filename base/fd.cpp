#include "base/fd.h"

#include "board/board.h"

#include <fcntl.h>

#include <cerrno>

Fd::Fd(int fd) : fd_(fd)
{
    if (fd_ >= 0)
        SetCloexec(fd_, true);
}

Fd::Fd(Fd const& other) : fd_(other.dup()) {}

Fd::~Fd()
{
    if (fd_ < 0)
        return;
    int const saved = errno;
    close();
    errno = saved;
}

Fd& Fd::operator=(Fd const& other)
{
    if (this != &other) {
        close();
        fd_ = other.dup();
    }
    return *this;
}

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

int Fd::dup() const
{
    if (fd_ < 0)
        return -1;
    int d = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    return d < 0 ? -1 : d;
}

bool Fd::open(char const* path, int flags)
{
    close();
    fd_ = ::open(path, flags | O_CLOEXEC);
    if (fd_ < 0)
        fd_ = -1;
    return fd_ >= 0;
}

int Fd::close()
{
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    board::board().closing(fd_);
    int r = ::close(fd_);
    fd_ = -1;
    return r;
}

bool Fd::NonBlock() { return fd_ >= 0 && NonBlockMode(fd_); }

bool NonBlockMode(int fd)
{
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    return ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool BlockMode(int fd)
{
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    return ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

bool SetCloexec(int fd, bool on)
{
    int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0)
        return false;
    flags = on ? (flags | FD_CLOEXEC) : (flags & ~FD_CLOEXEC);
    return ::fcntl(fd, F_SETFD, flags) == 0;
}

bool writeAll(int fd, void const* data, std::size_t n)
{
    char const* p = static_cast<char const*>(data);
    while (n > 0) {
        ssize_t const w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0)
            return false;
        if (w == 0) {
            errno = ENOSPC;
            return false;
        }
        p += w;
        n -= std::size_t(w);
    }
    return true;
}
