#include "runtime/signal_wake.h"

#include "base/errno.h"
#include "runtime/read_end.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

volatile std::sig_atomic_t SignalWake::writeFd_ = -1;

SignalWake::SignalWake() { open(); }

SignalWake::~SignalWake() { close(); }

void SignalWake::open()
{
    int p[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, p) != 0) {
        Errno e;
        std::cerr << "SignalWake: cannot open the wake-up socket pair: " << e << std::endl;
        return;
    }
    write_ = Fd(p[1]);
    event_.Bind("SignalWake::OnWake", &SignalWake::OnWake, this);
    event_.Schedule(Fd(p[0]), POLLIN);
    writeFd_ = p[1];
}

void SignalWake::close()
{
    // Handlers stop writing before the descriptor goes.
    writeFd_ = -1;
    event_.Release();
    write_.close();
}

void SignalWake::wake()
{
    int const fd = writeFd_;
    if (fd < 0)
        return;
    int const saved = errno;
    char const byte = 0;
    ssize_t ignored = ::send(fd, &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    (void)ignored;
    errno = saved;
}

void SignalWake::OnWake(int fd, short revents)
{
    ReadEnd::Kind k = ReadEnd::ofPoll(revents);
    // Until a read says more, the readiness tells why it ended.
    ssize_t n = -1;
    int error = EAGAIN;
    char buf[64];
    while (k == ReadEnd::data) {
        n = ::read(fd, buf, sizeof buf);
        error = errno;
        k = ReadEnd::ofRead(n, error, revents);
    }
    if (k != ReadEnd::end)
        return;
    std::cerr << event_.event_name() << ": wake-up socket ended: " << ReadEnd::whyRead(n, error, revents, fd)
              << "; opening a new one" << std::endl;
    close();
    open();
}
