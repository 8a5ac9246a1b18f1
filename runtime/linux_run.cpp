#include "runtime/linux_run.h"

#include "board/path.h"
#include "base/errno.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <string>

namespace Linux {

Run::Run(char const* name) : path_(std::string("/var/run/") + name + ".pid")
{
    std::string const file = board::path(path_);
    int const fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        Errno e;
        std::cerr << "cannot write pid file " << path_ << ": " << e << std::endl;
        return;
    }
    fd_ = Fd(fd);
    std::string const pid = std::to_string(::getpid());
    if (!writeAll(fd, pid.data(), pid.size()) || ::fsync(fd) != 0) {
        // A file without the pid in it would mislead whoever reads it.
        Errno e;
        std::cerr << "cannot write pid file " << path_ << ": " << e << std::endl;
        fd_.close();
        ::unlink(file.c_str());
    }
}

Run::~Run()
{
    if (!fd_.is_valid())
        return;
    fd_.close();
    ::unlink(board::path(path_).c_str());
}

}  // namespace Linux
