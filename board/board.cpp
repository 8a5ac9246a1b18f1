#include "board/board.h"

#include "board/path.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace board {
namespace {

Board*& installed()
{
    static Board* b = nullptr;
    return b;
}

}  // namespace

ssize_t Board::read(int fd, void* buf, std::size_t size) { return ::read(fd, buf, size); }

int RealBoard::open(char const* path, int flags) { return ::open(board::path(path).c_str(), flags); }

int RealBoard::ioctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }

int RealBoard::ifaceIoctl(unsigned long request, ifreq* ifr)
{
    int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    int r = ::ioctl(s, request, ifr);
    int saved = errno;
    ::close(s);
    errno = saved;
    return r;
}

void RealBoard::pause(unsigned int us)
{
    timespec left{time_t(us / 1000000), long(us % 1000000) * 1000};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

Board& board()
{
    if (Board* b = installed())
        return *b;
    // Never destroyed: descriptors closed while the process exits still ask for it.
    static RealBoard& real = *new RealBoard;
    return real;
}

Board* install(Board* b)
{
    Board* previous = installed();
    installed() = b;
    return previous;
}

}  // namespace board
