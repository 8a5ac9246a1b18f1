#include "runtime/find_proc.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// 1: the process has the name; 0: it has another; -1: its stat file gave no name.
int matches(char const* name, int pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char buf[256];
    ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0)
        return -1;
    std::string text(buf, static_cast<std::size_t>(n));
    std::size_t close = text.rfind(')');
    std::size_t open = text.find('(');
    if (close == std::string::npos || open == std::string::npos || open > close)
        return -1;
    return text.compare(open + 1, close - open - 1, name) == 0 ? 1 : 0;
}

int pidOf(char const* entry)
{
    char* end = nullptr;
    long v = std::strtol(entry, &end, 10);
    return (end && *end == '\0' && v > 0 && v <= 0x7fffffff) ? int(v) : 0;
}

}  // namespace

int find_proc_by_name(char const* name, int pid)
{
    if (!name)
        return -1;
    if (pid > 0 && matches(name, pid) == 1)
        return pid;
    DIR* dir = ::opendir("/proc");
    if (!dir)
        return -1;
    int found = -1;
    while (dirent* e = ::readdir(dir)) {
        int candidate = pidOf(e->d_name);
        if (candidate > 0 && candidate != pid && matches(name, candidate) == 1) {
            found = candidate;
            break;
        }
    }
    ::closedir(dir);
    return found;
}
