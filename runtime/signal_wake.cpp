#include "runtime/signal_wake.h"

#include "base/errno.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

volatile std::sig_atomic_t SignalWake::writeFd_ = -1;

SignalWake::SignalWake()
{
    int p[2];
    if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) {
        Errno e;
        std::cerr << "SignalWake: cannot open the wake-up pipe: " << e << std::endl;
        return;
    }
    write_ = Fd(p[1]);
    event_.Bind("SignalWake::OnWake", &SignalWake::OnWake, this);
    event_.Schedule(Fd(p[0]), POLLIN);
    writeFd_ = p[1];
}

SignalWake::~SignalWake()
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
    ssize_t ignored = ::write(fd, &byte, 1);
    (void)ignored;
    errno = saved;
}

void SignalWake::OnWake(int fd, short revents)
{
    if (!(revents & POLLIN))
        return;
    char buf[64];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
}
