#include "runtime/daemon.h"

#include "base/errno.h"
#include "base/immortal.h"
#include "base/log_file_stream_buf.h"
#include "base/sys_log_manager.h"
#include "runtime/fork.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

namespace Daemon {

namespace {

// The stream buffers of syslog mode, never destroyed.
struct SyslogBuffers {
    ManagedSysLogStreamBuf out{LOG_DAEMON, LOG_NOTICE};
    ManagedSysLogStreamBuf err{LOG_DAEMON, LOG_ERR};
    ManagedSysLogStreamBuf log{LOG_DAEMON, LOG_DEBUG};
};

constexpr std::size_t kIdentMax = 79;

// What daemon(3) does, with the fork every fork of the daemon goes through: the parent ends,
// the child goes on in a new session, in "/" unless nochdir, with descriptors 0, 1 and 2 on
// the null device. False when the fork, the new session or the null device fails.
bool detach(bool nochdir)
{
    pid_t const pid = Process::Fork(Process::ForkFor::daemon);
    if (pid < 0)
        return false;
    if (pid > 0)
        ::_exit(0);
    if (::setsid() < 0)
        return false;
    if (!nochdir && ::chdir("/") != 0) {
        Errno const e;
        std::cerr << "daemon: cannot change to /, running on where it was: " << e << std::endl;
    }
    int const null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0)
        return false;
    for (int fd = 0; fd <= 2; ++fd)
        ::dup2(null, fd);
    if (null > 2)
        ::close(null);
    return true;
}

}  // namespace

Sentry::Sentry(Params const& params) : mode_(params.mode)
{
    std::cout.flush();
    std::cerr.flush();
    std::clog.flush();
    if (!detach(params.nochdir)) {
        std::cerr << "daemon() fail!" << std::endl;
        std::exit(2);
    }
    if (mode_ == 0) {
        std::string const ident = params.name.substr(0, kIdentMax);
        syslogManager.openlog(ident.c_str(), LOG_NDELAY, 0);
        static Immortal<SyslogBuffers> buffers;
        std::cout.rdbuf(&buffers.value.out);
        std::cerr.rdbuf(&buffers.value.err);
        std::clog.rdbuf(&buffers.value.log);
        std::cin.tie(&std::cout);
        // Descriptor 0 would be a socket like any other.
        int const fd = syslogManager.fd();
        if (fd >= 0) {
            ::dup2(fd, STDOUT_FILENO);
            ::dup2(fd, STDERR_FILENO);
        }
    } else if (mode_ == 1) {
        logFile_ = std::make_unique<LogFileStreamBuf>(params.name);
        std::cout.rdbuf(logFile_.get());
        std::cerr.rdbuf(logFile_.get());
        std::clog.rdbuf(logFile_.get());
    }
}

Sentry::~Sentry()
{
    if (mode_ != 1)
        return;
    std::cout.rdbuf(nullptr);
    std::cerr.rdbuf(nullptr);
    std::clog.rdbuf(nullptr);
    logFile_.reset();
}

void Init(Params const& params) { static Sentry sentry(params); }

}  // namespace Daemon
