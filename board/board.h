#pragma once

#include <sys/types.h>

#include <cstddef>

struct ifreq;

// Access to the board's device nodes and network interfaces.
//
// Every device node is opened and driven through the installed Board, so the rest of the
// daemon is the same on the real board and on the simulated one. Reads, writes, polls, dups
// and closes of the descriptors it returns are ordinary system calls; the reads of a polled
// device go through read() so that a board can make them fail.
namespace board {

class Board {
public:
    virtual ~Board() = default;

    // Opens the device node at the board path (such as "/dev/hal") with open(2) flags.
    // Returns the descriptor, or -1 with errno set.
    virtual int open(char const* path, int flags) = 0;

    // A driver request on a descriptor returned by open. The argument reaches the driver as
    // given: a pointer to the request's record, or the value itself for requests that take
    // one (see byValue). Returns the driver's result, or -1 with errno set.
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;

    // A SIOC* request on a network interface, named in ifr (such as "hdlc0"), made on an IPv4
    // datagram socket. Returns the result, or -1 with errno set.
    virtual int ifaceIoctl(unsigned long request, ifreq* ifr) = 0;

    // One of the short blocking waits the hardware needs, in microseconds.
    virtual void pause(unsigned int us) = 0;

    // A read of a descriptor (of a device or of anything else): read(2)'s result, errno set
    // when it is -1.
    virtual ssize_t read(int fd, void* buf, std::size_t size);

    // A descriptor is about to be closed (Fd tells the installed board of each close), so
    // that a board keeping descriptor numbers forgets this one. Nothing for the real board.
    virtual void closing(int fd) { static_cast<void>(fd); }
};

// The system's own devices; paths go through board::path.
class RealBoard : public Board {
public:
    int open(char const* path, int flags) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    int ifaceIoctl(unsigned long request, ifreq* ifr) override;
    void pause(unsigned int us) override;
};

// The installed board: the real one unless another was installed.
Board& board();

// Makes b the board that board() returns (null: the real board again) and returns the one
// installed before. Install before the first singleton that opens a device is built; b
// must outlive every descriptor opened through it.
Board* install(Board* b);

// Installs a board while it lives and puts the former one back afterwards.
class ScopedBoard {
public:
    explicit ScopedBoard(Board& b) : previous_(install(&b)) {}
    ~ScopedBoard() { install(previous_); }
    ScopedBoard(ScopedBoard const&) = delete;
    ScopedBoard& operator=(ScopedBoard const&) = delete;

private:
    Board* previous_;
};

// The ioctl argument of a request that takes a value instead of a pointer to a record.
inline void* byValue(unsigned long value) { return reinterpret_cast<void*>(value); }

}  // namespace board
